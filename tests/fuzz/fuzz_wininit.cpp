// Fuzz target: adding an entry to the "[rename]" section of an arbitrary
// existing wininit.ini. On success the entry is in the file and every byte
// of the old file is still there in order (CR LF read as LF); on failure
// the old file is back as it was.
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "cleanup/wininit_rename.h"
#include "tests/fuzz/fuzz_file.h"

namespace {

std::string HostFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string LineFeedsOnly(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
  }
  return out;
}

bool InOrder(const std::string& part, const std::string& whole) {
  size_t at = 0;
  for (char c : part) {
    at = whole.find(c, at);
    if (at == std::string::npos) return false;
    ++at;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string root = FuzzDriveRoot();
  mkdir((root + "/WINDOWS").c_str(), 0755);
  mkdir((root + "/WINDOWS/TEMP").c_str(), 0755);
  if (!WriteFuzzFile("WINDOWS/wininit.ini", data, size)) return 0;
  const std::string old(reinterpret_cast<const char*>(data), size);
  const bool rename = size & 1;
  const char* destination = rename ? "C:\\WINDOWS\\GOOD.EXE" : "NUL";
  const std::string entry = std::string(destination) + "=C:\\WINDOWS\\EVIL.EXE\r\n";
  const bool ok = AddWininitRename(destination, "C:\\WINDOWS\\EVIL.EXE");
  const std::string now = HostFile(root + "/WINDOWS/wininit.ini");
  if (ok ? now.find(entry) == std::string::npos || !InOrder(LineFeedsOnly(old), now) : now != old) {
    std::fprintf(stderr, "fuzz_wininit: %s, %zu bytes before, %zu after\n",
                 ok ? "entry or old bytes missing" : "old file not restored", old.size(),
                 now.size());
    std::abort();
  }
  return 0;
}
