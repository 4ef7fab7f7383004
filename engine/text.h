// Bounded text helpers for the fixed path buffers: a text that would not fit
// is refused (false) and the buffer left terminated, never overflowed and
// never holding a truncated path.
#pragma once

#include <cstddef>

// dst = src when it fits in `size` bytes with its terminator.
bool CopyText(char* dst, size_t size, const char* src);

// dst += src when the result fits in `size` bytes.
bool AppendText(char* dst, size_t size, const char* src);

template <size_t N>
bool CopyText(char (&dst)[N], const char* src) {
  return CopyText(dst, N, src);
}
template <size_t N>
bool AppendText(char (&dst)[N], const char* src) {
  return AppendText(dst, N, src);
}
