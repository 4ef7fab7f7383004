// The worm file disinfector, third row of the scanner table: recognises
// executables infected by the N, O and Q variants of the appending worm by
// emulating its decryptor, and repairs, renames, deletes or reports them as
// ActionMode says.
#pragma once

#include "scanners/worm_variants.h"

// FileScanner: 1 only when a detection was recorded in SingleFileMode;
// 0 otherwise, also after acting on an infected file.
int ScanWormFile(const char* name, const char* path);
// What ScanWormFile leaves for a file it would not act on: the
// attribute step it takes before reading (set to the archive attribute
// and back), without reading the file.
int ScreenedWormFile(const char* name, const char* path);

// 1 when the open file carries `variant` (and, with `repair`, has been
// repaired: host entry point back, worm section gone, file cut where the
// worm's code began); 0 otherwise. A repair that fails at any write or at
// the cut writes the old header bytes back and gives 0. The file's PE
// header must have been read (ReadPeHeader) on this descriptor. With
// `repair` the descriptor must be writable.
int ProbeWormVariant(int fd, const WormVariant& variant, int repair);

// Writes the file header, the optional header part and section count x 40
// bytes of section headers from PeImage back to the file. True when every
// seek and write completed.
bool WritePeHeaders(int fd);
