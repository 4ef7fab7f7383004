// PE layouts of the forged backdoor samples, one per backdoor record:
// where the sections lie and where the entry point is, chosen by
// tools/gen_signatures.py so that both fragments of the record lie inside
// the file where the probes map entry point + offset.
#pragma once

#include <cstdint>

struct ForgeSection {
  uint32_t VirtualAddress;
  uint32_t VirtualSize;
  uint32_t RawPointer;
  uint32_t RawSize;
};

constexpr int ForgeMaxSections = 6;

struct BackdoorLayout {
  uint32_t EntryPointRva;
  uint32_t SizeOfHeaders;
  uint32_t SectionCount;
  ForgeSection Sections[ForgeMaxSections];
};

constexpr int BackdoorLayoutCount = 269;
extern const BackdoorLayout BackdoorLayouts[BackdoorLayoutCount];
