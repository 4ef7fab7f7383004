// Pins the facts stated about the worm variants' and the script records'
// detection data: order, names, sizes, rules, regions and positions.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "scanners/script_match.h"
#include "scanners/script_signatures.h"
#include "scanners/worm_variants.h"
#include "tools/forge/forge_worm_script.h"

namespace {

TEST(WormVariantData, ThreeDescriptorsInOrder) {
  const struct {
    const char* name;
    bool any;
    int plaintext, field;
    bool complemented;
  } expected[] = {{"W32/Bagle.N.Worm", false, 48, 405, false},
                  {"W32/Bagle.O.Worm", false, 48, 404, false},
                  {"W32/Bagle.Q.Worm", true, 60, 405, true}};
  for (int i = 0; i < WormVariantCount; ++i) {
    const WormVariant& v = WormVariants[i];
    EXPECT_STREQ(v.Name, expected[i].name);
    EXPECT_EQ(v.AnyImmediate, expected[i].any);
    EXPECT_EQ(v.PlaintextLength, expected[i].plaintext);
    EXPECT_EQ(v.HostEntryOffset, expected[i].field);
    EXPECT_EQ(v.HostEntryComplemented, expected[i].complemented);
    EXPECT_EQ(v.Immediate != nullptr, !expected[i].any);
  }
  EXPECT_NE(WormImmediateN, WormImmediateO);
  EXPECT_NE(WormImmediateN & 0xFF, WormImmediateO & 0xFF);
  EXPECT_NE(std::memcmp(WormPlaintextN, WormPlaintextO, 48), 0);
  EXPECT_NE(std::memcmp(WormPlaintextN, WormPlaintextQ, 48), 0);
  // The host entry field lies beyond every plaintext.
  for (const WormVariant& v : WormVariants) EXPECT_LT(v.PlaintextLength, v.HostEntryOffset);
}

TEST(ScriptSignatureData, ThirteenRecordsInOrder) {
  const struct {
    const char* name;
    int32_t size;
    int16_t rule, region, kind, position;
  } expected[] = {
      {"VBS/Bagle.Q.Worm", 552, 17, 1, 1, 0},        {"VBS/Bagle.Q.Worm", 1742, 17, 0, 1, 0},
      {"W32/Bagle.Z.Worm", 134625, 17, 1, 0, 114},   {"W32/Bagle.Z.Worm", 135614, 17, 1, 0, 275},
      {"W32/Bagle.Aa.Worm", 72717, 17, 1, 1, 0},     {"W32/Bagle.Aa.Worm", 68734, 18, 1, 1, 0},
      {"W32/Bagle.Aa.Worm", 73741, 18, 1, 1, 0},     {"W32/Bagle.Aa.Worm", 73286, 17, 1, 1, 0},
      {"JS/Bagle.Aq.Worm", 1086, 17, 0, 1, 0},       {"W32/Bagle.Z.Worm", 31597, 17, 1, 1, 0},
      {"W32/Bagle.Z.Worm", 141588, 17, 1, 1, 0},     {"HTML/Bagle.Dl.A.Trojan", 111, 17, 0, 0, 0},
      {"HTML/Bagle.Dl.A.Trojan", 1123, 17, 0, 0, 19},
  };
  static_assert(sizeof expected / sizeof expected[0] == ScriptSignatureCount, "13 records");
  std::set<std::string> patterns;
  for (int i = 0; i < ScriptSignatureCount; ++i) {
    SCOPED_TRACE(i + 1);
    const ScriptSignature& r = ScriptSignatureTable[i];
    EXPECT_STREQ(r.Name, expected[i].name);
    EXPECT_LT(std::strlen(r.Name), size_t(ScriptNameSize));
    EXPECT_EQ(int32_t(r.ReferenceSize), expected[i].size);
    EXPECT_EQ(int16_t(r.SizeRule), expected[i].rule);
    EXPECT_EQ(int16_t(r.Region), expected[i].region);
    EXPECT_EQ(int16_t(r.MatchKind), expected[i].kind);
    EXPECT_EQ(int16_t(r.Position), expected[i].position);
    EXPECT_EQ(int(r.PatternLength), 100);
    // Unscrambled, a pattern is printable text free of whitespace.
    const forge::Bytes p = forge::ScriptPattern(i);
    ASSERT_EQ(p.size(), 100u);
    for (uint8_t b : p) EXPECT_TRUE(b > ' ' && b < 0x7F) << int(b);
    patterns.insert(std::string(p.begin(), p.end()));
  }
  EXPECT_EQ(patterns.size(), size_t(ScriptSignatureCount));
}

TEST(ScriptSignatureData, PreparingUnscramblesWithOneKeyByte) {
  PrepareScriptSignatures();
  const forge::Bytes plain = forge::ScriptPattern(0);
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ(uint8_t(ScriptSignatureTable[0].Pattern[i] ^ ScriptSignatureKey), plain[size_t(i)])
        << "the stored table stays scrambled";
    EXPECT_EQ(PlainScriptSignatures()[0].Pattern[i], plain[size_t(i)]);
  }
  EXPECT_EQ(std::string(plain.begin(), plain.begin() + 4), "Next");
}

}  // namespace
