// The full sample set (every detectable sample and every near miss) and
// plain file reading and writing.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "scanners/signature_record.h"
#include "tools/forge/forge.h"

namespace forge {
namespace {

struct Writer {
  std::string dir;
  uint32_t maxSize;
  std::vector<CorpusEntry>* list;
  std::string* why;
  std::string manifest;
  bool ok = true;

  void Add(const std::string& path, const Bytes& bytes, const std::string& expected) {
    if (!ok || bytes.empty() || (maxSize && bytes.size() > maxSize)) return;
    std::filesystem::path full = std::filesystem::path(dir) / path;
    std::error_code ec;
    std::filesystem::create_directories(full.parent_path(), ec);
    if (!WriteBytes(full.string(), bytes)) {
      ok = false;
      if (why) *why = "cannot write " + full.string();
      return;
    }
    manifest += path + "\t" + (expected.empty() ? "-" : expected) + "\n";
    if (list) list->push_back({path, expected});
  }
};

Bytes Zip(const std::string& v, ArchiveOptions o) {
  Bytes b;
  ZipWorm(v, o, &b);
  return b;
}
Bytes Rar(const std::string& v, ArchiveOptions o) {
  Bytes b;
  RarWorm(v, o, &b);
  return b;
}
ArchiveOptions Size(uint32_t s) {
  ArchiveOptions o;
  o.entrySize = s;
  return o;
}

}  // namespace

bool WriteCorpus(const std::string& dir, uint32_t maxSize, std::vector<CorpusEntry>* written,
                 std::string* why) {
  Writer w{dir, maxSize, written, why, {}};
  char name[64];
  for (int i = 0; i < BackdoorSignatureCount; ++i) {
    std::snprintf(name, sizeof name, "detect/backdoor/b%03d.exe", i + 1);
    w.Add(name, BackdoorSample(i), BackdoorSignatures[i].Name);
  }
  for (int i = 0; i < ArchiveSignatureCount; ++i) {
    std::snprintf(name, sizeof name, "detect/archive/record%d.zip", i + 1);
    w.Add(name, ArchiveRecordSample(i), ArchiveSignatures[i].Name);
  }
  for (const char* v : {"H", "K", "J", "N", "O", "Aa"})
    w.Add(std::string("detect/worm/zip-") + v + ".zip", Zip(v, {}),
          std::string("W32/Bagle.") + v + ".Worm");
  for (const char* v : {"N", "O"})
    w.Add(std::string("detect/worm/rar-") + v + ".rar", Rar(v, {}),
          std::string("W32/Bagle.") + v + ".Worm");

  // Near misses of the backdoor records: small, large, negative offsets.
  const struct {
    BackdoorMiss kind;
    const char* tag;
  } misses[] = {{BackdoorMiss::FirstFragmentByte, "byte1"}, {BackdoorMiss::SecondFragmentByte, "byte2"},
                {BackdoorMiss::OneByteLonger, "longer"},    {BackdoorMiss::OneByteShorter, "shorter"},
                {BackdoorMiss::FirstFragmentOnly, "only1"}, {BackdoorMiss::SecondFragmentOnly, "only2"}};
  for (int i : {0, 3, 5, 120, BackdoorSignatureCount - 1})
    for (const auto& m : misses) {
      std::snprintf(name, sizeof name, "clean/backdoor/b%03d-%s.exe", i + 1, m.tag);
      w.Add(name, BackdoorNearMiss(i, m.kind), "");
    }

  // Archive records: a changed byte, a fragment just past its window, and
  // the NearSize row at 4096 bytes either side.
  Bytes a = ArchiveRecordSample(0);
  a[uint32_t(ArchiveSignatures[0].Offset1) + 0x155 + 3] ^= 1;
  w.Add("clean/archive/record1-byte1.zip", a, "");
  a = ArchiveRecordSample(0);
  a[uint32_t(ArchiveSignatures[0].Offset2) + 0x2A9 + 19] ^= 1;
  w.Add("clean/archive/record1-byte2.zip", a, "");
  w.Add("clean/archive/record1-past-window.zip", ArchiveRecordSample(0, 0x155, 1004), "");
  w.Add("clean/archive/record8-over.zip", ArchiveRecordSample(7, 0x155, 0x2A9, 21922 + 4096), "");
  w.Add("clean/archive/record8-under.zip", ArchiveRecordSample(7, 0x155, 0x2A9, 21922 - 4096), "");

  // Archive worms: each rule broken once, the bands left by one byte.
  ArchiveOptions o;
  o.encrypted = false;
  w.Add("clean/worm/zip-H-unencrypted.zip", Zip("H", o), "");
  o = {};
  o.secondEntry = true;
  w.Add("clean/worm/zip-H-second-entry.zip", Zip("H", o), "");
  o = {};
  o.name = "details.txt";
  w.Add("clean/worm/zip-H-txt-name.zip", Zip("H", o), "");
  o = {};
  o.cut = 35;
  w.Add("clean/worm/zip-H-cut-in-name.zip", Zip("H", o), "");
  o.cut = 20;
  w.Add("clean/worm/zip-H-cut-in-header.zip", Zip("H", o), "");
  o = {};
  o.packedSize = 13000 + 13;
  w.Add("clean/worm/zip-K-packed-13.zip", Zip("K", o), "");
  o = {};
  o.method = 8;
  w.Add("clean/worm/zip-K-deflated.zip", Zip("K", o), "");
  o = {};
  o.method = 2;
  w.Add("clean/worm/zip-N-method-2.zip", Zip("N", o), "");
  const struct {
    const char* v;
    uint32_t size;
  } zipBands[] = {{"K", 11263}, {"K", 15361}, {"J", 17407}, {"O", 43007},
                  {"O", 48129}, {"Aa", 30721}, {"Aa", 66559}, {"Aa", 74753}};
  for (const auto& z : zipBands) {
    std::snprintf(name, sizeof name, "clean/worm/zip-%s-size-%u.zip", z.v, z.size);
    w.Add(name, Zip(z.v, Size(z.size)), "");
  }
  o = {};
  o.encrypted = false;
  w.Add("clean/worm/rar-N-unencrypted.rar", Rar("N", o), "");
  o = {};
  o.name = "photos.txt";
  w.Add("clean/worm/rar-N-txt-name.rar", Rar("N", o), "");
  o = {};
  o.cut = 40;
  w.Add("clean/worm/rar-N-cut-in-header.rar", Rar("N", o), "");
  o = {};
  o.method = 0x33;
  w.Add("clean/worm/rar-N-compressed.rar", Rar("N", o), "");
  o = {};
  o.packedSize = 20000 - 1;
  w.Add("clean/worm/rar-N-unpacked-above-packed.rar", Rar("N", o), "");
  const struct {
    const char* v;
    uint32_t size;
  } rarBands[] = {{"N", 19455}, {"N", 25601}, {"O", 43007}, {"O", 48129}};
  for (const auto& r : rarBands) {
    std::snprintf(name, sizeof name, "clean/worm/rar-%s-size-%u.rar", r.v, r.size);
    w.Add(name, Rar(r.v, Size(r.size)), "");
  }

  // Ordinary files.
  const std::string text = "Nothing to see here.\r\n";
  w.Add("clean/other/readme.txt", Bytes(text.begin(), text.end()), "");
  Bytes pk(4096, 0x41);
  pk[0] = 'P';
  pk[1] = 'K';
  w.Add("clean/other/pk-junk.bin", pk, "");

  if (w.ok && !WriteBytes((std::filesystem::path(dir) / "manifest.txt").string(),
                          Bytes(w.manifest.begin(), w.manifest.end()))) {
    if (why) *why = "cannot write the manifest";
    return false;
  }
  return w.ok;
}

bool WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return bool(f.flush());
}

bool ReadBytes(const std::string& path, Bytes* bytes) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  bytes->assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  return !f.bad();
}

}  // namespace forge
