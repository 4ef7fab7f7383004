// The forge's worm and script commands: worm, worm-host, script, fuzz-seeds.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "scanners/script_signatures.h"
#include "tools/forge/forge_worm_script.h"

namespace forge {
namespace {

const char kWormUsage[] =
    "  worm N|O|Q HOST OUT [--key K] [--immediate V]\n"
    "           [--miss named|flags|loop-before|entry-beyond]\n"
    "      infects a copy of HOST; K: comma list of xor=HEX, rol=N, ror=N, rolcl,\n"
    "      nop=N, raw=HEX (default xor=5C,rol=3,rolcl,ror=1,xor=A7); --immediate\n"
    "      sets the \"mov ecx\" value of Q\n"
    "  worm-host OUT            a small synthetic host executable (never runs)\n"
    "  script N OUT [--reflow] [--size S] [--miss below|above|outside|gate]\n"
    "      a file for script record N (1-13)\n"
    "  fuzz-seeds worm|script DIR  seed inputs for the fuzz targets\n";

int Usage() {
  std::fputs(kWormUsage, stderr);
  return 2;
}

const char* Flag(int argc, char** argv, int first, const char* flag) {
  for (int i = first; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], flag) == 0) return argv[i + 1];
  return nullptr;
}

bool Has(int argc, char** argv, int first, const char* flag) {
  for (int i = first; i < argc; ++i)
    if (std::strcmp(argv[i], flag) == 0) return true;
  return false;
}

int Fail(const std::string& why) {
  std::fprintf(stderr, "forge: %s\n", why.c_str());
  return 1;
}

int Save(const std::string& path, const Bytes& b) {
  return WriteBytes(path, b) ? 0 : Fail("cannot write " + path);
}

int Worm(int argc, char** argv) {
  if (argc < 5) return Usage();
  Bytes host, out;
  if (!ReadBytes(argv[3], &host)) return Fail(std::string("cannot read ") + argv[3]);
  WormOptions o;
  std::string why;
  if (const char* key = Flag(argc, argv, 5, "--key"))
    if (!ParseWormKey(key, &o.key, &why)) return Fail(why);
  if (const char* imm = Flag(argc, argv, 5, "--immediate")) o.immediate = std::strtoll(imm, nullptr, 0);
  if (const char* miss = Flag(argc, argv, 5, "--miss")) {
    const std::string m = miss;
    if (m == "named") o.sectionName = ".worm";
    else if (m == "flags") o.characteristics = 0xE0000060;
    else if (m == "loop-before") o.loopEndOnlyBeforeAnchor = true;
    else if (m == "entry-beyond") o.hostEntryField = 0x7FFFFFFF;
    else return Usage();
  }
  if (!InfectWithWorm(host, argv[2], o, &out, &why)) return Fail(why);
  return Save(argv[4], out);
}

int Script(int argc, char** argv) {
  if (argc < 4) return Usage();
  const int n = std::atoi(argv[2]);
  if (n < 1 || n > ScriptSignatureCount) return Usage();
  ScriptOptions o;
  o.reflow = Has(argc, argv, 4, "--reflow");
  if (const char* size = Flag(argc, argv, 4, "--size")) o.size = uint32_t(std::strtoul(size, nullptr, 0));
  if (const char* miss = Flag(argc, argv, 4, "--miss")) {
    const std::string m = miss;
    if (m == "below") o.miss = ScriptMiss::SizeBelow;
    else if (m == "above") o.miss = ScriptMiss::SizeAbove;
    else if (m == "outside") o.miss = ScriptMiss::OutsideRegion;
    else if (m == "gate") o.miss = ScriptMiss::NoTextGate;
    else return Usage();
  }
  Bytes out;
  std::string why;
  if (!ScriptSample(n - 1, o, &out, &why)) return Fail("record " + std::to_string(n) + ": " + why);
  return Save(argv[3], out);
}

// A few samples per target: detected ones and near misses.
int FuzzSeeds(const std::string& kind, const std::string& dir) {
  mkdir(dir.c_str(), 0755);
  int written = 0;
  if (kind == "worm") {
    const Bytes host = SyntheticHost();
    if (Save(dir + "/host.exe", host)) return 1;
    ++written;
    for (const char* v : {"N", "O", "Q"}) {
      Bytes out;
      std::string why;
      WormOptions o;
      if (!InfectWithWorm(host, v, o, &out, &why)) return Fail(why);
      if (Save(dir + "/" + v + ".exe", out)) return 1;
      ++written;
      o.immediate = 0x100;
      o.key = {{WormOp::RolByCounter, 0, {}}, {WormOp::Ror, 0, {}}, {WormOp::Nop, 90, {}}};
      if (!InfectWithWorm(host, v, o, &out, &why)) return Fail(why);
      if (Save(dir + "/" + v + "-wrap.exe", out)) return 1;
      ++written;
    }
  } else if (kind == "script") {
    for (int i = 0; i < ScriptSignatureCount; ++i) {
      Bytes out;
      std::string why;
      ScriptOptions o;
      o.reflow = i % 2;
      if (!ScriptSample(i, o, &out, &why)) return Fail(why);
      if (out.size() > 16384) continue;  // large samples only slow the fuzzer
      if (Save(dir + "/record" + std::to_string(i + 1) + ".txt", out)) return 1;
      ++written;
    }
  } else {
    return Usage();
  }
  std::printf("%d seeds written to %s\n", written, dir.c_str());
  return 0;
}

}  // namespace

int WormScriptCommand(int argc, char** argv) {
  if (argc < 2) return -1;
  const std::string cmd = argv[1];
  if (cmd == "worm") return Worm(argc, argv);
  if (cmd == "script") return Script(argc, argv);
  if (cmd == "worm-host") return argc < 3 ? Usage() : Save(argv[2], SyntheticHost());
  if (cmd == "fuzz-seeds") return argc < 4 ? Usage() : FuzzSeeds(argv[2], argv[3]);
  return -1;
}

void WormScriptUsage() { std::fputs(kWormUsage, stderr); }

}  // namespace forge
