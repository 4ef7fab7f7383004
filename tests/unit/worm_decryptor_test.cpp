// The decryptor emulation, the anchor and the loop-end searches on raw
// 500-byte blocks: instruction semantics, the step limit and the bounds.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "scanners/worm_decryptor.h"

namespace {

struct Block {
  uint8_t bytes[WormBlockSize] = {};
  // Writes `code` at `at` and returns the position after it.
  int Put(int at, std::vector<uint8_t> code) {
    std::memcpy(bytes + at, code.data(), code.size());
    return at + int(code.size());
  }
};

// Decrypts one body filled with `value` and answers the first two bytes.
bool Decrypt(const Block& b, int start, uint8_t counter, uint8_t value, uint8_t out[2]) {
  uint8_t body[WormBlockSize];
  std::memset(body, value, sizeof body);
  if (!EmulateWormDecryptor(b.bytes, start, counter, body)) return false;
  out[0] = body[0];
  out[1] = body[1];
  return true;
}

struct OpCase {
  const char* what;
  std::vector<uint8_t> code;
  uint8_t counter, in, first, second;
};

TEST(WormDecryptor, InstructionKinds) {
  const OpCase cases[] = {
      {"xor al, imm8", {0x34, 0x0F}, 0, 0x35, 0x3A, 0x3A},
      {"rol al, 1", {0xC0, 0xC0, 0x01}, 0, 0x81, 0x03, 0x03},
      {"ror al, 1", {0xC0, 0xC8, 0x01}, 0, 0x81, 0xC0, 0xC0},
      {"ror al, 0 changes nothing", {0xC0, 0xC8, 0x00}, 0, 0x5A, 0x5A, 0x5A},
      {"rotation count uses the low three bits", {0xC0, 0xC0, 0x09}, 0, 0x81, 0x03, 0x03},
      {"rol al, cl follows the counter down", {0xD2, 0xC0}, 2, 0x01, 0x04, 0x02},
      {"rol al, cl whatever the second byte", {0xD2, 0x17}, 1, 0x01, 0x02, 0x01},
      {"counter wraps from 0 to 255", {0xD2, 0xC0}, 0, 0x01, 0x01, 0x80},
      {"unknown bytes are skipped", {0x90, 0x41, 0x34, 0xFF}, 0, 0x00, 0xFF, 0xFF},
      {"order of instructions", {0x34, 0x01, 0xC0, 0xC0, 0x04}, 0, 0x10, 0x11, 0x11},
  };
  for (const OpCase& c : cases) {
    Block b;
    b.Put(b.Put(10, c.code), {0xAA, 0xE2});
    uint8_t out[2];
    ASSERT_TRUE(Decrypt(b, 10, c.counter, c.in, out)) << c.what;
    EXPECT_EQ(out[0], c.first) << c.what;
    EXPECT_EQ(out[1], c.second) << c.what;
  }
}

TEST(WormDecryptor, RefusesWhatItCannotEmulate) {
  struct Case {
    const char* what;
    int at;
    std::vector<uint8_t> code;
    bool ok;
  };
  std::vector<uint8_t> nops101(101, 0x90), nops102(102, 0x90);
  nops101.insert(nops101.end(), {0xAA, 0xE2});
  nops102.insert(nops102.end(), {0xAA, 0xE2});
  const Case cases[] = {
      {"101 instructions per byte", 0, nops101, true},
      {"102 instructions per byte", 0, nops102, false},
      {"shift group, unknown form", 0, {0xC0, 0xD0, 0x01, 0xAA, 0xE2}, false},
      {"no end pair before the block ends", 450, std::vector<uint8_t>(50, 0x90), false},
      {"end pair in the last two bytes", 498, {0xAA, 0xE2}, true},
      {"end pair cut by the block's end", 499, {0xAA}, false},
      {"shift group reaching past the end", 497, {0x90, 0xC0, 0xC0}, false},
      {"xor in the last two bytes, no room for the end", 498, {0x34, 0x01}, false},
  };
  for (const Case& c : cases) {
    Block b;
    b.Put(c.at, c.code);
    uint8_t out[2];
    EXPECT_EQ(Decrypt(b, c.at, 0, 0, out), c.ok) << c.what;
  }
  Block b;
  uint8_t out[2];
  EXPECT_FALSE(Decrypt(b, WormBlockSize + 1, 0, 0, out)) << "start beyond the block";
}

TEST(WormDecryptor, AnchorSearch) {
  static const uint32_t imm = 0x11223344;
  const WormVariant fixed{"fixed", false, &imm, nullptr, 0, 405, false};
  const WormVariant any{"any", true, nullptr, nullptr, 0, 405, true};
  uint8_t counter = 0;
  {
    Block b;  // the fixed anchor may end at the block's last byte
    b.Put(495, {0xB9, 0x44, 0x33, 0x22, 0x11});
    EXPECT_EQ(FindWormAnchor(b.bytes, fixed, &counter), 495);
    EXPECT_EQ(counter, 0x44);
    EXPECT_EQ(FindWormAnchor(b.bytes, any, &counter), -1) << "no lodsb after it";
  }
  {
    Block b;  // any immediate, followed by lodsb; the first match wins
    b.Put(3, {0xB9, 0x00, 0xFF, 0xFF, 0xFF, 0xAC});
    b.Put(30, {0xB9, 0x07, 0, 0, 0, 0xAC});
    EXPECT_EQ(FindWormAnchor(b.bytes, any, &counter), 3);
    EXPECT_EQ(counter, 0x00);
    EXPECT_EQ(FindWormAnchor(b.bytes, fixed, &counter), -1);
  }
  {
    Block b;  // six bytes: 494 is the last place
    b.Put(494, {0xB9, 0x01, 0, 0, 0, 0xAC});
    EXPECT_EQ(FindWormAnchor(b.bytes, any, &counter), 494);
  }
}

TEST(WormDecryptor, LoopEndSearchStartsAtTheAnchor) {
  Block b;
  b.Put(5, {0xAA, 0xE2});
  EXPECT_EQ(FindWormLoopEnd(b.bytes, 0), 5);
  EXPECT_EQ(FindWormLoopEnd(b.bytes, 6), -1) << "a pair before the anchor is not seen";
  b.Put(495, {0xAA, 0xE2});
  EXPECT_EQ(FindWormLoopEnd(b.bytes, 6), 495);
  Block late;
  late.Put(496, {0xAA, 0xE2});
  EXPECT_EQ(FindWormLoopEnd(late.bytes, 0), -1) << "the search ends at 495";
}

}  // namespace
