// `tree ROOT OUT`: every entry under ROOT in the order the scan's walk
// meets it: in each directory every entry of "*.*" in listing order, then
// the subdirectories of "*" one after another (reparse points not entered).
// One record per entry: attributes in hex, size, full path. Also `short`,
// the short form of a path as the system gives it.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "commands.h"

namespace {

bool IsDot(const char* name) { return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0; }

void List(const std::string& folder, std::FILE* out) {
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA((folder + "*.*").c_str(), &data);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (IsDot(data.cFileName)) continue;
      std::fprintf(out, "%08lx\t%lu\t%s\n", data.dwFileAttributes, data.nFileSizeLow,
                   Escaped(folder + data.cFileName).c_str());
    } while (FindNextFileA(search, &data));
    FindClose(search);
  }
  search = FindFirstFileA((folder + "*").c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || IsDot(data.cFileName)) continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
    List(folder + data.cFileName + "\\", out);
  } while (FindNextFileA(search, &data));
  FindClose(search);
}

}  // namespace

int TreeCommand(const Args& args) {
  if (args.size() != 2) return 2;
  std::string root = args[0];
  if (root.empty() || root.back() != '\\') root += '\\';
  std::FILE* out = std::fopen(args[1].c_str(), "wb");
  if (!out) return 1;
  List(root, out);
  return std::fclose(out) == 0 ? 0 : 1;
}

int ShortCommand(const Args& args) {
  if (args.size() != 1) return 2;
  char shortPath[MAX_PATH];
  DWORD n = GetShortPathNameA(args[0].c_str(), shortPath, sizeof shortPath);
  if (n == 0 || n >= sizeof shortPath) return 1;
  std::printf("%s\n", shortPath);
  return 0;
}
