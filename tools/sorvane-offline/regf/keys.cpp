// Reading the key tree: key nodes, subkey lists and values, with explicit
// stacks (a hostile hive may nest deeply) and every cell looked up
// through the image's bounds-checked lookup.
#include "tools/sorvane-offline/regf/keys.h"

#include <cstring>

namespace regf {
namespace {

Name DecodeName(const uint8_t* p, size_t length, bool compressed) {
  Name name;
  if (compressed) {
    name.assign(p, p + length);
  } else {
    for (size_t i = 0; i + 1 < length; i += 2) name.push_back(char16_t(Get16(p + i)));
  }
  return name;
}

struct Reader {
  const Image& image;
  Tree& tree;
  std::string& why;

  bool Fail(const std::string& reason, uint32_t cell) {
    why = reason + " (cell at offset " + std::to_string(cell) + ")";
    return false;
  }

  // The key node cells a subkey list names, through an index root.
  bool SubkeyCells(uint32_t list, std::vector<uint32_t>* cells) {
    std::vector<std::pair<uint32_t, bool>> pending{{list, true}};
    while (!pending.empty()) {
      auto [off, rootAllowed] = pending.back();
      pending.pop_back();
      size_t length;
      const uint8_t* p = image.CellData(off, &length);
      if (!p || length < 4) return Fail("bad subkey list", off);
      if (tree.refs[off]++ > 0) return Fail("subkey list used twice", off);
      uint32_t count = Get16(p + 2);
      bool root = std::memcmp(p, "ri", 2) == 0;
      size_t step = std::memcmp(p, "lf", 2) == 0 || std::memcmp(p, "lh", 2) == 0 ? 8 : 4;
      if ((!root && std::memcmp(p, "li", 2) != 0 && step != 8) || (root && !rootAllowed)) {
        return Fail("bad subkey list", off);
      }
      if (!Inside(length, 4, uint64_t(count) * step)) return Fail("subkey list longer than its cell", off);
      // Kept in order: leaves of an index root are pushed last first.
      if (root) {
        for (uint32_t i = count; i-- > 0;) pending.push_back({Get32(p + 4 + 4 * i), false});
      } else {
        for (uint32_t i = 0; i < count; ++i) cells->push_back(Get32(p + 4 + step * i));
      }
    }
    return true;
  }

  bool ReadData(const uint8_t* vk, Value* v) {
    uint32_t size = Get32(vk + 4), off = Get32(vk + 8);
    if (size & 0x80000000u) {
      size &= 0x7FFFFFFFu;
      if (size > 4) return false;
      v->data.assign(reinterpret_cast<const char*>(vk + 8), size);
      return true;
    }
    if (size == 0) return true;
    size_t length;
    const uint8_t* p = image.CellData(off, &length);
    if (!p) return false;
    v->dataCells.push_back(off);
    if (tree.refs[off]++ > 0) return false;
    if (size > BigDataSegment && image.MinorVersion() >= 4 && length >= 8 && std::memcmp(p, "db", 2) == 0) {
      uint32_t segments = Get16(p + 2), list = Get32(p + 4);
      size_t listLength;
      const uint8_t* l = image.CellData(list, &listLength);
      if (!l) return false;
      v->dataCells.push_back(list);
      if (tree.refs[list]++ > 0 || !Inside(listLength, 0, uint64_t(segments) * 4)) return false;
      std::string data;
      for (uint32_t i = 0; i < segments && data.size() < size; ++i) {
        uint32_t seg = Get32(l + 4 * i);
        size_t segLength;
        const uint8_t* s = image.CellData(seg, &segLength);
        size_t take = std::min<size_t>(BigDataSegment, size - data.size());
        if (!s) return false;
        v->dataCells.push_back(seg);
        if (tree.refs[seg]++ > 0 || segLength < take) return false;
        data.append(reinterpret_cast<const char*>(s), take);
      }
      if (data.size() != size) return false;
      v->data = std::move(data);
      return true;
    }
    if (length < size) return false;  // a data length beyond its cell
    v->data.assign(reinterpret_cast<const char*>(p), size);
    return true;
  }

  void ReadValues(const uint8_t* nk, Key* key) {
    uint32_t count = Get32(nk + KeyValueCount), list = Get32(nk + KeyValueList);
    if (count == 0) return;
    size_t length;
    const uint8_t* l = image.CellData(list, &length);
    if (!l || tree.refs[list]++ > 0 || !Inside(length, 0, uint64_t(count) * 4)) {
      key->valuesReadable = false;
      return;
    }
    for (uint32_t i = 0; i < count; ++i) {
      Value v;
      v.cell = Get32(l + 4 * i);
      size_t vkLength;
      const uint8_t* vk = image.CellData(v.cell, &vkLength);
      v.counted = vk && vkLength >= 20 && std::memcmp(vk, "vk", 2) == 0 && Get16(vk + 2) <= vkLength - 20;
      if (v.counted && tree.refs[v.cell]++ == 0) {
        v.name = DecodeName(vk + 20, Get16(vk + 2), Get16(vk + 16) & ValueCompName);
        v.type = Get32(vk + 12);
        v.readable = ReadData(vk, &v);
      }
      if (!v.readable) v.data.clear();
      key->values.push_back(std::move(v));
    }
  }

  bool ReadKey(uint32_t cell, size_t parent, size_t depth) {
    if (depth > MaxDepth) return Fail("keys nested deeper than " + std::to_string(MaxDepth), cell);
    size_t length;
    const uint8_t* nk = image.CellData(cell, &length);
    if (!nk || length < KeyName || std::memcmp(nk, "nk", 2) != 0 || Get16(nk + KeyNameLength) > length - KeyName) {
      return Fail("bad key node", cell);
    }
    if (tree.refs[cell]++ > 0) return Fail("a key node reached twice (a cycle in the subkey lists)", cell);
    Key key;
    key.cell = cell;
    key.parent = parent;
    key.depth = depth;
    key.name = DecodeName(nk + KeyName, Get16(nk + KeyNameLength), Get16(nk + KeyFlags) & KeyCompName);
    uint32_t cls = Get32(nk + KeyClass);
    if (cls != NoCell && Get16(nk + KeyClassLength) > 0) tree.refs[cls]++;
    ReadValues(nk, &key);
    tree.keys.push_back(std::move(key));
    return true;
  }

  bool Read() {
    if (!ReadKey(image.Root(), 0, 0)) return false;
    for (size_t k = 0; k < tree.keys.size(); ++k) {
      size_t length;
      const uint8_t* nk = image.CellData(tree.keys[k].cell, &length);
      uint32_t count = Get32(nk + KeySubkeyCount), list = Get32(nk + KeySubkeyList);
      if (count == 0) continue;
      std::vector<uint32_t> cells;
      if (!SubkeyCells(list, &cells)) return false;
      if (cells.size() != count) return Fail("a subkey count that differs from its list", tree.keys[k].cell);
      for (uint32_t c : cells) {
        if (!ReadKey(c, k, tree.keys[k].depth + 1)) return false;
        tree.keys[k].subkeys.push_back(tree.keys.size() - 1);
      }
    }
    return true;
  }
};

}  // namespace

char16_t UpcaseUnit(char16_t c) {
  if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) ||
      (c >= 0x430 && c <= 0x44F)) {
    return char16_t(c - 0x20);
  }
  if (c >= 0x450 && c <= 0x45F) return char16_t(c - 0x50);
  return c;
}

int CompareKeyNames(const Name& a, const Name& b) {
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
    char16_t x = UpcaseUnit(a[i]), y = UpcaseUnit(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

bool ReadTree(const Image& image, Tree* tree, std::string* why) {
  tree->keys.clear();
  tree->refs.clear();
  Reader reader{image, *tree, *why};
  return reader.Read();
}

}  // namespace regf
