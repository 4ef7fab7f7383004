// The script and page cleaner's text gates, whitespace stripping, pattern
// search, and every record against its forged sample and near misses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <cstring>
#include <vector>

#include "scanners/script_match.h"
#include "scanners/script_scanner.h"
#include "tests/support/machine_fixture.h"
#include "tools/forge/forge_worm_script.h"

namespace {

const char File[] = "C:\\page.htm";

class ScriptTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    if (!PatternsPrepared) {
      PatternsPrepared = true;
      PrepareScriptSignatures();
    }
  }
  // Runs `gate` on a file holding `content`.
  int Gate(int (*gate)(int), const std::string& content) {
    WriteFile(File, content);
    const int fd = _open(File, _O_RDONLY | _O_BINARY);
    EXPECT_GE(fd, 0);
    const int result = gate(fd);
    _close(fd);
    return result;
  }
  // The record MatchScriptSignature finds in `content`: its 1-based number, or 0.
  int Match(const std::string& content) {
    WriteFile(File, content);
    const int fd = _open(File, _O_RDONLY | _O_BINARY);
    const ScriptSignature* match = nullptr;
    const int found = MatchScriptSignature(fd, &match);
    _close(fd);
    return found ? int(match - ScriptSignatureTable) + 1 : 0;
  }
  std::string Sample(int record, forge::ScriptOptions o = {}) {
    forge::Bytes b;
    std::string why;
    EXPECT_TRUE(forge::ScriptSample(record - 1, o, &b, &why)) << record << ": " << why;
    return std::string(b.begin(), b.end());
  }
};

std::string WithByte(size_t length, size_t at, char c, char fill = 'a') {
  std::string s(length, fill);
  if (at < length) s[at] = c;
  return s;
}

TEST_F(ScriptTest, LineFeedGate) {
  struct Case {
    const char* what;
    std::string content;
    int expected;
  };
  std::string zeroFirst = WithByte(3000, 10, '\0');
  zeroFirst[20] = '\n';
  std::string secondChunk = WithByte(1000, 300, '\0');  // only the chunk at 488 sees it
  secondChunk[600] = '\n';
  const Case cases[] = {
      {"80 bytes, no line feed", std::string(80, 'a'), 0},
      {"80 bytes, line feed at the end", WithByte(80, 79, '\n'), 1},
      {"1000 bytes: 512-byte chunks at 0 and 488 cover it", WithByte(1000, 500, '\n'), 1},
      {"1000 bytes, line feed at 487", WithByte(1000, 487, '\n'), 1},
      {"1025 bytes: the first chunk is 1024", WithByte(1025, 1023, '\n'), 1},
      {"3000 bytes, line feed in the middle only", WithByte(3000, 1500, '\n'), 0},
      {"3000 bytes, line feed in the last chunk", WithByte(3000, 2990, '\n'), 1},
      {"a zero byte before the first chunk's line feed", zeroFirst, 0},
      {"1000 bytes, zero at 300, line feed at 600", secondChunk, 1},
      {"empty file", "", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(Gate(HasLineFeed, c.content), c.expected) << c.what;
}

TEST_F(ScriptTest, ClosingTagGate) {
  const std::string pad(300, 'x');
  struct Case {
    const char* what;
    std::string content;
    int expected;
  };
  const Case cases[] = {
      {"lower-case closing html tag", pad + "</html>", 1},
      {"closing body tag", pad + "</BODY>" + std::string(93, 'x'), 1},
      {"mixed-case closing script tag", pad + "</ScRiPt>", 1},
      {"tag just outside the last 100 bytes", pad + "</html>" + std::string(94, 'x'), 0},
      {"tag after a zero byte", pad + std::string(1, '\0') + "</html>", 0},
      {"file shorter than 100 bytes", "</html>", 0},
      {"opening tag only", pad + "<html>", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(Gate(EndsWithClosingTag, c.content), c.expected) << c.what;
}

TEST(ScriptText, StripWhitespaceKeepsEverythingElse) {
  const uint8_t in[] = {' ', 'a', '\t', '\n', '\v', '\f', '\r', 0, 0x1F, 0xA0, 0x85, 'b', ' '};
  uint8_t out[sizeof in];
  const uint8_t kept[] = {'a', 0, 0x1F, 0xA0, 0x85, 'b'};
  ASSERT_EQ(StripWhitespace(in, out, int(sizeof in)), int(sizeof kept));
  EXPECT_EQ(std::memcmp(out, kept, sizeof kept), 0);
}

// Every byte value at every place of a run of words, against a plain
// byte-by-byte filter.
TEST(ScriptText, StripWhitespaceKeepsEveryOtherByteValueAtAnyPlace) {
  for (int value = 0; value < 256; ++value) {
    for (int length : {1, 7, 8, 9, 16, 17, 31}) {
      for (int at = 0; at < length; ++at) {
        std::vector<uint8_t> in(size_t(length), 'a'), out(size_t(length), 0xEE), kept;
        in[size_t(at)] = uint8_t(value);
        if (at + 1 < length) in[size_t(at) + 1] = '\t';
        for (uint8_t b : in) {
          if (!(b == ' ' || (b >= 9 && b <= 13))) kept.push_back(b);
        }
        ASSERT_EQ(StripWhitespace(in.data(), out.data(), length), int(kept.size()))
            << value << " " << length << " " << at;
        ASSERT_TRUE(std::equal(kept.begin(), kept.end(), out.begin())) << value << " " << at;
      }
    }
  }
}

TEST(ScriptText, FindPatternStaysInsideLimitAndBuffer) {
  uint8_t block[ScriptWorkSize] = {};
  const uint8_t pattern[] = {'a', 'a', 'b'};
  std::memcpy(block + 10, "aaab", 4);  // the second 'a' starts the match
  EXPECT_EQ(FindPattern(block, 4096, pattern, 3), 1);
  EXPECT_EQ(FindPattern(block, 12, pattern, 3), 1) << "the match starts below the limit";
  EXPECT_EQ(FindPattern(block, 11, pattern, 3), 0) << "only its first byte's neighbour does";
  uint8_t edge[ScriptWorkSize] = {};
  edge[4095] = 'a';
  edge[4096] = 'a';
  EXPECT_EQ(FindPattern(edge, 4096, pattern, 3), 0) << "a candidate reaching past the buffer";
  const uint8_t two[] = {'a', 'a'};
  EXPECT_EQ(FindPattern(edge, 4096, two, 2), 1) << "the terminating byte is part of the buffer";
}

TEST_F(ScriptTest, EveryRecordFindsItsSampleAlsoReflowed) {
  for (int record = 1; record <= ScriptSignatureCount; ++record) {
    for (bool reflow : {false, true}) {
      forge::ScriptOptions o;
      o.reflow = reflow;
      EXPECT_EQ(Match(Sample(record, o)), record) << "record " << record << " reflow " << reflow;
    }
  }
}

// What the matcher reads of a file, and what a failure of each of those
// reads leaves: unmatched and uncounted, except for a failed read of the
// line feed gate when the closing tag gate passes.
TEST_F(ScriptTest, ReadsAndFailedReads) {
  const ScriptSignature& r = PlainScriptSignatures()[5];  // anywhere in the tail, any length
  const std::string p(reinterpret_cast<const char*>(r.Pattern), r.PatternLength);
  const struct {
    const char* what;
    std::string content;
    int reads;     // the first chunk, the last chunk, the tag window, the regions
    int survived;  // the first reads whose failure still leaves a match
  } cases[] = {
      {"line feed first, two regions", "\n" + std::string(9000, 'x') + p, 1 + 2, 0},
      {"closing tag only, two regions", std::string(9000, 'x') + p + "</html>", 2 + 1 + 2, 2},
      {"line feed first, one region", "\n" + std::string(3000, 'x') + p, 1 + 1, 0},
  };
  for (const auto& c : cases) {
    const int before = emu::CallCount("_read");
    ASSERT_EQ(Match(c.content), 6) << c.what;
    EXPECT_EQ(emu::CallCount("_read") - before, c.reads) << c.what;
    for (int n = 0; n < c.reads; ++n) {
      emu::FailOperation("_read", File, ERROR_ACCESS_DENIED, 1, n);
      const int infected = FilesInfected;
      const bool survives = n < c.survived;
      EXPECT_EQ(Match(c.content), survives ? 6 : 0) << c.what << ", read " << n << " fails";
      EXPECT_EQ(FilesInfected, infected + (survives ? 1 : 0)) << c.what << ", read " << n << " fails";
    }
  }
}

TEST_F(ScriptTest, NearMissesOfTheSizeRulesAndRegions) {
  int misses = 0;
  for (int record = 1; record <= ScriptSignatureCount; ++record) {
    for (forge::ScriptMiss miss : {forge::ScriptMiss::SizeBelow, forge::ScriptMiss::SizeAbove,
                                   forge::ScriptMiss::OutsideRegion, forge::ScriptMiss::NoTextGate}) {
      forge::ScriptOptions o;
      o.miss = miss;
      forge::Bytes b;
      std::string why;
      if (!forge::ScriptSample(record - 1, o, &b, &why)) continue;  // not possible for it
      ++misses;
      EXPECT_EQ(Match(std::string(b.begin(), b.end())), 0)
          << "record " << record << " miss " << int(miss);
    }
  }
  EXPECT_GE(misses, 35);
}

TEST_F(ScriptTest, SizeWindowEdgesStillMatch) {
  int edges = 0;
  for (int record = 1; record <= ScriptSignatureCount; ++record) {
    const ScriptSignature& r = ScriptSignatureTable[record - 1];
    if (r.SizeRule != ScriptSizeNear) continue;
    for (int64_t size : {int64_t(r.ReferenceSize) - 4096, int64_t(r.ReferenceSize) + 4096}) {
      forge::ScriptOptions o;
      o.size = uint32_t(size);
      forge::Bytes b;
      std::string why;
      if (size <= 0 || !forge::ScriptSample(record - 1, o, &b, &why)) continue;
      ++edges;
      EXPECT_EQ(Match(std::string(b.begin(), b.end())), record) << record << " at " << size;
    }
  }
  EXPECT_GE(edges, 15);
}

TEST_F(ScriptTest, RecordTwelveSizeWindow) {
  for (uint32_t size : {118u, 4207u}) {
    forge::ScriptOptions o;
    o.size = size;
    EXPECT_EQ(Match(Sample(12, o)), 12) << size;
  }
  // The pattern alone: 100 bytes pass the size test but not the text gate.
  const forge::Bytes p = forge::ScriptPattern(11);
  EXPECT_EQ(Match(std::string(p.begin(), p.end())), 0);
  EXPECT_EQ(Match(std::string(p.begin(), p.end()) + "\n"), 12);
  EXPECT_EQ(Match(" " + std::string(p.begin(), p.end()) + "\n"), 12) << "whitespace does not count";
  EXPECT_EQ(Match("x" + std::string(p.begin(), p.end()) + "\n"), 0) << "not at the start";
}

// The record loop over regions stripped whole, as the matcher once worked:
// the reference for matching in the regions as read.
int StrippedRegionsMatch(const std::string& content) {
  const auto strip = [](const std::string& raw) {
    std::string text;
    for (char c : raw) {
      const uint8_t b = uint8_t(c);
      if (!(b == ' ' || (b >= 9 && b <= 13))) text += c;
    }
    return text;
  };
  const long length = long(content.size());
  const bool whole = length < ScriptRegionSize;
  const std::string head = strip(whole ? content : content.substr(0, ScriptRegionSize));
  const std::string tail = whole ? head : strip(content.substr(content.size() - ScriptRegionSize));
  const int limit = whole ? int(length) : ScriptRegionSize;
  for (int i = 0; i < ScriptSignatureCount; ++i) {
    const ScriptSignature& r = PlainScriptSignatures()[i];
    if (r.PatternLength == 0 || r.PatternLength > ScriptPatternSize || length < r.PatternLength) continue;
    if (r.SizeRule == ScriptSizeExact && r.ReferenceSize != length) continue;
    if (r.SizeRule == ScriptSizeNear && std::abs(int64_t(r.ReferenceSize) - length) > ScriptSizeTolerance)
      continue;
    const std::string& text = r.Region == ScriptRegionHead ? head : tail;
    std::vector<uint8_t> work(ScriptWorkSize, 0);
    bool found;
    if (r.MatchKind == ScriptMatchSearch) {
      std::copy(text.begin(), text.end(), work.begin());
      found = FindPattern(work.data(), limit, r.Pattern, r.PatternLength) == 1;
    } else {
      const long from = r.Region == ScriptRegionHead ? r.Position : long(text.size()) - r.Position;
      if (from >= 0 && from < long(text.size()))
        std::copy(text.begin() + from, text.begin() + std::min<long>(long(text.size()), from + 100), work.begin());
      found = std::memcmp(work.data(), r.Pattern, r.PatternLength) == 0;
    }
    if (found) return i + 1;
  }
  return 0;
}

// Patterns spread over whitespace, cut short, repeated after a false start,
// across the ends of the regions and at the record's fixed place, in files
// at and around the record's size and the regions' size: the matcher finds
// what matching in the stripped regions finds.
TEST_F(ScriptTest, MatchingInTheRegionsAsReadEqualsMatchingInTheStrippedText) {
  std::mt19937 random(7);
  const char* const ws = " \t\r\n\v\f";
  const auto filler = [&](size_t n) {
    std::string s;
    while (s.size() < n) s += (random() % 5 ? char('a' + random() % 26) : ws[random() % 6]);
    return s;
  };
  const auto spread = [&](const std::string& p, int every) {
    std::string s;
    for (char c : p) {
      s += c;
      if (every && random() % every == 0) s += ws[random() % 6];
    }
    return s;
  };
  int cases = 0, found = 0;
  for (int record = 1; record <= ScriptSignatureCount; ++record) {
    const ScriptSignature& r = PlainScriptSignatures()[record - 1];
    const std::string p(reinterpret_cast<const char*>(r.Pattern), r.PatternLength);
    std::vector<long> sizes = {200, 4095, 4096, 4097, 8200};
    for (long d : {-4097L, -4096L, -3000L, 0L, 3000L, 4096L, 4097L}) sizes.push_back(long(r.ReferenceSize) + d);
    for (long size : sizes) {
      if (size < 150) continue;
      const size_t region = size_t(std::min<long>(size, ScriptRegionSize));
      for (int shape = 0; shape < 7; ++shape) {
        std::string needle = spread(p, shape % 3 == 0 ? 0 : 3 + shape);
        if (shape == 3) needle = spread(p.substr(0, p.size() - 1), 4);           // one byte short
        if (shape == 4) needle = spread(p.substr(0, 40), 5) + " " + needle;      // a false start
        std::string s = "\n" + filler(size_t(size));
        size_t at;
        switch (shape % 4) {
          case 0: at = size_t(random() % 3) + (r.MatchKind == ScriptMatchSearch ? 0 : r.Position); break;
          case 1: at = region > needle.size() / 2 ? region - needle.size() / 2 : 0; break;  // across the head's end
          case 2: at = size_t(size) > region + needle.size() / 2 ? size_t(size) - region - needle.size() / 2 : 0; break;
          default: at = size_t(size) > needle.size() + 2 ? size_t(size) - needle.size() - size_t(random() % 3) : 0;
        }
        if (shape >= 5) at = size_t(random() % size_t(size));
        s.replace(std::min(at, s.size()), std::min(needle.size(), s.size() - std::min(at, s.size())), needle);
        s.resize(size_t(size), 'q');
        s.back() = '\n';
        const int expected = StrippedRegionsMatch(s);
        ASSERT_EQ(Match(s), expected) << "record " << record << " size " << size << " shape " << shape;
        ++cases;
        found += expected != 0;
      }
    }
  }
  EXPECT_GE(cases, 800);
  EXPECT_GE(found, 120);
}

TEST_F(ScriptTest, FixedTailPositionCountsFromTheEndOfTheStrippedText) {
  // Record 3: the pattern starts 114 whitespace-free bytes before the end.
  std::string s = Sample(3);
  EXPECT_EQ(Match(s), 3);
  EXPECT_EQ(Match(s.substr(0, s.size() - 3) + "\r\n"), 0) << "one text byte fewer after it";
  EXPECT_EQ(Match(s + " \t\r\n"), 3) << "whitespace after it does not count";
}

}  // namespace
