// Internals of the emulated registry shared by its source files: the key
// tree with its values, root lookup and key paths for faults and files.
//
// Names are stored as UTF-16 units exactly as they were given, and the data
// of the string types (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) as UTF-16LE
// bytes, as the NT family keeps them. The "A" calls see both through the
// ANSI code page (emu/text_codec.h); functions here that take std::string
// names take them in ANSI, as those calls do.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/emu/registry_control.h"

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

// The five roots in display order (HKCR, HKCU, HKLM, HKU, HKCC).
std::vector<Root>& Roots();
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
// Marks a key and its whole subtree deleted and cuts their parent links, so
// that a handle still holding one of them never walks up into freed keys.
void Detach(Key* top);
// Detaches a key from its parent and marks its whole subtree deleted.
void Remove(Key* key);

Value* FindValue(Key* key, const Name& name);
Value* FindValue(Key* key, const std::string& ansiName);
// Sets a value from its stored form, keeping its place in the order when
// it exists.
void SetStoredValue(Key* key, const Name& name, DWORD type, const std::string& stored,
                    bool provided = false);
// Sets a value from the ANSI form of its name and data, as RegSetValueExA.
void SetValue(Key* key, const std::string& ansiName, DWORD type, const std::string& ansiData,
              bool provided = false);
bool RemoveValue(Key* key, const Name& name);
// The stored form of data given in ANSI (string types widened).
std::string StoredFromAnsi(DWORD type, const std::string& ansiData);

// "HKLM\\Software\\Foo" for a key (the root's short or full name), in ANSI.
std::string PathOf(const Key* key, bool fullRootName = false);
// The same with the names as stored.
Name StoredPathOf(const Key* key, bool fullRootName = false);
// The access that applies to a key: its own setting or its nearest ancestor's.
KeyAccess AccessOf(const Key* key);
void SetAccess(const std::string& keyPath, KeyAccess access);

// Provided content of a fresh machine (perflib counter names and the like)
// registers here; run after every reset of the tree.
struct ProvidedContent {
  explicit ProvidedContent(void (*install)());
};

int CompareNames(const Name& a, const Name& b);

}  // namespace reg
}  // namespace emu
