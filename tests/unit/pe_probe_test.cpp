// PE header probes: where they look, what they refuse, and how addresses
// map to file offsets, quirks included.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/system.h"
#include "scanners/pe_probe.h"
#include "tests/support/machine_fixture.h"

namespace {

struct Section {
  uint32_t va, vsize, raw;
};

// A minimal header image: 16-bit-visible header offset at 0x3C, "PE\0\0",
// the file header, a 224-byte optional header, then the section table.
struct PeFile {
  uint32_t headerOffset = 0x80;
  uint16_t count = 0xFFFF;  // default: sections.size()
  uint32_t entryPoint = 0x1000;
  uint32_t sizeOfHeaders = 0x400;
  std::vector<Section> sections;
  size_t length = 0x2000;

  std::string Bytes() const {
    std::string b(std::max<size_t>(length, headerOffset + 248 + 40 * sections.size()), '\0');
    auto put32 = [&](size_t at, uint32_t v) {
      for (int i = 0; i < 4; ++i) b[at + i] = char(v >> (8 * i));
    };
    put32(0x3C, headerOffset);
    const size_t pe = headerOffset & 0xFFFF;
    b.replace(pe, 4, std::string("PE\0\0", 4));
    uint16_t n = count == 0xFFFF ? uint16_t(sections.size()) : count;
    b[pe + 6] = char(n);
    b[pe + 7] = char(n >> 8);
    b[pe + 20] = char(224);
    put32(pe + 24 + 16, entryPoint);
    put32(pe + 24 + 60, sizeOfHeaders);
    for (size_t i = 0; i < sections.size(); ++i) {
      put32(pe + 248 + 40 * i + 8, sections[i].vsize);
      put32(pe + 248 + 40 * i + 12, sections[i].va);
      put32(pe + 248 + 40 * i + 20, sections[i].raw);
    }
    b.resize(length);
    return b;
  }
};

class PeProbeTest : public MachineTest {
 protected:
  void TearDown() override {
    if (fd_ >= 0) _close(fd_);
    MachineTest::TearDown();
  }
  int Open(const std::string& bytes) {
    if (fd_ >= 0) _close(fd_);
    WriteFile("C:\\probe.exe", bytes);
    fd_ = _open("C:\\probe.exe", _O_RDONLY | _O_BINARY);
    EXPECT_GE(fd_, 0);
    return fd_;
  }
  int fd_ = -1;
};

TEST_F(PeProbeTest, HeaderNeedsOnlyThePeSignatureWhereTheOffsetPoints) {
  PeFile pe;
  std::string bytes = pe.Bytes();
  ASSERT_NE(bytes.substr(0, 2), "MZ");
  EXPECT_EQ(ReadPeHeader(Open(bytes)), 1);
  EXPECT_EQ(PeImage.PeHeaderOffset, 0x80);
  EXPECT_EQ(PeSectionCount(), 0);

  bytes[0x83] = 1;  // "PE\0\1"
  EXPECT_EQ(ReadPeHeader(Open(bytes)), 0);
}

TEST_F(PeProbeTest, HeaderRefusals) {
  struct Case {
    const char* what;
    uint32_t headerOffset;
    size_t length;
  } cases[] = {
      {"offset beyond the end", 0x3000, 0x2000},
      {"file ends inside the signature", 0x80, 0x82},
      {"file header cut short", 0x80, 0x80 + 4 + 19},
      {"file too short for the offset", 0x80, 0x3D},
  };
  for (const Case& c : cases) {
    PeFile pe;
    pe.headerOffset = c.headerOffset;
    std::string bytes = c.headerOffset < c.length ? pe.Bytes() : std::string(0x2000, '\0');
    if (c.headerOffset >= c.length) {
      bytes[0x3C] = char(c.headerOffset);
      bytes[0x3D] = char(c.headerOffset >> 8);
    }
    bytes.resize(c.length);
    EXPECT_EQ(ReadPeHeader(Open(bytes)), 0) << c.what;
  }
}

TEST_F(PeProbeTest, OnlyTheLow16BitsOfTheHeaderOffsetCount) {
  // A header at 0x10080 is looked for at 0x80.
  PeFile pe;
  pe.length = 0x10200;
  std::string bytes = pe.Bytes();
  bytes[0x3E] = 1;
  EXPECT_EQ(ReadPeHeader(Open(bytes)), 1);
  EXPECT_EQ(PeImage.PeHeaderOffset, 0x80);

  // A genuine header at 0x10000 is never found.
  std::string far(0x10200, '\0');
  far[0x3E] = 1;
  far.replace(0x10000, 4, std::string("PE\0\0", 4));
  EXPECT_EQ(ReadPeHeader(Open(far)), 0);
}

TEST_F(PeProbeTest, SectionCountLimitIsTwenty) {
  for (int n : {0, 1, 20, 21}) {
    PeFile pe;
    pe.sections.assign(n, Section{0x1000, 0x1000, 0x400});
    ASSERT_EQ(ReadPeHeader(Open(pe.Bytes())), 1) << n;
    EXPECT_EQ(ReadPeSections(fd_), n <= 20 ? 1 : 0) << n;
  }
}

TEST_F(PeProbeTest, SectionsFailWhenTheirBytesAreMissing) {
  PeFile pe;
  pe.sections.assign(3, Section{0x1000, 0x1000, 0x400});
  pe.length = 0x80 + 248 + 2 * 40 + 39;  // third header one byte short
  ASSERT_EQ(ReadPeHeader(Open(pe.Bytes())), 1);
  EXPECT_EQ(ReadPeSections(fd_), 0);

  pe.sections.clear();
  pe.length = 0x80 + 24 + 95;  // optional header one byte short
  ASSERT_EQ(ReadPeHeader(Open(pe.Bytes())), 1);
  EXPECT_EQ(ReadPeSections(fd_), 0);
}

TEST_F(PeProbeTest, SectionTableIsReadAtTheStandardPlace) {
  // The optional header claims 240 bytes and the real table follows it;
  // the probe still reads at +248 and sees other bytes.
  PeFile pe;
  pe.sections.push_back({0x1000, 0x800, 0x400});
  std::string bytes = pe.Bytes();
  bytes[0x80 + 20] = char(240);
  std::string table = bytes.substr(0x80 + 248, 40);
  bytes.replace(0x80 + 248, 40, std::string(40, '\x11'));
  bytes.replace(0x80 + 264, 40, table);
  ASSERT_EQ(ReadPeHeader(Open(bytes)), 1);
  ASSERT_EQ(ReadPeSections(fd_), 1);
  EXPECT_EQ(PeImage.SectionTable[12], 0x11);  // virtual address: filler bytes
}

TEST_F(PeProbeTest, TableIsClearedBetweenFiles) {
  PeFile three;
  three.sections.assign(3, Section{0x1000, 0x1000, 0x400});
  ASSERT_EQ(ReadPeHeader(Open(three.Bytes())), 1);
  ASSERT_EQ(ReadPeSections(fd_), 1);
  PeFile one;
  one.sections.push_back({0x1000, 0x1000, 0x400});
  ASSERT_EQ(ReadPeHeader(Open(one.Bytes())), 1);
  ASSERT_EQ(ReadPeSections(fd_), 1);
  for (int i = 40; i < PeMaxSections * 40; ++i) ASSERT_EQ(PeImage.SectionTable[i], 0) << i;
}

TEST_F(PeProbeTest, AddressMapping) {
  const std::vector<Section> two = {{0x1000, 0x1000, 0x400}, {0x2000, 0x800, 0x1400}};
  struct Case {
    const char* what;
    std::vector<Section> sections;
    uint32_t address, expected;
  } cases[] = {
      {"inside the first section", two, 0x1010, 0x410},
      {"inside the second section", two, 0x2010, 0x1410},
      {"before the first section maps through it", two, 0xE00, 0x200},
      {"beyond every section maps through the last", two, 0x2A00, 0x1E00},
      {"a mapped offset past the end gives the address", two, 0x3000, 0x3000},
      {"a mapped offset of exactly 0 gives the headers' size", two, 0xC00, 0x400},
      {"no sections: the cleared first slot", {}, 0x123, 0x123},
      {"no sections, address 0: the headers' size", {}, 0, 0x400},
      {"the first section ending beyond wins over a later exact one",
       {{0x1000, 0x3000, 0x400}, {0x2000, 0x1000, 0x1800}}, 0x2010, 0x1410},
      {"a section end that wraps past 2^32 is small",
       {{0xFFFFF000, 0x2000, 0x400}, {0x1000, 0x1000, 0x800}}, 0x1100, 0x900},
      {"an address below a wrapped end maps through that section",
       {{0xFFFFF000, 0x2000, 0x400}, {0x1000, 0x1000, 0x800}}, 0x800, 0x1C00},
  };
  for (const Case& c : cases) {
    PeFile pe;
    for (const Section& section : c.sections) pe.sections.push_back(section);
    ASSERT_EQ(ReadPeHeader(Open(pe.Bytes())), 1) << c.what;
    ASSERT_EQ(ReadPeSections(fd_), 1) << c.what;
    EXPECT_EQ(RvaToFileOffset(c.address, fd_), c.expected) << c.what;
  }
}

}  // namespace
