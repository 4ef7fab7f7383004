// The row screens never say "no" where the row itself acts: every forged
// sample and near miss (backdoors, archives, worm-infected programs,
// scripts and pages, odd headers) goes through each row in report mode and
// through its screen, built from the file's two ends as a reader takes
// them. Plain clean files must be screened out, or the screens gain nothing.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "engine/scanner_table.h"
#include "engine/shared_state.h"
#include "scanners/row_screen.h"
#include "scanners/script_match.h"
#include "scanners/script_scanner.h"
#include "scanners/script_signatures.h"
#include "tests/support/machine_fixture.h"
#include "tools/forge/forge.h"
#include "tools/forge/forge_worm_script.h"

namespace {

using forge::Bytes;

// The screens' view of `bytes` as a reader takes it: whole when short,
// else both ends and (`withHeader`) the PE headers between them.
FileEnds EndsOf(const Bytes& bytes, bool withHeader = true) {
  FileEnds ends;
  ends.length = int64_t(bytes.size());
  ends.head = bytes.data();
  if (bytes.size() <= 2 * ScreenEndSize) {
    ends.headLength = bytes.size();
    return ends;
  }
  ends.headLength = ScreenEndSize;
  ends.tail = bytes.data() + bytes.size() - ScreenEndSize;
  ends.tailLength = ScreenEndSize;
  uint64_t at = 0;
  const size_t count = withHeader ? ScreenHeaderRegion(ends, &at) : 0;
  if (count) {
    EXPECT_LE(count, ScreenHeaderSize);
    ends.header = bytes.data() + at;
    ends.headerOffset = at;
    ends.headerLength = count;
  }
  return ends;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Script record `record`'s pattern, unscrambled.
Bytes Pattern(int record) {
  const ScriptSignature& r = PlainScriptSignatures()[record];
  return Bytes(r.Pattern, r.Pattern + r.PatternLength);
}

// `length` bytes of text (a line feed first, for the text gate) holding
// `inner` at `at`.
Bytes TextWith(size_t length, size_t at, const Bytes& inner) {
  Bytes b(length, 'x');
  b[0] = '\n';
  std::copy(inner.begin(), inner.end(), b.begin() + long(at));
  return b;
}

// `count` letters, each followed by a run of whitespace.
Bytes Spaced(int count) {
  Bytes b;
  for (int i = 0; i < count; ++i) {
    b.push_back('y');
    const std::string run = i % 2 ? " \t\r\n" : "\v\f  ";
    b.insert(b.end(), run.begin(), run.end());
  }
  return b;
}

// `a` then `b`.
Bytes Join(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A PE whose header lies at `base` in a file of `length` bytes.
Bytes PeAt(uint32_t base, size_t length) {
  Bytes b(length, 0x41);
  b[0x3C] = uint8_t(base);
  b[0x3D] = uint8_t(base >> 8);
  b[base] = 'P';
  b[base + 1] = 'E';
  b[base + 2] = b[base + 3] = 0;
  return b;
}

class RowScreenTest : public MachineTest {
 protected:
  // Runs every row on the file in report mode and checks its screen.
  void Check(const std::string& name, const Bytes& bytes) {
    const std::string path = "C:\\screen\\" + name;
    WriteFile(path, std::string(bytes.begin(), bytes.end()));
    const FileEnds ends = EndsOf(bytes);
    for (const ScannerEntry* row = ScannerTable; row->name; ++row) {
      const int infected = FilesInfected;
      const size_t lines = Lines().size();
      row->routine(row->name, path.c_str());
      const bool acted = FilesInfected != infected || Lines().size() != lines;
      ++checked_;
      if (acted) ++acted_;
      EXPECT_TRUE(!acted || RowMayAct(row->routine, ends))
          << name << ": row " << int(row - ScannerTable) << " acts, screen says no";
    }
  }
  void SetUp() override {
    MachineTest::SetUp();
    InstallMainWindow();
    ActionMode = ActionReport;
  }
  int checked_ = 0, acted_ = 0;
};

TEST_F(RowScreenTest, ForgeCorpusAndNearMissesPassTheirScreens) {
  std::vector<forge::CorpusEntry> corpus;
  std::string why;
  const std::string dir = NewHostDir();
  ASSERT_TRUE(forge::WriteCorpus(dir, 0, &corpus, &why)) << why;
  int samples = 0;
  for (const forge::CorpusEntry& e : corpus) {
    Bytes bytes;
    ASSERT_TRUE(forge::ReadBytes(dir + "/" + e.path, &bytes)) << e.path;
    if (!e.expected.empty()) {
      ++samples;
      EXPECT_TRUE(AnyRowMayAct(ScannerTable, EndsOf(bytes))) << e.path;
    }
    std::string name = e.path;
    for (char& c : name)
      if (c == '/') c = '_';
    Check(name, bytes);
  }
  EXPECT_GT(samples, 0);
  EXPECT_EQ(acted_, samples);
}

TEST_F(RowScreenTest, WormSamplesAndMissesPassTheirScreens) {
  const Bytes host = forge::SyntheticHost();
  struct Case {
    const char* variant;
    std::string sectionName;
    uint32_t characteristics;
  };
  const Case cases[] = {{"N", "", 0xE0000020}, {"O", "", 0xE0000020}, {"Q", "", 0xE0000020},
                        {"N", ".wrm", 0xE0000020}, {"O", "", 0x60000020}};
  int n = 0;
  for (const Case& c : cases) {
    forge::WormOptions o;
    o.sectionName = c.sectionName;
    o.characteristics = c.characteristics;
    Bytes out;
    std::string why;
    ASSERT_TRUE(forge::InfectWithWorm(host, c.variant, o, &out, &why)) << why;
    Check("worm" + std::to_string(n++) + ".exe", out);
  }
  Check("host.exe", host);
  EXPECT_EQ(acted_, 3);
}

TEST_F(RowScreenTest, ScriptSamplesAndMissesPassTheirScreens) {
  const forge::ScriptMiss misses[] = {forge::ScriptMiss::None, forge::ScriptMiss::SizeBelow,
                                      forge::ScriptMiss::SizeAbove,
                                      forge::ScriptMiss::OutsideRegion,
                                      forge::ScriptMiss::NoTextGate};
  int made = 0;
  for (int record = 0; record < ScriptSignatureCount; ++record) {
    for (forge::ScriptMiss miss : misses) {
      for (bool reflow : {false, true}) {
        forge::ScriptOptions o;
        o.miss = miss;
        o.reflow = reflow;
        Bytes out;
        std::string why;
        if (!forge::ScriptSample(record, o, &out, &why)) continue;
        ++made;
        Check("s" + std::to_string(record) + "_" + std::to_string(int(miss)) +
                  (reflow ? "r" : "") + ".htm",
              out);
      }
    }
  }
  EXPECT_GT(made, 2 * ScriptSignatureCount);
  EXPECT_GT(acted_, 0);
}

// Odd shapes around each screen's edges, and the plain files a screen must
// let through without a full scan.
TEST_F(RowScreenTest, EdgesAndPlainFiles) {
  // A record without a size rule, found in the last region: only the text
  // gates stand between these files and a match.
  Bytes big(20000, 'x');
  big[19990] = '\n';  // a line feed in the last chunk only
  Bytes tag(3000, 0x90);
  const std::string end = "</Html>";
  std::copy(end.begin(), end.end(), tag.end() - 20);
  const Bytes bigClean = big, tagClean = tag;
  const Bytes found = Pattern(5);
  std::copy(found.begin(), found.end(), big.begin() + 17000);
  std::copy(found.begin(), found.end(), tag.begin() + 100);
  const struct {
    const char* name;
    Bytes bytes;
    bool anyMayAct;
  } cases[] = {
      {"empty", {}, false},
      {"plain.bin", Bytes(5000, 0x90), false},
      {"long.txt", Bytes(30000, 'a'), false},
      {"pk", Text("PK"), true},
      {"rar", Text("Rar!"), true},
      {"lf_tail.txt", big, true},
      {"tag.htm", tag, true},
      {"lf_tail_clean.txt", bigClean, false},
      {"tag_clean.htm", tagClean, false},
      {"pe_small", PeAt(0x80, 1000), false},
      {"pe_header_far", PeAt(0x9000, 0x10001), false},
      {"pe_cut", PeAt(0x80, 0x90), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AnyRowMayAct(ScannerTable, EndsOf(c.bytes)), c.anyMayAct) << c.name;
    Check(c.name, c.bytes);
  }
  // Headers beyond both ends, not read: nothing can be ruled out.
  EXPECT_TRUE(AnyRowMayAct(ScannerTable, EndsOf(PeAt(0x9000, 0x10001), false)));
  EXPECT_TRUE(AnyRowMayAct(ScannerTable, EndsOf(Bytes(30000, 'a'), false)));
}

// The script row's screen runs its record loop: on files shaped around the
// loop's edges (the regions' bounds, the lengths where the two regions meet,
// the size windows, whitespace before a fixed position) it answers exactly
// what the row does; where the ends do not hold a region it says "maybe".
TEST_F(RowScreenTest, ScriptScreenMatchesWhereTheRowDoes) {
  const Bytes tail5 = Pattern(5);   // found anywhere in the last region, any length
  const Bytes head1 = Pattern(1);   // found anywhere in the first region, 1742 -/+ 4096
  const Bytes start11 = Pattern(11);  // at the start of the first region, 111 -/+ 4096
  const Bytes at19 = Pattern(12);     // 19 bytes into the first region, whitespace left out
  const Bytes end2 = Pattern(2);      // 114 bytes before the end, whitespace left out
  const auto tailFixed = [&](int after) {
    const Bytes end = Join(end2, Spaced(after));
    return TextWith(134625, 134625 - end.size(), end);
  };
  const struct {
    const char* name;
    Bytes bytes;
    bool acts;
  } cases[] = {
      {"4095 bytes, both regions one", TextWith(4095, 1, tail5), true},
      {"4096 bytes, at the very end", TextWith(4096, 3996, tail5), true},
      {"8192 bytes, across the last region's start", TextWith(8192, 4046, tail5), false},
      {"8192 bytes, at the last region's start", TextWith(8192, 4096, tail5), true},
      {"8193 bytes, one byte before the last region", TextWith(8193, 4096, tail5), false},
      {"8193 bytes, at the last region's start", TextWith(8193, 4097, tail5), true},
      {"5000 bytes, ending with the first region", TextWith(5000, 3996, head1), true},
      {"5000 bytes, across the first region's end", TextWith(5000, 3997, head1), false},
      {"4207 bytes, the size window's top", TextWith(4207, 1, start11), true},
      {"4208 bytes, above the size window", TextWith(4208, 1, start11), false},
      {"19 letters in whitespace before", TextWith(1123, 1, Join(Spaced(19), at19)), true},
      {"18 letters in whitespace before", TextWith(1123, 1, Join(Spaced(18), at19)), false},
      {"14 letters in whitespace after", tailFixed(14), true},
      {"13 letters in whitespace after", tailFixed(13), false},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string path = "C:\\screen\\edge" + std::to_string(n++) + ".htm";
    WriteFile(path, std::string(c.bytes.begin(), c.bytes.end()));
    const int infected = FilesInfected;
    ScanScriptFile("script", path.c_str());
    EXPECT_EQ(FilesInfected != infected, c.acts) << c.name << ": the row";
    EXPECT_EQ(ScriptRowMayAct(EndsOf(c.bytes)), c.acts) << c.name << ": the screen";
  }
  // A region the ends do not hold whole: "maybe", whatever the rest says.
  const Bytes clean = TextWith(9000, 0, {});
  FileEnds ends = EndsOf(clean);
  EXPECT_FALSE(ScriptRowMayAct(ends));
  ends.tailLength = ScreenEndSize - 1;
  ends.tail += 1;
  EXPECT_TRUE(ScriptRowMayAct(ends)) << "the last region cut short";
  const Bytes small = TextWith(3000, 0, {});
  ends = EndsOf(small);
  ends.headLength = 2000;
  EXPECT_TRUE(ScriptRowMayAct(ends)) << "a short file read in part";
}

// Screens on two threads while a third prepares the patterns: the records'
// unscrambled copy is made once, safely, and the answers do not change
// (the thread sanitizer build runs this).
TEST(RowScreenThreads, ScriptScreensRunBesideThePreparation) {
  const Bytes hit = TextWith(9000, 5000, forge::ScriptPattern(5));  // not from the copy
  const Bytes miss = TextWith(9000, 0, {});
  bool wrong[2] = {false, false};
  std::vector<std::thread> screens;
  for (int t = 0; t < 2; ++t)
    screens.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i)
        if (!ScriptRowMayAct(EndsOf(hit)) || ScriptRowMayAct(EndsOf(miss))) wrong[t] = true;
    });
  PrepareScriptSignatures();
  for (auto& s : screens) s.join();
  EXPECT_FALSE(wrong[0] || wrong[1]);
}

}  // namespace
