// Forged backdoor executables, their near misses, and detectable copies of
// a working test program.
#include <algorithm>
#include <cstring>

#include "scanners/signature_record.h"
#include "tools/forge/backdoor_layouts.h"
#include "tools/forge/forge.h"
#include "tools/forge/forge_bytes.h"

namespace forge {
namespace {

constexpr uint32_t kPeOffset = 0x40;
constexpr uint32_t kOptional = kPeOffset + 24;
constexpr uint32_t kSectionTable = kPeOffset + 248;  // where the probes look
constexpr uint32_t kFragment = 20;
constexpr uint32_t kMaxProbeSections = 20;

const char* const kSectionNames[ForgeMaxSections] = {".text", ".rdata", ".data",
                                                     ".rsrc",  ".reloc", ".idata"};
const uint32_t kSectionFlags[ForgeMaxSections] = {0x60000020, 0x40000040, 0xC0000040,
                                                  0x40000040, 0x42000040, 0xC0000040};

// The headers as the probes read them from a file image.
struct ProbedHeaders {
  uint32_t entryPoint = 0;
  uint32_t sizeOfHeaders = 0;
  uint32_t count = 0;
  ForgeSection sections[kMaxProbeSections] = {};
};

bool Probe(const Bytes& file, ProbedHeaders* h) {
  if (!Inside(file, 0x3C, 2)) return false;
  uint32_t pe = Get16(file, 0x3C);
  if (!Inside(file, pe, 24) || Get32(file, pe) != 0x00004550) return false;
  if (!Inside(file, pe + 24, 96)) return false;
  h->count = Get16(file, pe + 6);
  h->entryPoint = Get32(file, pe + 24 + 16);
  h->sizeOfHeaders = Get32(file, pe + 24 + 60);
  if (h->count > kMaxProbeSections || !Inside(file, pe + 248, uint64_t(h->count) * 40))
    return false;
  for (uint32_t i = 0; i < h->count; ++i) {
    size_t s = pe + 248 + 40 * i;
    h->sections[i] = {Get32(file, s + 12), Get32(file, s + 8), Get32(file, s + 20),
                      Get32(file, s + 16)};
  }
  return true;
}

// The probes' address mapping: the first section ending beyond the address,
// else the last; a result at or past the end is the address itself; 0 is
// the size of the headers.
uint32_t MapAddress(const ProbedHeaders& h, uint32_t address, uint32_t fileLength) {
  const ForgeSection* chosen = &h.sections[h.count ? h.count - 1 : 0];
  for (uint32_t i = 0; i < h.count; ++i) {
    if (h.sections[i].VirtualAddress + h.sections[i].VirtualSize > address) {
      chosen = &h.sections[i];
      break;
    }
  }
  uint32_t result = address + chosen->RawPointer - chosen->VirtualAddress;
  if (result >= fileLength) result = address;
  return result == 0 ? h.sizeOfHeaders : result;
}

ProbedHeaders FromLayout(const BackdoorLayout& l) {
  ProbedHeaders h;
  h.entryPoint = l.EntryPointRva;
  h.sizeOfHeaders = l.SizeOfHeaders;
  h.count = l.SectionCount;
  std::copy(l.Sections, l.Sections + l.SectionCount, h.sections);
  return h;
}

void WriteHeaders(Bytes& b, const BackdoorLayout& l, int index) {
  static const char kNote[] = "Sorvane inert test sample";
  b[0] = 0xCD;  // int 20h: ends at once if ever run as a flat image
  b[1] = 0x20;
  std::memcpy(&b[2], kNote, sizeof kNote);
  Put16(b, 0x3C, kPeOffset);
  Put32(b, kPeOffset, 0x00004550);
  Put16(b, kPeOffset + 4, 0);  // machine 0: no loader accepts it
  Put16(b, kPeOffset + 6, l.SectionCount);
  Put32(b, kPeOffset + 8, 0x40000000u + uint32_t(index));
  Put16(b, kPeOffset + 20, 224);
  Put16(b, kPeOffset + 22, 0x010F);
  const ForgeSection& last = l.Sections[l.SectionCount - 1];
  uint32_t imageSize = (last.VirtualAddress + std::max(last.VirtualSize, last.RawSize) + 0xFFF) &
                       ~0xFFFu;
  Put16(b, kOptional, 0x10B);
  b[kOptional + 2] = 6;
  Put32(b, kOptional + 4, l.Sections[0].RawSize);
  Put32(b, kOptional + 16, l.EntryPointRva);
  Put32(b, kOptional + 20, l.Sections[0].VirtualAddress);
  Put32(b, kOptional + 28, 0x400000);
  Put32(b, kOptional + 32, 0x1000);
  Put32(b, kOptional + 36, 0x200);
  Put16(b, kOptional + 40, 4);
  Put16(b, kOptional + 48, 4);
  Put32(b, kOptional + 56, imageSize);
  Put32(b, kOptional + 60, l.SizeOfHeaders);
  Put16(b, kOptional + 68, 2);
  Put32(b, kOptional + 72, 0x100000);
  Put32(b, kOptional + 76, 0x1000);
  Put32(b, kOptional + 80, 0x100000);
  Put32(b, kOptional + 84, 0x1000);
  Put32(b, kOptional + 92, 16);
  for (uint32_t i = 0; i < l.SectionCount; ++i) {
    size_t s = kSectionTable + 40 * i;
    std::memcpy(&b[s], kSectionNames[i], std::strlen(kSectionNames[i]));
    Put32(b, s + 8, l.Sections[i].VirtualSize);
    Put32(b, s + 12, l.Sections[i].VirtualAddress);
    Put32(b, s + 16, l.Sections[i].RawSize);
    Put32(b, s + 20, l.Sections[i].RawPointer);
    Put32(b, s + 36, kSectionFlags[i]);
  }
}

// Both fragment positions of `rec` in a file of `length` with headers `h`.
void FragmentSpots(const ProbedHeaders& h, const SignatureRecord& rec, uint32_t length,
                   uint32_t* f1, uint32_t* f2) {
  *f1 = MapAddress(h, h.entryPoint + uint32_t(rec.Offset1), length);
  *f2 = MapAddress(h, h.entryPoint + uint32_t(rec.Offset2), length);
}

bool FragmentAt(const Bytes& file, uint32_t at, const uint8_t* pattern) {
  return at <= 0x7FFFFFFFu && Inside(file, at, kFragment) &&
         std::memcmp(&file[at], pattern, kFragment) == 0;
}

Bytes Build(int index, bool first, bool second) {
  if (index < 0 || index >= BackdoorSignatureCount) return {};
  const SignatureRecord& rec = BackdoorSignatures[index];
  const BackdoorLayout& l = BackdoorLayouts[index];
  Bytes b(rec.FileSize, 0);
  WriteHeaders(b, l, index);
  uint32_t f1, f2;
  FragmentSpots(FromLayout(l), rec, rec.FileSize, &f1, &f2);
  if (first) std::memcpy(&b[f1], rec.Pattern1, kFragment);
  if (second) std::memcpy(&b[f2], rec.Pattern2, kFragment);
  return b;
}

}  // namespace

Bytes BackdoorSample(int index) { return Build(index, true, true); }

Bytes BackdoorNearMiss(int index, BackdoorMiss kind) {
  if (index < 0 || index >= BackdoorSignatureCount) return {};
  if (kind == BackdoorMiss::FirstFragmentOnly) return Build(index, true, false);
  if (kind == BackdoorMiss::SecondFragmentOnly) return Build(index, false, true);
  Bytes b = BackdoorSample(index);
  const SignatureRecord& rec = BackdoorSignatures[index];
  uint32_t f1, f2;
  FragmentSpots(FromLayout(BackdoorLayouts[index]), rec, rec.FileSize, &f1, &f2);
  switch (kind) {
    case BackdoorMiss::FirstFragmentByte: b[f1 + 7] ^= 0x01; break;
    case BackdoorMiss::SecondFragmentByte: b[f2 + 19] ^= 0x80; break;
    case BackdoorMiss::OneByteLonger: b.push_back(0); break;
    case BackdoorMiss::OneByteShorter: b.pop_back(); break;
    default: break;
  }
  return b;
}

int FirstMatchingBackdoorRecord(const Bytes& file) {
  ProbedHeaders h;
  if (file.size() > 0x7FFFFFFFu || !Probe(file, &h)) return -1;
  uint32_t length = uint32_t(file.size());
  for (int i = 0; i < BackdoorSignatureCount; ++i) {
    const SignatureRecord& rec = BackdoorSignatures[i];
    if (rec.SizeRule != ExactSize || rec.FileSize != length) continue;
    uint32_t f1, f2;
    FragmentSpots(h, rec, length, &f1, &f2);
    if (FragmentAt(file, f1, rec.Pattern1) && FragmentAt(file, f2, rec.Pattern2)) return i;
  }
  return -1;
}

bool MakeDetectableCopy(const Bytes& exe, int index, Bytes* out, std::string* why) {
  auto fail = [why](const char* text) {
    if (why) *why = text;
    return false;
  };
  if (index < 0 || index >= BackdoorSignatureCount) return fail("no such record");
  ProbedHeaders h;
  if (!Probe(exe, &h)) return fail("the program's PE headers are not readable by the probes");
  const SignatureRecord& rec = BackdoorSignatures[index];
  if (rec.FileSize < exe.size() + 2 * kFragment) return fail("record is smaller than the program");
  uint32_t f1, f2;
  FragmentSpots(h, rec, rec.FileSize, &f1, &f2);
  auto inOverlay = [&](uint32_t f) {
    return f >= exe.size() && f <= rec.FileSize - kFragment;
  };
  if (!inOverlay(f1) || !inOverlay(f2))
    return fail("the record's fragments would not fall into the overlay");
  if ((f1 > f2 ? f1 - f2 : f2 - f1) < kFragment) return fail("the fragments would overlap");
  Bytes b = exe;
  b.resize(rec.FileSize, 0);
  std::memcpy(&b[f1], rec.Pattern1, kFragment);
  std::memcpy(&b[f2], rec.Pattern2, kFragment);
  if (FirstMatchingBackdoorRecord(b) != index) return fail("an earlier record would match first");
  *out = std::move(b);
  return true;
}

int FindRecordForExe(const Bytes& exe) {
  int best = -1;
  Bytes scratch;
  for (int i = 0; i < BackdoorSignatureCount; ++i) {
    if (best >= 0 && BackdoorSignatures[i].FileSize >= BackdoorSignatures[best].FileSize) continue;
    if (MakeDetectableCopy(exe, i, &scratch, nullptr)) best = i;
  }
  return best;
}

}  // namespace forge
