// Hives built key by key through the hive layer, for the forge's dirty
// hives and for tests that need hives of a given shape (raw names,
// damaged cells patched in afterwards).
#pragma once

#include <string>

#include "tools/forge/forge.h"
#include "tools/sorvane-offline/regf/edit.h"

namespace forge {

class HiveBuilder {
 public:
  explicit HiveBuilder(const Bytes& hive);

  // The key at `path` (backslash-separated), created as needed; `raw`
  // takes the whole path as one name (which may hold a backslash).
  size_t Key(const std::u16string& path, bool raw = false);
  void Set(const std::u16string& path, const std::u16string& name, uint32_t type, const std::string& data);
  void RemoveValue(const std::u16string& path, const std::u16string& name);
  void RemoveKey(const std::u16string& path);
  // The hive sealed clean with sequence number `seq`.
  Bytes Sealed(uint32_t seq, uint64_t filetime = 0x01D0000000000000ull);

  regf::Image image;
  regf::Tree tree;
};

// UTF-16LE bytes of text with the terminator the registry stores.
std::string Utf16z(const std::u16string& text);

}  // namespace forge
