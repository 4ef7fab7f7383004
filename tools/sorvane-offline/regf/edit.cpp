// Removing and setting values, removing and adding keys, at the cell level.
// Cell pointers are fetched again after every allocation: a new bin may
// move the image in memory.
#include "tools/sorvane-offline/regf/edit.h"

#include <algorithm>
#include <cstring>

namespace regf {
namespace {

bool Compressible(const Name& name) {
  return std::all_of(name.begin(), name.end(), [](char16_t c) { return c != 0 && c <= 0xFF; });
}

void PutName(uint8_t* p, const Name& name, bool compressed) {
  for (size_t i = 0; i < name.size(); ++i) {
    if (compressed) {
      p[i] = uint8_t(name[i]);
    } else {
      Put16(p + 2 * i, name[i]);
    }
  }
}

uint32_t NameHash(const Name& name) {
  uint32_t h = 0;
  for (char16_t c : name) h = 37 * h + UpcaseUnit(c);
  return h;
}

void Raise(uint8_t* field, uint32_t value) {
  if (Get32(field) < value) Put32(field, value);
}

}  // namespace

uint8_t* Editor::Node(size_t key) {
  size_t length;
  return image_.MutableCell(tree_.keys[key].cell, &length);
}

// Frees a cell this hive's tree alone names; one that is named elsewhere
// too loses one reference.
void Editor::Release(uint32_t cell) {
  auto it = tree_.refs.find(cell);
  if (it == tree_.refs.end()) return;
  if (--it->second == 0) {
    image_.Free(cell);
    tree_.refs.erase(it);
  }
}

std::vector<uint32_t> Editor::DataCells(uint32_t vk) {
  size_t length;
  const uint8_t* v = image_.CellData(vk, &length);
  if (!v || length < 20) return {};
  uint32_t size = Get32(v + 4), off = Get32(v + 8);
  if (size == 0 || (size & 0x80000000u)) return {};
  std::vector<uint32_t> cells{off};
  const uint8_t* p = image_.CellData(off, &length);
  if (p && size > BigDataSegment && image_.MinorVersion() >= 4 && length >= 8 && std::memcmp(p, "db", 2) == 0) {
    uint32_t count = Get16(p + 2), list = Get32(p + 4);
    const uint8_t* l = image_.CellData(list, &length);
    if (l && Inside(length, 0, uint64_t(count) * 4)) {
      cells.push_back(list);
      for (uint32_t i = 0; i < count; ++i) cells.push_back(Get32(l + 4 * i));
    }
  }
  return cells;
}

// Gives back the references the value holds: its data cells when no other
// list names its vk cell, then the vk cell. A list entry that named no vk
// cell holds none (the cell may be another key's node).
void Editor::ReleaseValue(const Value& v) {
  if (!v.counted) return;
  if (tree_.refs.count(v.cell) && tree_.refs[v.cell] == 1) {
    for (uint32_t c : v.dataCells) Release(c);
  }
  Release(v.cell);
}

// A key's security cell is shared by reference count; the last user
// unlinks it from the list of security cells and frees it.
void Editor::ReleaseSecurity(uint32_t sk) {
  size_t length;
  uint8_t* s = image_.MutableCell(sk, &length);
  if (!s || length < 16 || std::memcmp(s, "sk", 2) != 0) return;
  uint32_t count = Get32(s + 12);
  if (count > 1) {
    Put32(s + 12, count - 1);
    return;
  }
  uint32_t flink = Get32(s + 4), blink = Get32(s + 8);
  if (flink != sk) {
    uint8_t* next = image_.MutableCell(flink, &length);
    uint8_t* prev = image_.MutableCell(blink, &length);
    if (!next || !prev) return;  // a broken list: the cell stays
    Put32(next + 8, blink);
    Put32(prev + 4, flink);
  }
  Put32(s + 12, 0);
  image_.Free(sk);
}

std::vector<uint32_t> Editor::SubkeyListCells(uint32_t list) {
  std::vector<uint32_t> cells{list};
  size_t length;
  const uint8_t* p = image_.CellData(list, &length);
  if (p && length >= 4 && std::memcmp(p, "ri", 2) == 0) {
    uint32_t count = Get16(p + 2);
    for (uint32_t i = 0; i < count && Inside(length, 4 + 4 * i, 4); ++i) cells.push_back(Get32(p + 4 + 4 * i));
  }
  return cells;
}

// Takes `child` out of the subkey list `list` (a leaf, or a leaf of an
// index root, which loses a leaf left empty).
bool Editor::Unlist(uint32_t list, uint32_t child) {
  size_t length;
  uint8_t* p = image_.MutableCell(list, &length);
  if (!p) return false;
  if (std::memcmp(p, "ri", 2) == 0) {
    uint32_t count = Get16(p + 2);
    for (uint32_t i = 0; i < count; ++i) {
      uint32_t leaf = Get32(p + 4 + 4 * i);
      if (!Unlist(leaf, child)) continue;
      size_t leafLength;
      if (Get16(image_.CellData(leaf, &leafLength) + 2) == 0) {
        std::memmove(p + 4 + 4 * i, p + 8 + 4 * i, 4 * (count - 1 - i));
        Put32(p + 4 + 4 * (count - 1), 0);
        Put16(p + 2, count - 1);
        Release(leaf);
      }
      return true;
    }
    return false;
  }
  size_t step = std::memcmp(p, "li", 2) == 0 ? 4 : 8;
  uint32_t count = Get16(p + 2);
  for (uint32_t i = 0; i < count; ++i) {
    if (Get32(p + 4 + step * i) != child) continue;
    std::memmove(p + 4 + step * i, p + 4 + step * (i + 1), step * (count - 1 - i));
    std::memset(p + 4 + step * (count - 1), 0, step);
    Put16(p + 2, count - 1);
    return true;
  }
  return false;
}

bool Editor::RemoveValue(size_t key, size_t value, std::string* why) {
  Key& k = tree_.keys[key];
  uint8_t* nk = Node(key);
  uint32_t count = Get32(nk + KeyValueCount), list = Get32(nk + KeyValueList);
  size_t length;
  uint8_t* l = image_.MutableCell(list, &length);
  if (!k.valuesReadable || !l || value >= count) {
    *why = "the value list cannot be read";
    return false;
  }
  if (tree_.refs[list] > 1) {
    *why = "the value list is shared with another key";
    return false;
  }
  std::memmove(l + 4 * value, l + 4 * (value + 1), 4 * (count - 1 - value));
  Put32(l + 4 * (count - 1), 0);
  Put32(nk + KeyValueCount, count - 1);
  if (count == 1) {
    Put32(nk + KeyValueList, NoCell);
    Release(list);
  }
  ReleaseValue(k.values[value]);
  k.values.erase(k.values.begin() + value);
  return true;
}

bool Editor::RemoveKey(size_t key, std::string* why) {
  if (key == 0) {
    *why = "the root key cannot be removed";
    return false;
  }
  size_t parent = tree_.keys[key].parent;
  uint8_t* pn = Node(parent);
  uint32_t list = Get32(pn + KeySubkeyList), count = Get32(pn + KeySubkeyCount);
  if (!Unlist(list, tree_.keys[key].cell)) {
    *why = "the key is not in its parent's subkey list";
    return false;
  }
  Put32(pn + KeySubkeyCount, count - 1);
  if (count == 1) {
    Put32(pn + KeySubkeyList, NoCell);
    for (uint32_t c : SubkeyListCells(list)) Release(c);
  }
  auto& siblings = tree_.keys[parent].subkeys;
  siblings.erase(std::find(siblings.begin(), siblings.end(), key));
  // The subtree's cells, keys below first reached through the tree read.
  std::vector<size_t> pending{key};
  while (!pending.empty()) {
    size_t at = pending.back();
    pending.pop_back();
    Key& k = tree_.keys[at];
    k.removed = true;
    for (size_t s : k.subkeys) pending.push_back(s);
    uint8_t* nk = Node(at);
    uint32_t subList = Get32(nk + KeySubkeyList), valueList = Get32(nk + KeyValueList);
    uint32_t cls = Get32(nk + KeyClass), sk = Get32(nk + KeySecurity);
    if (Get32(nk + KeySubkeyCount) > 0) {
      for (uint32_t c : SubkeyListCells(subList)) Release(c);
    }
    for (const Value& v : k.values) ReleaseValue(v);
    if (Get32(nk + KeyValueCount) > 0) Release(valueList);
    if (cls != NoCell && Get16(nk + KeyClassLength) > 0) Release(cls);  // counted only then
    ReleaseSecurity(sk);
    Release(k.cell);
  }
  return true;
}

// New cells holding `data`: in the value itself up to 4 bytes, one cell,
// or big-data segments.
bool Editor::StoreData(const std::string& data, uint32_t* size, uint32_t* off) {
  if (data.size() <= 4) {
    uint8_t inline_[4] = {0, 0, 0, 0};
    std::memcpy(inline_, data.data(), data.size());
    *size = 0x80000000u | uint32_t(data.size());
    *off = Get32(inline_);
    return true;
  }
  if (data.size() > 0x7FFFFFFFu) return false;
  *size = uint32_t(data.size());
  size_t length;
  if (data.size() <= BigDataSegment || image_.MinorVersion() < 4) {
    *off = image_.Allocate(data.size());
    if (*off == NoCell) return false;
    std::memcpy(image_.MutableCell(*off, &length), data.data(), data.size());
    tree_.refs[*off] = 1;
    return true;
  }
  size_t count = (data.size() + BigDataSegment - 1) / BigDataSegment;
  if (count > 0xFFFF) return false;
  std::vector<uint32_t> segments;
  for (size_t i = 0; i < count; ++i) {
    size_t take = std::min(BigDataSegment, data.size() - i * BigDataSegment);
    uint32_t seg = image_.Allocate(take);
    if (seg == NoCell) return false;
    std::memcpy(image_.MutableCell(seg, &length), data.data() + i * BigDataSegment, take);
    tree_.refs[seg] = 1;
    segments.push_back(seg);
  }
  uint32_t list = image_.Allocate(4 * count), db = list == NoCell ? NoCell : image_.Allocate(8);
  if (db == NoCell) return false;
  uint8_t* l = image_.MutableCell(list, &length);
  for (size_t i = 0; i < count; ++i) Put32(l + 4 * i, segments[i]);
  uint8_t* d = image_.MutableCell(db, &length);
  std::memcpy(d, "db", 2);
  Put16(d + 2, uint32_t(count));
  Put32(d + 4, list);
  tree_.refs[list] = tree_.refs[db] = 1;
  *off = db;
  return true;
}

bool Editor::SetValue(size_t key, size_t value, const Name& name, uint32_t type, const std::string& data,
                      std::string* why) {
  if (!tree_.keys[key].valuesReadable) {
    *why = "the value list cannot be read";
    return false;
  }
  uint32_t size, off;
  if (!StoreData(data, &size, &off)) {
    *why = "the hive has no room for the data";
    return false;
  }
  size_t length;
  if (value != npos) {
    Value& old = tree_.keys[key].values[value];
    uint32_t vk = old.cell;
    if (!old.counted || tree_.refs[vk] != 1) {
      *why = old.counted ? "the value is shared with another key" : "the value's cell is no value";
      return false;
    }
    uint8_t* v = image_.MutableCell(vk, &length);
    Put32(v + 4, size);
    Put32(v + 8, off);
    Put32(v + 12, type);
    for (uint32_t c : old.dataCells) Release(c);
    old.dataCells = DataCells(vk);
  } else {
    bool compressed = Compressible(name);
    size_t nameBytes = compressed ? name.size() : 2 * name.size();
    if (nameBytes > 0xFFFF) {
      *why = "the value name is too long";
      return false;
    }
    uint32_t vk = image_.Allocate(20 + nameBytes);
    uint32_t count = Get32(Node(key) + KeyValueCount);
    uint32_t list = vk == NoCell ? NoCell : image_.Allocate(4 * (size_t(count) + 1));
    if (list == NoCell) {
      *why = "the hive has no room for the value";
      return false;
    }
    uint8_t* v = image_.MutableCell(vk, &length);
    std::memcpy(v, "vk", 2);
    Put16(v + 2, uint32_t(nameBytes));
    Put32(v + 4, size);
    Put32(v + 8, off);
    Put32(v + 12, type);
    Put16(v + 16, compressed ? uint32_t(ValueCompName) : 0u);
    PutName(v + 20, name, compressed);
    uint8_t* nk = Node(key);
    uint32_t oldList = Get32(nk + KeyValueList);
    uint8_t* l = image_.MutableCell(list, &length);
    if (count > 0) {
      size_t oldLength;
      const uint8_t* o = image_.CellData(oldList, &oldLength);
      std::memcpy(l, o, 4 * size_t(count));
    }
    Put32(l + 4 * size_t(count), vk);
    Put32(nk + KeyValueCount, count + 1);
    Put32(nk + KeyValueList, list);
    if (count > 0) Release(oldList);
    tree_.refs[vk] = tree_.refs[list] = 1;
    Raise(nk + KeyMaxValueNameLength, uint32_t(2 * name.size()));
    Value added;
    added.cell = vk;
    added.name = name;
    added.counted = true;
    added.dataCells = DataCells(vk);
    tree_.keys[key].values.push_back(added);
    value = tree_.keys[key].values.size() - 1;
  }
  Raise(Node(key) + KeyMaxValueDataLength, uint32_t(data.size()));
  Value& v = tree_.keys[key].values[value];
  v.type = type;
  v.data = data;
  v.readable = true;
  return true;
}

bool Editor::AddKey(size_t parent, const Name& name, uint64_t filetime, size_t* added, std::string* why) {
  std::vector<size_t> siblings = tree_.keys[parent].subkeys;
  if (siblings.size() >= 0xFFFF || name.empty() || name.size() > 255) {
    *why = "the key cannot be added";
    return false;
  }
  bool compressed = Compressible(name);
  size_t nameBytes = compressed ? name.size() : 2 * name.size();
  uint32_t nkCell = image_.Allocate(KeyName + nameBytes);
  uint32_t oldList = Get32(Node(parent) + KeySubkeyList);
  size_t length;
  // The new leaf keeps the kind of the old one.
  char kind[2] = {'l', image_.MinorVersion() >= 5 ? 'h' : 'f'};
  if (!siblings.empty()) {
    const uint8_t* o = image_.CellData(oldList, &length);
    if (o && std::memcmp(o, "ri", 2) == 0) o = image_.CellData(Get32(o + 4), &length);
    if (o) std::memcpy(kind, o, 2);
  }
  size_t step = kind[1] == 'i' ? 4 : 8;
  uint32_t leaf = nkCell == NoCell ? NoCell : image_.Allocate(4 + step * (siblings.size() + 1));
  if (leaf == NoCell) {
    *why = "the hive has no room for the key";
    return false;
  }
  uint8_t* pn = Node(parent);
  uint8_t* nk = image_.MutableCell(nkCell, &length);
  std::memcpy(nk, "nk", 2);
  Put16(nk + KeyFlags, compressed ? uint32_t(KeyCompName) : 0u);
  Put64(nk + 4, filetime);
  Put32(nk + KeyParent, tree_.keys[parent].cell);
  Put32(nk + KeySubkeyList, NoCell);
  Put32(nk + KeySubkeyList + 4, NoCell);
  Put32(nk + KeyValueList, NoCell);
  Put32(nk + KeySecurity, Get32(pn + KeySecurity));
  Put32(nk + KeyClass, NoCell);
  Put16(nk + KeyNameLength, uint32_t(nameBytes));
  PutName(nk + KeyName, name, compressed);
  if (uint8_t* s = image_.MutableCell(Get32(pn + KeySecurity), &length); s && length >= 16 && !std::memcmp(s, "sk", 2)) {
    Put32(s + 12, Get32(s + 12) + 1);
  }
  Key k;
  k.cell = nkCell;
  k.name = name;
  k.parent = parent;
  k.depth = tree_.keys[parent].depth + 1;
  tree_.keys.push_back(k);
  *added = tree_.keys.size() - 1;
  tree_.refs[nkCell] = tree_.refs[leaf] = 1;
  // Subkey lists are sorted by upper-cased name.
  auto at = std::find_if(siblings.begin(), siblings.end(),
                         [&](size_t s) { return CompareKeyNames(tree_.keys[s].name, name) > 0; });
  siblings.insert(at, *added);
  uint8_t* l = image_.MutableCell(leaf, &length);
  std::memcpy(l, kind, 2);
  Put16(l + 2, uint32_t(siblings.size()));
  for (size_t i = 0; i < siblings.size(); ++i) {
    const Key& s = tree_.keys[siblings[i]];
    Put32(l + 4 + step * i, s.cell);
    if (kind[1] == 'h') Put32(l + 8 + step * i, NameHash(s.name));
    if (kind[1] == 'f') {
      for (size_t c = 0; c < 4 && c < s.name.size(); ++c) l[8 + step * i + c] = uint8_t(s.name[c]);
    }
  }
  Put32(pn + KeySubkeyList, leaf);
  Put32(pn + KeySubkeyCount, uint32_t(siblings.size()));
  Raise(pn + KeyMaxNameLength, uint32_t(2 * name.size()));
  if (siblings.size() > 1) {
    for (uint32_t c : SubkeyListCells(oldList)) Release(c);
  }
  tree_.keys[parent].subkeys = siblings;
  return true;
}

void Editor::Seal(uint32_t seq, uint64_t filetime) {
  uint8_t* b = image_.bytes().data();
  Put64(b + LastWritten, filetime);
  Put64(b + BaseBlockSize + 20, filetime);
  Put32(b + FileType, PrimaryFile);
  SealBase(b, seq);
}

}  // namespace regf
