// Fuzz target: the .reg reader and writer. A refused file names its line;
// a file that loads saves to text that loads again, in the same format, to
// a registry that saves to the same text; the removals writer runs over it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/emu/machine.h"

namespace {

void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "fuzz_reg_file: %s %s\n", what, detail.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  emu::ResetMachine();
  std::string error;
  if (!emu::LoadRegistryText(bytes, &error)) {
    if (error.compare(0, 5, "line ") != 0) Fail("refusal without a line:", error);
    return 0;
  }
  const emu::RegFormat format = emu::LoadedRegistryFormat();
  const std::string saved = emu::RegistryText(format);
  emu::MarkRegistryBaseline();
  emu::DeleteRegistryTree("HKCU\\Software");
  emu::RegistryChangesText(format);

  emu::ResetMachine();
  if (!emu::LoadRegistryText(saved, &error)) Fail("saved text refused:", error);
  if (emu::LoadedRegistryFormat() != format) Fail("saved text read in another format", "");
  if (emu::RegistryText(format) != saved) Fail("saved text saves differently", "");
  return 0;
}
