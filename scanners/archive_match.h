// Matchers for worm copies sent as encrypted archives: a ZIP or RAR file
// whose single entry is encrypted, stored (or for some members deflated),
// of a size within the band of one worm variant, and named with an
// executable extension when its name is short enough to be read. Each
// takes a descriptor opened read-only in binary mode, seeks freely, leaves
// the file open and returns 1 on a match, else 0. The scanner tries them
// in number order.
#pragma once

int MatchArchive1(int fd);  // ZIP, "W32/Bagle.H.Worm"
int MatchArchive2(int fd);  // ZIP, "W32/Bagle.K.Worm"
int MatchArchive3(int fd);  // ZIP, "W32/Bagle.J.Worm"
int MatchArchive4(int fd);  // ZIP, "W32/Bagle.N.Worm"
int MatchArchive5(int fd);  // ZIP, "W32/Bagle.O.Worm"
int MatchArchive6(int fd);  // RAR, "W32/Bagle.N.Worm"
int MatchArchive7(int fd);  // RAR, "W32/Bagle.O.Worm"
int MatchArchive8(int fd);  // ZIP, "W32/Bagle.Aa.Worm"
