// Hives built key by key through the hive layer's editor.
#include "tools/forge/forge_hive_builder.h"

namespace forge {

std::string Utf16z(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) {
    out += char(c & 0xFF);
    out += char(c >> 8);
  }
  return out + std::string(2, '\0');
}

HiveBuilder::HiveBuilder(const Bytes& hive) {
  std::string why;
  image.Open(hive, &why);
  regf::ReadTree(image, &tree, &why);
}

size_t HiveBuilder::Key(const std::u16string& path, bool raw) {
  size_t at = 0;
  for (size_t from = 0; from <= path.size();) {
    size_t end = raw ? path.size() : path.find(u'\\', from);
    if (end == std::u16string::npos) end = path.size();
    std::u16string part = path.substr(from, end - from);
    size_t found = regf::Editor::npos;
    for (size_t s : tree.keys[at].subkeys) {
      if (regf::CompareKeyNames(tree.keys[s].name, part) == 0) found = s;
    }
    std::string why;
    if (found == regf::Editor::npos) regf::Editor(image, tree).AddKey(at, part, 0x01D0000000000000ull, &found, &why);
    at = found;
    from = end + 1;
  }
  return at;
}

void HiveBuilder::Set(const std::u16string& path, const std::u16string& name, uint32_t type,
                      const std::string& data) {
  size_t k = Key(path);
  std::string why;
  size_t index = regf::Editor::npos;
  for (size_t i = 0; i < tree.keys[k].values.size(); ++i) {
    if (regf::CompareKeyNames(tree.keys[k].values[i].name, name) == 0) index = i;
  }
  regf::Editor(image, tree).SetValue(k, index, name, type, data, &why);
}

void HiveBuilder::RemoveValue(const std::u16string& path, const std::u16string& name) {
  size_t k = Key(path);
  std::string why;
  for (size_t i = 0; i < tree.keys[k].values.size(); ++i) {
    if (regf::CompareKeyNames(tree.keys[k].values[i].name, name) == 0) {
      regf::Editor(image, tree).RemoveValue(k, i, &why);
      return;
    }
  }
}

void HiveBuilder::RemoveKey(const std::u16string& path) {
  std::string why;
  regf::Editor(image, tree).RemoveKey(Key(path), &why);
}

Bytes HiveBuilder::Sealed(uint32_t seq, uint64_t filetime) {
  regf::Editor(image, tree).Seal(seq, filetime);
  return image.bytes();
}

}  // namespace forge
