// Probes of a Windows executable's headers: the PE signature and file
// header, the optional header and section table, and the mapping of an
// address relative to the image base to a file offset. They fill the one
// shared PeImage, valid for the file last probed.
#pragma once

#include <cstdint>

constexpr int PeMaxSections = 20;
constexpr int PeSectionHeaderSize = 40;
constexpr int PeFileHeaderSize = 20;
constexpr int PeOptionalHeaderPart = 96;  // up to the count of data directories

struct PeHeaderImages {
  uint16_t PeHeaderOffset;  // low 16 bits of the header offset at 0x3C
  uint8_t FileHeader[PeFileHeaderSize];
  uint8_t OptionalHeader[PeOptionalHeaderPart];
  uint8_t SectionTable[PeMaxSections * PeSectionHeaderSize];
};

extern PeHeaderImages PeImage;

// 1 when "PE\0\0" lies where the 16-bit header offset at 0x3C points and
// the file header after it was read whole; 0 otherwise. No "MZ" test.
int ReadPeHeader(int fd);

// 1 when the optional header part and the section table were read whole.
// The table is read from the header offset + 248 (its place behind a
// standard 224-byte optional header) whatever the stated size; more than
// 20 sections fail. Only after ReadPeHeader returned 1.
int ReadPeSections(int fd);

// File offset of `address` through the first section that ends beyond it
// (else the last); an offset at or past the end of the file gives the
// address itself, and 0 gives the size of the headers. Only after
// ReadPeSections returned 1.
uint32_t RvaToFileOffset(uint32_t address, int fd);

// Fields of the images, read little-endian.
uint16_t PeSectionCount();
uint32_t PeEntryPoint();
uint32_t PeSizeOfHeaders();
