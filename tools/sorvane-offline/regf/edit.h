// Changes to a hive at the cell level: each touches only the cells it
// needs (the key's value list, its parent's subkey list, the cells it
// frees, and new cells in a bin appended at the end). Every other byte,
// values and names that could not be read included, stays as it was.
// A cell is freed only when nothing else read from the hive names it.
#pragma once

#include <string>

#include "tools/sorvane-offline/regf/keys.h"

namespace regf {

class Editor {
 public:
  Editor(Image& image, Tree& tree) : image_(image), tree_(tree) {}

  // Removes keys[key].values[value] from its key.
  bool RemoveValue(size_t key, size_t value, std::string* why);
  // Removes a key (not the root) and everything below it.
  bool RemoveKey(size_t key, std::string* why);
  // Gives keys[key].values[value] new data and type, or with value ==
  // npos adds a value named `name`.
  bool SetValue(size_t key, size_t value, const Name& name, uint32_t type, const std::string& data,
                std::string* why);
  // Adds an empty subkey (sharing its parent's security); *added is its
  // index in the tree.
  bool AddKey(size_t parent, const Name& name, uint64_t filetime, size_t* added, std::string* why);

  // Ends the changes: both sequence numbers `seq` (the hive is clean), the
  // time stamps `filetime`, the checksum.
  void Seal(uint32_t seq, uint64_t filetime);

  static constexpr size_t npos = size_t(-1);

 private:
  uint8_t* Node(size_t key);
  void Release(uint32_t cell);
  void ReleaseValue(const Value& v);
  void ReleaseSecurity(uint32_t sk);
  std::vector<uint32_t> SubkeyListCells(uint32_t list);
  bool Unlist(uint32_t list, uint32_t child);
  bool StoreData(const std::string& data, uint32_t* size, uint32_t* off);
  std::vector<uint32_t> DataCells(uint32_t vk);

  Image& image_;
  Tree& tree_;
};

}  // namespace regf
