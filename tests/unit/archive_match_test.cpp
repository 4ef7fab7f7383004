// The eight archive matchers: each member's band limits and entry rules,
// the name check, the end-of-archive rules, and archives cut at every byte.
#include <gtest/gtest.h>

#include <string>

#include "platform/system.h"
#include "scanners/archive_match.h"
#include "tests/support/machine_fixture.h"
#include "tools/forge/forge.h"

namespace {

using Matcher = int (*)(int);
const Matcher kMatchers[8] = {MatchArchive1, MatchArchive2, MatchArchive3, MatchArchive4,
                              MatchArchive5, MatchArchive6, MatchArchive7, MatchArchive8};

class ArchiveMatchTest : public MachineTest {
 protected:
  // Bit k set when MatchArchive(k+1) answers 1 for the bytes.
  unsigned Matches(const forge::Bytes& bytes) {
    WriteFile("C:\\a.bin", std::string(bytes.begin(), bytes.end()));
    int fd = _open("C:\\a.bin", _O_RDONLY | _O_BINARY);
    EXPECT_GE(fd, 0);
    unsigned bits = 0;
    for (int k = 0; k < 8; ++k)
      if (kMatchers[k](fd)) bits |= 1u << k;
    _close(fd);
    return bits;
  }
  // Number (1-8) of the first member that matches, 0 for none.
  int First(const forge::Bytes& bytes) {
    unsigned bits = Matches(bytes);
    for (int k = 0; k < 8; ++k)
      if (bits & (1u << k)) return k + 1;
    return 0;
  }
  static forge::Bytes Zip(const char* variant, forge::ArchiveOptions o = {}) {
    forge::Bytes b;
    EXPECT_TRUE(forge::ZipWorm(variant, o, &b));
    return b;
  }
  static forge::Bytes Rar(const char* variant, forge::ArchiveOptions o = {}) {
    forge::Bytes b;
    EXPECT_TRUE(forge::RarWorm(variant, o, &b));
    return b;
  }
  static uint32_t Get32(const forge::Bytes& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
  }
  static forge::ArchiveOptions Sized(uint32_t size, int method = -1) {
    forge::ArchiveOptions o;
    o.entrySize = size;
    o.method = method;
    return o;
  }
};

TEST_F(ArchiveMatchTest, EachWormIsFoundByItsMember) {
  EXPECT_EQ(First(Zip("H")), 1);
  EXPECT_EQ(First(Zip("K")), 2);
  EXPECT_EQ(First(Zip("J")), 3);
  EXPECT_EQ(First(Zip("N")), 4);
  EXPECT_EQ(First(Zip("O")), 5);
  EXPECT_EQ(First(Rar("N")), 6);
  EXPECT_EQ(First(Rar("O")), 7);
  EXPECT_EQ(First(Zip("Aa")), 8);
}

TEST_F(ArchiveMatchTest, StoredMembersBandLimits) {
  // Variant H's archive layout (stored, packed = size + 12) at each size.
  const struct {
    uint32_t size;
    unsigned members;  // bits of members 1 to 5 and 8 that match
  } cases[] = {
      {0x2BFF, 0},      {0x2C00, 1u << 1}, {0x3C00, 1u << 1}, {0x3C01, 0},
      {0x43FF, 0},      {0x4400, 1u << 2 | 1u << 7}, {0x4BFF, 1u << 2 | 1u << 7},
      // 19,456 lies in members 1, 3, 4 and 8: member 1 is tried first.
      {0x4C00, 1u << 0 | 1u << 2 | 1u << 3 | 1u << 7},
      {0x6000, 1u << 0 | 1u << 3 | 1u << 7}, {0x6001, 1u << 0 | 1u << 7},
      {0x6400, 1u << 0 | 1u << 7}, {0x6401, 1u << 7}, {0x7800, 1u << 7}, {0x7801, 0},
      {0xA7FF, 0},      {0xA800, 1u << 4}, {0xBC00, 1u << 4}, {0xBC01, 0},
      {0x103FF, 0},     {0x10400, 1u << 7}, {0x12400, 1u << 7}, {0x12401, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Matches(Zip("H", Sized(c.size))), c.members) << std::hex << c.size;
  }
}

TEST_F(ArchiveMatchTest, StoredMembersNeedTwelveBytesMoreAndMethodZero) {
  forge::ArchiveOptions o = Sized(20000);
  o.packedSize = 20000 + 11;
  EXPECT_EQ(Matches(Zip("H", o)) & 0x7, 0u);
  o.packedSize = 20000 + 13;
  EXPECT_EQ(Matches(Zip("H", o)) & 0x7, 0u);
  o.packedSize = 20000 + 12;
  o.method = 8;
  EXPECT_EQ(Matches(Zip("H", o)) & 0x7, 0u);
  // A packed size below the entry size wraps and is never 12 more.
  o.method = 0;
  o.packedSize = 20000 - 4;
  EXPECT_EQ(Matches(Zip("H", o)) & 0x7, 0u);
}

TEST_F(ArchiveMatchTest, MethodRuleRefusesOnlyBitsOneAndTwo) {
  for (int method = 0; method <= 17; ++method) {
    bool allowed = (method & 6) == 0;
    unsigned bits = Matches(Zip("N", Sized(22000, method)));
    EXPECT_EQ(bool(bits & (1u << 3)), allowed) << method;
    EXPECT_EQ(bool(bits & (1u << 7)), allowed) << method;
  }
  // Only the low byte counts.
  EXPECT_TRUE(Matches(Zip("N", Sized(22000, 0x0608))) & (1u << 3));
}

TEST_F(ArchiveMatchTest, EntryMustBeEncrypted) {
  forge::ArchiveOptions o;
  o.encrypted = false;
  for (const char* v : {"H", "K", "J", "N", "O", "Aa"}) EXPECT_EQ(Matches(Zip(v, o)), 0u) << v;
  for (const char* v : {"N", "O"}) EXPECT_EQ(Matches(Rar(v, o)), 0u) << v;
}

TEST_F(ArchiveMatchTest, NameCheck) {
  const struct {
    std::string name;
    bool passes;
  } cases[] = {
      {"a.exe", true},       {"a.EXE", true},          {"a.Scr", true},   {"a.com", true},
      {"a.bat", true},       {"a.pif", true},          {"a.txt", false},  {"a.exe.txt", false},
      {"a.txt.exe", true},   {"noextension", true},    {"a.", false},     {"a.exee", false},
      {"", true},            {std::string(294, 'n') + ".txt", false},  // 298 bytes
      {std::string(295, 'n') + ".txt", false},                         // 299 bytes: read
      {std::string(296, 'n') + ".txt", true},                          // 300 bytes: not read
      {std::string(1000, 'n') + ".txt", true},
  };
  for (const auto& c : cases) {
    forge::ArchiveOptions o;
    o.name = c.name;
    EXPECT_EQ(First(Zip("H", o)), c.passes ? 1 : 0) << c.name.size() << " " << c.name.substr(0, 12);
    EXPECT_EQ(First(Rar("N", o)), c.passes ? 6 : 0) << c.name.size() << " " << c.name.substr(0, 12);
  }
}

TEST_F(ArchiveMatchTest, EndOfArchiveRules) {
  forge::ArchiveOptions o;
  o.secondEntry = true;
  EXPECT_EQ(Matches(Zip("H", o)), 0u);
  EXPECT_EQ(Matches(Zip("Aa", o)), 0u);

  // The end record right after the one central entry must count 1 twice.
  forge::Bytes b = Zip("H");
  const size_t end = b.size() - 22;
  for (size_t field : {end + 8, end + 10}) {
    forge::Bytes two = b;
    two[field] = 2;
    EXPECT_EQ(Matches(two), 0u) << field - end;
  }

  // Short end record: members 1 to 5 refuse, member 8 accepts.
  for (int kept : {0, 1, 21}) {
    o = {};
    o.endRecordBytes = kept;
    EXPECT_EQ(Matches(Zip("H", o)), 1u << 7) << kept;
    EXPECT_EQ(Matches(Zip("Aa", o)), 1u << 7) << kept;
    EXPECT_EQ(Matches(Zip("K", o)), 0u) << kept;
  }

  // Cut right after the entry's data, or inside the central directory:
  // still a match.
  const size_t entryEnd = 30 + std::string("details.scr").size() + 20012;
  for (size_t cut : {entryEnd, entryEnd + 1, entryEnd + 45}) {
    o = {};
    o.cut = int64_t(cut);
    EXPECT_EQ(First(Zip("H", o)), 1) << cut;
  }
  // Extra field bytes move every later position.
  o = {};
  o.extraLength = 9;
  EXPECT_EQ(First(Zip("H", o)), 1);
}

TEST_F(ArchiveMatchTest, AShortEndRecordCountsOnlyBehindARealCentralDirectory) {
  // A user's encrypted archive: tool.exe (20,000 bytes, stored) and a short
  // readme.txt, central directory and end record counting 2. Read as a
  // central header, readme.txt's local header names an end record past the
  // end of the file; that is no sign of a cut archive.
  forge::ArchiveOptions user;
  user.name = "tool.exe";
  user.secondEntry = user.secondEncrypted = true;
  user.secondSize = 1200;
  forge::ArchiveOptions cut;
  cut.name = "tool.exe";
  cut.cut = 30 + 8 + 20012;  // right after the entry's data
  forge::ArchiveOptions shortEnd;
  shortEnd.name = "tool.exe";
  shortEnd.endRecordBytes = 10;
  const struct {
    const char* what;
    forge::ArchiveOptions options;
    unsigned members;
  } cases[] = {
      {"two entries", user, 0},
      {"cut after its entry", cut, 1u << 0 | 1u << 3 | 1u << 7},
      {"one entry, end record of 10 bytes", shortEnd, 1u << 7},
  };
  for (const auto& c : cases) EXPECT_EQ(Matches(Zip("H", c.options)), c.members) << c.what;
}

TEST_F(ArchiveMatchTest, RarRules) {
  forge::ArchiveOptions o;
  o.packedSize = 20000;  // unpacked equal to packed is fine
  EXPECT_EQ(First(Rar("N", o)), 6);
  o.packedSize = 19999;
  EXPECT_EQ(First(Rar("N", o)), 0);
  o = {};
  o.method = 0x31;
  EXPECT_EQ(First(Rar("N", o)), 0);
  for (uint32_t size : {0x4BFFu, 0x4C00u, 0x6400u, 0x6401u, 0xA7FFu, 0xA800u, 0xBC00u, 0xBC01u}) {
    unsigned bits = Matches(Rar("N", Sized(size)));
    bool six = size >= 0x4C00 && size <= 0x6400, seven = size >= 0xA800 && size <= 0xBC00;
    EXPECT_EQ(bits, (six ? 1u << 5 : 0) | (seven ? 1u << 6 : 0)) << std::hex << size;
  }
  // Header sizes that point past the end, or at the marker itself.
  forge::Bytes b = Rar("N");
  b[5] = 0xFF;
  b[6] = 0xFF;
  EXPECT_EQ(First(b), 0);
  b = Rar("N");
  b[5] = 0;
  b[6] = 0;
  EXPECT_EQ(First(b), 0);
}

TEST_F(ArchiveMatchTest, PositionsAreComputedIn32Bits) {
  // A packed size that puts the end of the entry at 2 GB or beyond cannot
  // be sought to: read as an archive cut after its entry.
  forge::ArchiveOptions o = Sized(22000);
  o.packedSize = 0x7FFFFFFF;
  EXPECT_EQ(First(Zip("N", o)), 4);
  // One that wraps to offset 0 reads the local header as the central one;
  // the end record it names lies past the file, and with no central header
  // there even member 8 refuses.
  o.packedSize = 0x100000000LL - (30 + int64_t(std::string("information.exe").size()));
  EXPECT_EQ(Matches(Zip("N", o)), 0u);
  // Maximal name and extra lengths: the name is not read and the entry's
  // end lies past the file.
  forge::Bytes b = Zip("H");
  b[26] = b[27] = b[28] = b[29] = 0xFF;
  EXPECT_EQ(First(b), 1);
}

TEST_F(ArchiveMatchTest, ArchivesCutAtEveryByte) {
  // Every prefix of each worm: no crash, no read past the buffers, and the
  // answers the cut-archive rules give.
  for (const char* v : {"H", "Aa"}) {
    forge::Bytes whole = Zip(v);
    const size_t nameEnd = 30 + size_t(whole[26] | whole[27] << 8);
    const size_t entryEnd = nameEnd + size_t(Get32(whole, 18));
    for (size_t n = 0; n <= whole.size(); n += (n > nameEnd + 8 && n + 200 < entryEnd) ? 97 : 1) {
      forge::Bytes cut(whole.begin(), whole.begin() + n);
      // Whole name but no whole central header: a cut archive, a match.
      // Whole central header but no whole end record: only member 8.
      int expected = 0;
      if (n >= nameEnd) expected = std::string(v) == "H" ? 1 : 8;
      if (n >= entryEnd + 46 && n < whole.size()) expected = 8;
      ASSERT_EQ(First(cut), expected) << v << " cut at " << n;
    }
  }
  forge::Bytes rar = Rar("N");
  const size_t nameEnd = 7 + 13 + 32 + std::string("photos.exe").size();
  for (size_t n = 0; n <= nameEnd + 2; ++n) {
    forge::Bytes cut(rar.begin(), rar.begin() + n);
    ASSERT_EQ(First(cut), n >= nameEnd ? 6 : 0) << "rar cut at " << n;
  }
}

TEST_F(ArchiveMatchTest, OtherFilesCostOneSmallReadPerMember) {
  WriteFile("C:\\a.txt", std::string(5000, 'x'));
  int fd = _open("C:\\a.txt", _O_RDONLY | _O_BINARY);
  for (Matcher m : kMatchers) EXPECT_EQ(m(fd), 0);
  _close(fd);
  EXPECT_EQ(emu::BytesRead(), 6 * 30 + 2 * 7);
}

}  // namespace
