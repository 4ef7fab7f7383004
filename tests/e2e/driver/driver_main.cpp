// The end-to-end driver: a small Win32 console exe that the e2e scenarios
// and the demo run inside the Wine prefix. It drives the real sorvane.exe
// through window messages, starts the processes of a planted infection and
// lists a drive in the order the scan walks it.
#include <cstdio>
#include <cstring>

#include "commands.h"

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      default: out += c;
    }
  }
  return out;
}

int main(int argc, char** argv) {
  const char* usage =
      "usage: sorvane_e2e COMMAND ...\n"
      "  scan PROGRAM OUT [--restart yes|no] [--cancel-at TEXT] [--shot NAME] [--second ARGS]\n"
      "  quiet OUT PROGRAM [ARGS...] [--twice]\n"
      "  spawn [--guard] EXE [ARGS...]   (prints the process id)\n"
      "  alive PID\n"
      "  settle\n"
      "  short PATH\n"
      "  tree ROOT OUT\n";
  if (argc < 2) {
    std::fputs(usage, stderr);
    return 2;
  }
  Args args(argv + 2, argv + argc);
  if (std::strcmp(argv[1], "scan") == 0) return ScanCommand(args);
  if (std::strcmp(argv[1], "quiet") == 0) return QuietCommand(args);
  if (std::strcmp(argv[1], "spawn") == 0) return SpawnCommand(args);
  if (std::strcmp(argv[1], "alive") == 0) return AliveCommand(args);
  if (std::strcmp(argv[1], "settle") == 0) return SettleCommand(args);
  if (std::strcmp(argv[1], "short") == 0) return ShortCommand(args);
  if (std::strcmp(argv[1], "tree") == 0) return TreeCommand(args);
  std::fputs(usage, stderr);
  return 2;
}
