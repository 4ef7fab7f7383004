// The emulated machine behind the fuzz targets: C: is a temporary host
// directory, on tmpfs when the system has one.
#include "tests/fuzz/fuzz_file.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/emu/machine.h"

namespace {

std::string root;

void Prepare() {
  if (!root.empty()) return;
  const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  std::string templ = std::string(base) + "/sorvane-fuzz-XXXXXX";
  if (!mkdtemp(&templ[0])) std::abort();
  root = templ;
  emu::ResetMachine();
  emu::MapDrive('C', root);
  std::atexit([] {
    std::string cmd = "rm -rf '" + root + "'";
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", root.c_str());
  });
}

}  // namespace

const std::string& FuzzDriveRoot() {
  Prepare();
  return root;
}

bool WriteFuzzFile(const char* name, const uint8_t* data, size_t size) {
  Prepare();
  FILE* f = std::fopen((root + "/" + name).c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}
