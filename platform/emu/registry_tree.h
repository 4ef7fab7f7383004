// Internals of the emulated registry shared by its source files: the key
// tree with its values, root lookup and key paths for faults and files.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/emu/registry_control.h"

namespace emu {
namespace reg {

struct Value {
  std::string name;
  DWORD type = REG_NONE;
  std::string data;        // bytes as the ANSI calls see them
  bool provided = false;   // supplied by the machine itself, not saved
};

struct Key {
  std::string name;
  Key* parent = nullptr;
  std::vector<Value> values;                 // enumeration (creation) order
  std::vector<std::shared_ptr<Key>> subkeys; // sorted ignoring case
  bool listed = false;    // named by a file, the code or the control API
  bool deleted = false;   // removed while a handle may still hold it
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

// The key at `subPath` below `base` (components split at backslashes,
// ignoring case), or null.
Key* Find(Key* base, const std::string& subPath);
// Finds or creates the key; created ancestors are not listed, the key itself
// is listed when `listed` is set.
Key* Create(Key* base, const std::string& subPath, bool listed);
// Detaches a key from its parent and marks its whole subtree deleted.
void Remove(Key* key);

Value* FindValue(Key* key, const std::string& name);
// Sets a value, keeping its place in the order when it exists.
void SetValue(Key* key, const std::string& name, DWORD type, const std::string& data,
              bool provided = false);
bool RemoveValue(Key* key, const std::string& name);

// "HKLM\\Software\\Foo" for a key (the root's short or full name).
std::string PathOf(const Key* key, bool fullRootName = false);
// The access that applies to a key: its own setting or its nearest ancestor's.
KeyAccess AccessOf(const Key* key);
void SetAccess(const std::string& keyPath, KeyAccess access);

// Provided content of a fresh machine (perflib counter names and the like)
// registers here; run after every reset of the tree.
struct ProvidedContent {
  explicit ProvidedContent(void (*install)());
};

int CompareNames(const std::string& a, const std::string& b);

}  // namespace reg
}  // namespace emu
