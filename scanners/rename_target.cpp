// Rename targets for detected files.
#include "scanners/rename_target.h"

#include <cstring>

#include "engine/text.h"

bool BuildRenameTarget(const char* path, char* target, size_t size) {
  if (!CopyText(target, size, path)) return false;
  char* dot = std::strrchr(target, '.');
  if (!dot || dot[1] == 'v' || dot[1] == 'V') return false;
  if (dot[1]) {
    dot[1] = 'V';
    return true;
  }
  return AppendText(target, size, "V");
}
