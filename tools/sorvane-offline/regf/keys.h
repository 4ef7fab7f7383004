// The key tree of a hive as read from its cells: every key node reached
// from the root through the subkey lists (lf, lh, li and ri), each key's
// values with their raw names and data. Names are kept as the hive holds
// them (UTF-16 units, a compressed name widened byte by byte), so a name
// with a backslash or an unpaired surrogate survives.
//
// Reading is bounded by the file: a key node reached twice (a cycle, or a
// key under two parents) or a tree deeper than Windows allows makes the
// hive bad. A value that cannot be read (bad cell, data length beyond its
// cell, a cell already used by another value) is listed as unreadable and
// left as it is: it is never loaded, and never dropped on write-back.
#pragma once

#include <map>
#include <string>

#include "tools/sorvane-offline/regf/cells.h"

namespace regf {

using Name = std::u16string;

constexpr size_t MaxDepth = 512;

enum : uint32_t { KeyCompName = 0x20, ValueCompName = 0x0001 };

struct Value {
  uint32_t cell = NoCell;  // the vk cell
  Name name;
  uint32_t type = 0;
  std::string data;
  bool readable = false;
  // The references this value holds in Tree::refs: on its vk cell (false
  // when the list names a cell that is no vk), and on each data cell its
  // read reached. Only these are given back when it goes.
  bool counted = false;
  std::vector<uint32_t> dataCells;
};

struct Key {
  uint32_t cell = NoCell;  // the nk cell
  Name name;
  size_t parent = 0;       // index in Tree::keys (the root is its own parent)
  size_t depth = 0;
  std::vector<Value> values;
  bool valuesReadable = true;  // false: the value list itself could not be read
  std::vector<size_t> subkeys;  // indexes, in list order
  bool removed = false;
};

struct Tree {
  std::vector<Key> keys;  // keys[0] is the root
  // How many references each cell met while reading has (nk, lists, vk,
  // data): a cell is freed on write-back only when nothing else names it.
  std::map<uint32_t, uint32_t> refs;
};

// Reads the whole tree; false with the reason when the hive is bad.
bool ReadTree(const Image& image, Tree* tree, std::string* why);

// Key node fields used by the reader and the editor.
enum KeyField : size_t {
  KeyFlags = 2,
  KeyParent = 16,
  KeySubkeyCount = 20,
  KeySubkeyList = 28,
  KeyValueCount = 36,
  KeyValueList = 40,
  KeySecurity = 44,
  KeyClass = 48,
  KeyMaxNameLength = 52,
  KeyMaxValueNameLength = 60,
  KeyMaxValueDataLength = 64,
  KeyNameLength = 72,
  KeyClassLength = 74,
  KeyName = 76,
};

// Names compare as Windows compares them: UTF-16 units, upper-cased.
char16_t UpcaseUnit(char16_t c);
int CompareKeyNames(const Name& a, const Name& b);

// The largest value data held in one cell; larger data goes into big-data
// segments (hives of format 1.4 and later).
constexpr size_t BigDataSegment = 16344;

}  // namespace regf
