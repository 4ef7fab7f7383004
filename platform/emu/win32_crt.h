// The C run-time's low-level descriptor calls and string helpers that
// Windows programs use, for the Linux build. Paths are Windows paths on
// the emulated drives; flag values are the Windows ones.
#pragma once

#include <cstddef>

#define _O_RDONLY 0x0000
#define _O_WRONLY 0x0001
#define _O_RDWR 0x0002
#define _O_APPEND 0x0008
#define _O_CREAT 0x0100
#define _O_TRUNC 0x0200
#define _O_EXCL 0x0400
#define _O_TEXT 0x4000
#define _O_BINARY 0x8000
#define O_BINARY _O_BINARY

#define _S_IREAD 0x0100
#define _S_IWRITE 0x0080

int _open(const char* path, int flags, ...);
int _close(int fd);
int _read(int fd, void* buffer, unsigned count);
int _write(int fd, const void* buffer, unsigned count);
// Offsets are 32-bit as on Windows: the emulation truncates a 64-bit long.
long _lseek(int fd, long offset, int origin);
long _filelength(int fd);
int _chsize(int fd, long size);
int _access(const char* path, int mode);

int _stricmp(const char* a, const char* b);
int _strnicmp(const char* a, const char* b, size_t n);
char* _strupr(char* s);
char* _strlwr(char* s);
