// Anchor search, loop-end search and decryptor emulation of the worm
// disinfector. The instruction stream does not depend on the data, so it is
// decoded once and the resulting operations are applied to every byte.
#include "scanners/worm_decryptor.h"

namespace {

enum class Op : uint8_t { Xor, Rol, Ror, RolByCounter, Ignored };

struct Instruction {
  Op op;
  uint8_t value;  // xor operand or rotation count
};

uint8_t RotateLeft(uint8_t b, unsigned n) {
  n &= 7;
  return n ? uint8_t((b << n) | (b >> (8 - n))) : b;
}
uint8_t RotateRight(uint8_t b, unsigned n) {
  n &= 7;
  return n ? uint8_t((b >> n) | (b << (8 - n))) : b;
}

// Decodes from `p` up to the stosb/loop pair; false when the stream does
// not emulate. Each instruction must lie wholly inside the block.
bool Decode(const uint8_t* entry, int p, Instruction* out, int* count) {
  int steps = 0;
  for (;;) {
    // The end pair and every instruction need at least two bytes.
    if (p < 0 || p > WormBlockSize - 2) return false;
    if (entry[p] == 0xAA && entry[p + 1] == 0xE2) break;
    Instruction ins{Op::Ignored, 0};
    switch (entry[p]) {
      case 0x34:  // xor al, imm8
        ins = {Op::Xor, entry[p + 1]};
        p += 2;
        break;
      case 0xC0:  // rol / ror al, imm8
        if (p > WormBlockSize - 3) return false;
        if (entry[p + 1] == 0xC0) ins = {Op::Rol, uint8_t(entry[p + 2] & 7)};
        else if (entry[p + 1] == 0xC8) ins = {Op::Ror, uint8_t(entry[p + 2] & 7)};
        else return false;
        p += 3;
        break;
      case 0xD2:  // rol al, cl (any second byte)
        ins = {Op::RolByCounter, 0};
        p += 2;
        break;
      default:
        p += 1;
        break;
    }
    if (++steps > WormStepLimit) return false;
    out[steps - 1] = ins;
  }
  *count = steps;
  return true;
}

}  // namespace

int FindWormAnchor(const uint8_t* entry, const WormVariant& variant, uint8_t* counter) {
  if (variant.AnyImmediate) {
    for (int i = 0; i + 6 <= WormBlockSize; ++i) {
      if (entry[i] == 0xB9 && entry[i + 5] == 0xAC) {
        *counter = entry[i + 1];
        return i;
      }
    }
    return -1;
  }
  const uint32_t imm = variant.Immediate ? *variant.Immediate : 0;
  for (int i = 0; i + 5 <= WormBlockSize; ++i) {
    if (entry[i] == 0xB9 && entry[i + 1] == uint8_t(imm) && entry[i + 2] == uint8_t(imm >> 8) &&
        entry[i + 3] == uint8_t(imm >> 16) && entry[i + 4] == uint8_t(imm >> 24)) {
      *counter = uint8_t(imm);
      return i;
    }
  }
  return -1;
}

int FindWormLoopEnd(const uint8_t* entry, int from) {
  for (int j = from < 0 ? 0 : from; j <= WormLoopEndLast; ++j) {
    if (entry[j] == 0xAA && entry[j + 1] == 0xE2) return j;
  }
  return -1;
}

bool EmulateWormDecryptor(const uint8_t* entry, int start, uint8_t counter, uint8_t* body) {
  Instruction program[WormStepLimit];
  int count = 0;
  if (!Decode(entry, start, program, &count)) return false;
  for (int k = 0; k < WormBlockSize; ++k, --counter) {
    uint8_t b = body[k];
    for (int n = 0; n < count; ++n) {
      const Instruction& ins = program[n];
      switch (ins.op) {
        case Op::Xor: b ^= ins.value; break;
        case Op::Rol: b = RotateLeft(b, ins.value); break;
        case Op::Ror: b = RotateRight(b, ins.value); break;
        case Op::RolByCounter: b = RotateLeft(b, counter & 7); break;
        case Op::Ignored: break;
      }
    }
    body[k] = b;
  }
  return true;
}
