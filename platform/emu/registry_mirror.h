// The emulated registry's key tree as code outside the emulation may use
// it: the offline tool mirrors a volume's hives into it key by key, writes
// back what the scan changed and reads the removed values for its report.
// Names are UTF-16 units exactly as given; the data of the string types is
// kept as UTF-16LE bytes. The rest of the tree (deletion, paths for faults
// and files, access limits) stays inside the emulation (registry_tree.h).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/system.h"

namespace emu {
namespace reg {

using Name = std::u16string;

// Types whose data the ANSI calls convert.
bool IsStringType(DWORD type);

struct Value {
  Name name;
  DWORD type = REG_NONE;
  std::string stored;     // bytes as kept (string types in UTF-16LE)
  bool provided = false;  // supplied by the machine itself, not saved

  // The data as RegQueryValueExA returns it.
  std::string AnsiData() const;
};

struct Key {
  Name name;
  Key* parent = nullptr;
  std::vector<Value> values;                  // enumeration (creation) order
  std::vector<std::shared_ptr<Key>> subkeys;  // sorted ignoring case
  bool listed = false;                        // named by a file, the code or the control API
  bool deleted = false;                       // removed while a handle may still hold it
                                              // (then parent is null: its tree may be freed)
  bool spelled = true;                        // false while only the machine has named it

  Key() = default;
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  // Frees the subtree without recursion (keys may nest very deep).
  ~Key();
};

struct Root {
  HKEY handle;
  const char* shortName;  // "HKLM"
  const char* fullName;   // "HKEY_LOCAL_MACHINE"
  std::shared_ptr<Key> key;
};

Root* RootByHandle(HKEY handle);
// Root named at the start of a path ("HKLM" or "HKEY_LOCAL_MACHINE");
// *rest receives what follows the root and its backslash.
Root* RootByName(const std::string& path, std::string* rest);
Root* RootByName(const Name& path, Name* rest);

// The subkey of `key` with this name (ignoring case), or null.
Key* Child(Key* key, const Name& name);
// The key at `subPath` below `base` (components split at backslashes,
// ignoring case), or null.
Key* Find(Key* base, const Name& subPath);
Key* Find(Key* base, const std::string& ansiSubPath);
// Finds or creates the key; created ancestors are not listed, the key itself
// is listed when `listed` is set. A key the machine alone had named takes
// the spelling given here, unless `byMachine` is set.
Key* Create(Key* base, const Name& subPath, bool listed, bool byMachine = false);
Key* Create(Key* base, const std::string& ansiSubPath, bool listed, bool byMachine = false);
Value* FindValue(Key* key, const Name& name);
Value* FindValue(Key* key, const std::string& ansiName);
// Sets a value from its stored form, keeping its place in the order when
// it exists.
void SetStoredValue(Key* key, const Name& name, DWORD type, const std::string& stored,
                    bool provided = false);
// Compares key or value names as the registry does (ignoring case).
int CompareNames(const Name& a, const Name& b);

}  // namespace reg
}  // namespace emu
