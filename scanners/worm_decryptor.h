// The worm's decryptor loop as the disinfector sees it: the anchor that
// starts it, the stosb/loop pair that ends it, and an emulation of the few
// instruction kinds between them over the first encrypted body bytes.
// Everything works on fixed 500-byte blocks and never reads outside them.
#pragma once

#include <cstdint>

#include "scanners/worm_variants.h"

constexpr int WormBlockSize = 500;  // EntryBlock and BodyBlock
constexpr int WormStepLimit = 101;  // instructions per body byte
constexpr int WormLoopEndLast = 495;  // last position of the loop-end search

// Position of the variant's anchor in `entry` (the first match), or -1.
// *counter receives the start value of the counter C.
int FindWormAnchor(const uint8_t* entry, const WormVariant& variant, uint8_t* counter);

// First position j >= from, j <= 495, holding 0xAA 0xE2 (stosb, loop); -1 if none.
int FindWormLoopEnd(const uint8_t* entry, int from);

// Decrypts the 500 bytes of `body` in place with the decryptor that starts
// at `start` in `entry`, the counter starting at `counter` and dropping by
// one per byte. False (body unspecified) when an instruction of the 0xC0
// group has an unknown form, a byte needs more than 101 instructions, or
// an instruction would reach past the end of `entry`.
bool EmulateWormDecryptor(const uint8_t* entry, int start, uint8_t counter, uint8_t* body);
