// Exports the backdoor records for the benchmark:
//   signature-export sizes    every record's exact file size, one a line
//   signature-export clamav   the records as logical signatures of the peer
//                             scanner (.ldb): PE target, the exact size, both
//                             fragments relative to the entry point
#include <cstdio>
#include <cstring>
#include <string>

#include "scanners/signature_record.h"

namespace {

std::string Hex(const uint8_t* bytes, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 15];
  }
  return out;
}

std::string EntryOffset(int32_t offset) {
  char text[32];
  std::snprintf(text, sizeof text, "EP%c%ld", offset < 0 ? '-' : '+',
                offset < 0 ? -static_cast<long>(offset) : static_cast<long>(offset));
  return text;
}

// "W32/Murkel.A.Backdoor" -> "Sorvane.W32.Murkel.A.Backdoor.17": names must
// be unique and free of the separators of the format.
std::string SignatureName(const char* name, int index) {
  std::string out = "Sorvane.";
  for (const char* p = name; *p; ++p) out += (*p == '/' || *p == ';' || *p == ':') ? '.' : *p;
  return out + "." + std::to_string(index + 1);
}

}  // namespace

int main(int argc, char** argv) {
  const char* what = argc == 2 ? argv[1] : "";
  bool sizes = std::strcmp(what, "sizes") == 0, clamav = std::strcmp(what, "clamav") == 0;
  if (!sizes && !clamav) {
    std::fprintf(stderr, "usage: signature-export sizes|clamav\n");
    return 2;
  }
  for (int i = 0; i < BackdoorSignatureCount; ++i) {
    const SignatureRecord& r = BackdoorSignatures[i];
    if (sizes) {
      std::printf("%u\n", r.FileSize);
      continue;
    }
    std::printf("%s;Engine:51-255,Target:1,FileSize:%u-%u;0&1;%s:%s;%s:%s\n",
                SignatureName(r.Name, i).c_str(), r.FileSize, r.FileSize,
                EntryOffset(r.Offset1).c_str(), Hex(r.Pattern1, sizeof r.Pattern1).c_str(),
                EntryOffset(r.Offset2).c_str(), Hex(r.Pattern2, sizeof r.Pattern2).c_str());
  }
  return 0;
}
