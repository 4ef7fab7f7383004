// forge: writes inert synthetic samples for the scanners' tests.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "scanners/signature_record.h"
#include "tools/forge/forge.h"
#include "tools/forge/forge_worm_script.h"
#include "tools/version/version.h"

namespace {

const char kUsage[] =
    "usage: forge COMMAND ...\n"
    "  --version                 name, version, commit and detection data\n"
    "  backdoor N OUT [--from EXE] [--miss byte1|byte2|longer|shorter|only1|only2]\n"
    "      backdoor record N (1-269); --from pads a copy of EXE instead\n"
    "  find-record EXE          prints the smallest record usable with --from EXE\n"
    "  archive-record N OUT [--window1 P] [--window2 P] [--size S]\n"
    "      ZIP for archive record N (1-9), fragments at window positions P (0-1004)\n"
    "  zip-worm H|K|J|N|O|Aa OUT [archive options]\n"
    "  rar-worm N|O OUT [archive options]\n"
    "      --entry-size S --name NAME --method M --packed P --unencrypted\n"
    "      --second-entry --end-bytes N --extra N --cut N\n"
    "  hive OUT [--root NAME]    an empty registry hive (root key NAME, default ROOT)\n"
    "  corpus DIR [--max-size S]  every sample (DIR/detect) and near miss (DIR/clean)\n";

int Usage() {
  std::fputs(kUsage, stderr);
  forge::WormScriptUsage();
  return 2;
}

bool Number(const char* text, long long* value) {
  char* end = nullptr;
  *value = std::strtoll(text, &end, 0);
  return *text && end && *end == 0;
}

bool Write(const std::string& path, const forge::Bytes& bytes) {
  if (bytes.empty()) {
    std::fprintf(stderr, "forge: nothing to write for %s (options out of range?)\n", path.c_str());
    return false;
  }
  if (!forge::WriteBytes(path, bytes)) {
    std::fprintf(stderr, "forge: cannot write %s\n", path.c_str());
    return false;
  }
  return true;
}

// Parses "--flag value" pairs and bare flags from argv[first] on.
struct Options {
  int argc;
  char** argv;
  int first;
  const char* Value(const char* flag) const {
    for (int i = first; i + 1 < argc; ++i)
      if (std::strcmp(argv[i], flag) == 0) return argv[i + 1];
    return nullptr;
  }
  bool Has(const char* flag) const {
    for (int i = first; i < argc; ++i)
      if (std::strcmp(argv[i], flag) == 0) return true;
    return false;
  }
  bool Int(const char* flag, long long* out) const {
    const char* v = Value(flag);
    if (!v) return true;
    if (Number(v, out)) return true;
    std::fprintf(stderr, "forge: %s needs a number\n", flag);
    return false;
  }
};

bool ArchiveFlags(const Options& opt, forge::ArchiveOptions* o) {
  long long size = 0, method = -1, packed = -1, end = 22, extra = 0, cut = -1, second = 60000;
  if (!opt.Int("--entry-size", &size) || !opt.Int("--method", &method) ||
      !opt.Int("--packed", &packed) || !opt.Int("--end-bytes", &end) ||
      !opt.Int("--extra", &extra) || !opt.Int("--cut", &cut) ||
      !opt.Int("--second-size", &second))
    return false;
  o->entrySize = uint32_t(size);
  o->method = int(method);
  o->packedSize = packed;
  o->endRecordBytes = int(end);
  o->extraLength = uint16_t(extra);
  o->cut = cut;
  o->encrypted = !opt.Has("--unencrypted");
  o->secondEntry = opt.Has("--second-entry");
  o->secondSize = uint32_t(second);
  o->secondEncrypted = opt.Has("--second-encrypted");
  if (const char* n = opt.Value("--name")) o->name = n;
  return true;
}

int Backdoor(long long n, const std::string& out, const Options& opt) {
  if (n < 1 || n > BackdoorSignatureCount) return Usage();
  int index = int(n - 1);
  if (const char* exe = opt.Value("--from")) {
    forge::Bytes program, copy;
    std::string why;
    if (!forge::ReadBytes(exe, &program)) {
      std::fprintf(stderr, "forge: cannot read %s\n", exe);
      return 1;
    }
    if (!forge::MakeDetectableCopy(program, index, &copy, &why)) {
      std::fprintf(stderr, "forge: record %lld: %s\n", n, why.c_str());
      return 1;
    }
    return Write(out, copy) ? 0 : 1;
  }
  if (const char* miss = opt.Value("--miss")) {
    static const char* const kinds[] = {"byte1", "byte2", "longer", "shorter", "only1", "only2"};
    for (int k = 0; k < 6; ++k)
      if (std::strcmp(miss, kinds[k]) == 0)
        return Write(out, forge::BackdoorNearMiss(index, forge::BackdoorMiss(k))) ? 0 : 1;
    return Usage();
  }
  return Write(out, forge::BackdoorSample(index)) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::fputs(VersionText("forge").c_str(), stdout);
    return 0;
  }
  if (int rc = forge::WormScriptCommand(argc, argv); rc >= 0) return rc;
  if (argc < 3) return Usage();
  const std::string cmd = argv[1];
  if (cmd == "corpus") {
    Options opt{argc, argv, 3};
    long long max = 0;
    if (!opt.Int("--max-size", &max)) return 2;
    std::vector<forge::CorpusEntry> list;
    std::string why;
    if (!forge::WriteCorpus(argv[2], uint32_t(max), &list, &why)) {
      std::fprintf(stderr, "forge: %s\n", why.c_str());
      return 1;
    }
    std::printf("%zu files written to %s\n", list.size(), argv[2]);
    return 0;
  }
  if (cmd == "hive") {
    Options opt{argc, argv, 3};
    const char* root = opt.Value("--root");
    return Write(argv[2], forge::EmptyHive(root ? root : "ROOT")) ? 0 : 1;
  }
  if (cmd == "find-record") {
    forge::Bytes program;
    if (!forge::ReadBytes(argv[2], &program)) return 1;
    int index = forge::FindRecordForExe(program);
    if (index < 0) {
      std::fprintf(stderr, "forge: no record fits %s\n", argv[2]);
      return 1;
    }
    std::printf("%d\n", index + 1);
    return 0;
  }
  if (argc < 4) return Usage();
  const std::string out = argv[3];
  Options opt{argc, argv, 4};
  long long n = 0;
  if (cmd == "backdoor") return Number(argv[2], &n) ? Backdoor(n, out, opt) : Usage();
  if (cmd == "archive-record") {
    long long w1 = 0x155, w2 = 0x2A9, size = 0;
    if (!Number(argv[2], &n) || n < 1 || n > ArchiveSignatureCount) return Usage();
    if (!opt.Int("--window1", &w1) || !opt.Int("--window2", &w2) || !opt.Int("--size", &size))
      return 2;
    return Write(out, forge::ArchiveRecordSample(int(n - 1), uint32_t(w1), uint32_t(w2),
                                                 uint32_t(size)))
               ? 0
               : 1;
  }
  if (cmd == "zip-worm" || cmd == "rar-worm") {
    forge::ArchiveOptions o;
    if (!ArchiveFlags(opt, &o)) return 2;
    forge::Bytes b;
    bool known = cmd == "zip-worm" ? forge::ZipWorm(argv[2], o, &b) : forge::RarWorm(argv[2], o, &b);
    if (!known) return Usage();
    return Write(out, b) ? 0 : 1;
  }
  return Usage();
}
