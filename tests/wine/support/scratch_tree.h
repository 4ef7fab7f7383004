// Real directory trees on the Wine C: drive for the walk tests. Paths are
// plain ASCII Windows paths; creation and removal go through the wide calls
// with the "\\?\" prefix so that trees deeper than 260 characters work too.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Deletes `dir` and everything below it; true when it is gone.
bool RemoveTree(const std::string& dir);

// One entry of a directory listing, in the order the search returned it.
struct ListedEntry {
  std::string name;
  DWORD attributes;
};

// FindFirstFileA/FindNextFileA over `pattern`; empty when it cannot start.
std::vector<ListedEntry> ListPattern(const std::string& pattern);

// A scratch tree that exists for the life of the object: any leftover of
// an earlier run is removed first, and the tree is removed at the end.
class ScratchTree {
 public:
  explicit ScratchTree(std::string root);
  ~ScratchTree();
  ScratchTree(const ScratchTree&) = delete;
  ScratchTree& operator=(const ScratchTree&) = delete;

  const std::string& Root() const { return root_; }
  // Creates root\relative (and its parents); returns the full path.
  std::string Dir(const std::string& relative);
  // Creates the file root\relative holding `content`; returns the full path.
  std::string File(const std::string& relative, const std::string& content = "x");

 private:
  std::string root_;
};
