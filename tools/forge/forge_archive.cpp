// Forged archives: ZIP and RAR copies of the archive worms (one encrypted
// entry of random bytes) and ZIP files for the archive records.
#include <algorithm>
#include <cstring>

#include "scanners/signature_record.h"
#include "tools/forge/forge.h"
#include "tools/forge/forge_bytes.h"

namespace forge {
namespace {

constexpr uint32_t kDosTime = 0x6C20, kDosDate = 0x3A61;  // a fixed timestamp
constexpr int64_t kMaxData = 1 << 24;  // header sizes beyond this get no data

struct ZipEntry {
  std::string name;
  uint16_t flags;
  uint16_t method;
  uint32_t packed;
  uint32_t size;
  uint16_t extra;
  Bytes data;
};

Bytes BuildZip(const std::vector<ZipEntry>& entries, int endRecordBytes) {
  Bytes b, central;
  for (const ZipEntry& e : entries) {
    uint32_t local = uint32_t(b.size());
    uint32_t crc = Crc32(e.data.data(), e.data.size());
    for (int pass = 0; pass < 2; ++pass) {
      Bytes& out = pass ? central : b;
      Append32(out, pass ? 0x02014B50 : 0x04034B50);
      if (pass) Append16(out, 20);  // made by
      Append16(out, 20);            // needed
      Append16(out, e.flags);
      Append16(out, e.method);
      Append16(out, kDosTime);
      Append16(out, kDosDate);
      Append32(out, crc);
      Append32(out, e.packed);
      Append32(out, e.size);
      Append16(out, uint32_t(e.name.size()));
      Append16(out, e.extra);
      if (pass) {
        Append16(out, 0);     // comment
        Append16(out, 0);     // disk
        Append16(out, 0);     // internal attributes
        Append32(out, 0x20);  // external attributes: archive
        Append32(out, local);
      }
      out.insert(out.end(), e.name.begin(), e.name.end());
      out.insert(out.end(), e.extra, 0);
      if (!pass) out.insert(out.end(), e.data.begin(), e.data.end());
    }
  }
  uint32_t centralAt = uint32_t(b.size());
  b.insert(b.end(), central.begin(), central.end());
  Bytes end;
  Append32(end, 0x06054B50);
  Append16(end, 0);
  Append16(end, 0);
  Append16(end, uint32_t(entries.size()));
  Append16(end, uint32_t(entries.size()));
  Append32(end, uint32_t(central.size()));
  Append32(end, centralAt);
  Append16(end, 0);
  end.resize(size_t(std::clamp(endRecordBytes, 0, 22)));
  b.insert(b.end(), end.begin(), end.end());
  return b;
}

void Cut(Bytes* b, int64_t cut) {
  if (cut >= 0 && uint64_t(cut) < b->size()) b->resize(size_t(cut));
}

struct Variant {
  const char* id;
  uint32_t size;
  uint16_t method;
  uint32_t packed;  // 0: size + 12 (stored behind the encryption header)
  const char* name;
};

const Variant kZipVariants[] = {
    {"H", 20000, 0, 0, "details.scr"},     {"K", 13000, 0, 0, "message.exe"},
    {"J", 18500, 0, 0, "document.pif"},    {"N", 22000, 8, 21000, "information.exe"},
    {"O", 45000, 8, 43000, "attachment.scr"}, {"Aa", 28000, 8, 27000, "price.com"},
};
const Variant kRarVariants[] = {
    {"N", 20000, 0x30, 0, "photos.exe"},
    {"O", 45000, 0x30, 0, "archive.scr"},
};

const Variant* Find(const Variant* list, size_t n, const std::string& id) {
  for (size_t i = 0; i < n; ++i)
    if (id == list[i].id) return &list[i];
  return nullptr;
}

uint32_t Seed(const std::string& s) { return Crc32(reinterpret_cast<const uint8_t*>(s.data()), s.size()); }

Bytes DataFor(int64_t packed, uint32_t fallback, uint32_t seed) {
  return Filler(size_t(packed >= 0 && packed <= kMaxData ? packed : fallback), seed);
}

// Low 16 bits of the CRC-32 of a RAR header from its type byte on.
void SealRarHeader(Bytes& b, size_t at, size_t len) {
  Put16(b, at, Crc32(&b[at + 2], len - 2) & 0xFFFF);
}

}  // namespace

bool ZipWorm(const std::string& variant, const ArchiveOptions& o, Bytes* out) {
  const Variant* v = Find(kZipVariants, std::size(kZipVariants), variant);
  if (!v) return false;
  ZipEntry e;
  e.size = o.entrySize ? o.entrySize : v->size;
  e.name = o.name.empty() ? v->name : o.name;
  e.method = uint16_t(o.method >= 0 ? o.method : v->method);
  int64_t packed = o.packedSize >= 0 ? o.packedSize
                   : v->packed && !o.entrySize ? v->packed
                   : v->packed ? int64_t(e.size) - int64_t(e.size) / 20 + 12
                               : int64_t(e.size) + 12;
  e.packed = uint32_t(packed);
  e.flags = o.encrypted ? 0x0001 : 0x0000;
  e.extra = o.extraLength;
  e.data = DataFor(packed, e.size + 12, Seed("zip" + variant) ^ e.size);
  std::vector<ZipEntry> entries{e};
  if (o.secondEntry) {
    // A stored text file. At the default length the matchers, reading its
    // local header as if it were the first entry's central header, look for
    // the end record inside its data; a short one puts that place past the
    // end of the file.
    ZipEntry second;
    second.name = "readme.txt";
    second.flags = o.secondEncrypted ? 0x0001 : 0x0000;
    second.method = 0;
    second.size = o.secondSize;
    second.packed = second.size + (o.secondEncrypted ? 12 : 0);
    second.extra = 0;
    second.data = Filler(second.packed, Seed("second") ^ e.size);
    entries.push_back(second);
  }
  *out = BuildZip(entries, o.endRecordBytes);
  Cut(out, o.cut);
  return true;
}

bool RarWorm(const std::string& variant, const ArchiveOptions& o, Bytes* out) {
  const Variant* v = Find(kRarVariants, std::size(kRarVariants), variant);
  if (!v) return false;
  uint32_t size = o.entrySize ? o.entrySize : v->size;
  std::string name = o.name.empty() ? v->name : o.name;
  int64_t packed = o.packedSize >= 0 ? o.packedSize : (int64_t(size) + 15) / 16 * 16;
  Bytes data = DataFor(packed, size, Seed("rar" + variant) ^ size);

  Bytes b = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};  // marker block
  size_t at = b.size();
  b.insert(b.end(), 13, 0);  // archive header
  b[at + 2] = 0x73;
  Put16(b, at + 5, 13);
  SealRarHeader(b, at, 13);

  at = b.size();
  b.insert(b.end(), 32, 0);  // file header, then the name
  b[at + 2] = 0x74;
  Put16(b, at + 3, 0x8000 | (o.encrypted ? 0x04 : 0));
  Put16(b, at + 5, uint32_t(32 + name.size()));
  Put32(b, at + 7, uint32_t(packed));
  Put32(b, at + 11, size);
  b[at + 15] = 2;  // host: Win32
  Put32(b, at + 16, Crc32(data.data(), data.size()));
  Put32(b, at + 20, (kDosDate << 16) | kDosTime);
  b[at + 24] = 29;
  b[at + 25] = uint8_t(o.method >= 0 ? o.method : v->method);
  Put16(b, at + 26, uint32_t(name.size()));
  Put32(b, at + 28, 0x20);
  b.insert(b.end(), name.begin(), name.end());
  SealRarHeader(b, at, 32 + name.size());
  b.insert(b.end(), data.begin(), data.end());
  const uint8_t endBlock[] = {0xC4, 0x3D, 0x7B, 0x00, 0x40, 0x07, 0x00};
  b.insert(b.end(), endBlock, endBlock + sizeof endBlock);
  *out = std::move(b);
  Cut(out, o.cut);
  return true;
}

Bytes ArchiveRecordSample(int index, uint32_t window1, uint32_t window2, uint32_t size) {
  if (index < 0 || index >= ArchiveSignatureCount) return {};
  const SignatureRecord& rec = ArchiveSignatures[index];
  static const std::string kName = "archive.dat";
  const uint32_t overhead = 30 + 46 + 2 * uint32_t(kName.size()) + 22;
  if (size == 0)
    size = rec.SizeRule == NearSize ? rec.FileSize : uint32_t(rec.Offset2) + 1024 + 2048;
  if (size < overhead || window1 > 1004 || window2 > 1004) return {};
  const uint32_t dataStart = 30 + uint32_t(kName.size());
  const uint32_t dataEnd = dataStart + (size - overhead);
  const uint32_t at1 = uint32_t(rec.Offset1) + window1, at2 = uint32_t(rec.Offset2) + window2;
  // Both fragments inside the entry's data, apart, and the second window
  // readable whole.
  if (at1 + 20 > dataEnd || at2 + 20 > dataEnd || uint32_t(rec.Offset2) + 1024 > size ||
      (at1 < at2 + 20 && at2 < at1 + 20))
    return {};
  ZipEntry e;
  e.name = kName;
  e.flags = 0;
  e.method = 0;
  e.size = e.packed = size - overhead;
  e.extra = 0;
  e.data.assign(e.size, 0);
  std::memcpy(&e.data[at1 - dataStart], rec.Pattern1, 20);
  std::memcpy(&e.data[at2 - dataStart], rec.Pattern2, 20);
  return BuildZip({e}, 22);
}

}  // namespace forge
