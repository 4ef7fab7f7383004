// Internals of the emulated registry shared by its source files: the roots
// in order, deletion, key paths for faults and files, access limits; the
// key tree itself is in registry_mirror.h.
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
#include "platform/emu/registry_mirror.h"

namespace emu {
namespace reg {

// The five roots in display order (HKCR, HKCU, HKLM, HKU, HKCC).
std::vector<Root>& Roots();
// Marks a key and its whole subtree deleted and cuts their parent links, so
// that a handle still holding one of them never walks up into freed keys.
void Detach(Key* top);
// Detaches a key from its parent and marks its whole subtree deleted.
void Remove(Key* key);

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

}  // namespace reg
}  // namespace emu
