// Reading the program's switches. A refused command line never opens the
// window: an administrator's script gets exit code 3 and a line in the log.
#include "ui/command_line.h"

#include <cctype>

const char kUsageText[] =
    "sorvane.exe               the window: press SCAN\n"
    "sorvane.exe /quiet [/restart] [/log FILE] [/report FILE]\n"
    "\n"
    "/quiet       scan memory and every fixed drive without a window or a\n"
    "             question, and clean what is found\n"
    "/restart     restart the computer when a removal waits for the next\n"
    "             start (without it the restart is left to you)\n"
    "/log FILE    the log (default: sorvane.log in the Windows folder)\n"
    "/report FILE a JSON report of the run\n"
    "\n"
    "Exit codes: 0 nothing found, 1 found and everything cleaned,\n"
    "2 found and something left (a restart may be needed),\n"
    "3 the scan could not be made.";

namespace {

bool Same(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i]; ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != b[i]) return false;
  }
  return i == a.size() && !b[i];
}

}  // namespace

CommandLine ParseCommandLine(int count, const char* const* arguments) {
  CommandLine c;
  for (int i = 0; i < count && c.error.empty(); ++i) {
    std::string argument = arguments[i] ? arguments[i] : "";
    if (argument.size() < 2 || (argument[0] != '/' && argument[0] != '-')) {
      c.error = "not a switch: \"" + argument + "\"";
      break;
    }
    std::string name = argument.substr(1), value;
    size_t colon = name.find(':');
    bool inlineValue = colon != std::string::npos;
    if (inlineValue) {
      value = name.substr(colon + 1);
      name.resize(colon);
    }
    if (Same(name, "?") && !inlineValue) {
      c.help = true;
    } else if (Same(name, "quiet") && !inlineValue) {
      c.quiet = true;
    } else if (Same(name, "restart") && !inlineValue) {
      c.restart = true;
    } else if (Same(name, "log") || Same(name, "report")) {
      std::string& target = Same(name, "log") ? c.log : c.report;
      if (!inlineValue && i + 1 < count && arguments[i + 1]) value = arguments[++i];
      // A following switch is no file name: "/log /quiet" lacks the file.
      if (value.empty() || value[0] == '/') {
        c.error = argument + " needs a file name";
      } else if (!target.empty()) {
        c.error = argument + " given twice";
      } else {
        target = value;
      }
    } else {
      c.error = "unknown switch: " + argument;
    }
  }
  if (c.error.empty() && count > 0 && !c.help && !c.quiet) c.error = "/restart, /log and /report need /quiet";
  return c;
}
