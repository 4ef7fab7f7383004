// Bounded copy and append for the fixed path buffers.
#include "engine/text.h"

#include <cstring>

bool CopyText(char* dst, size_t size, const char* src) {
  size_t n = std::strlen(src);
  if (n >= size) return false;
  std::memcpy(dst, src, n + 1);
  return true;
}

bool AppendText(char* dst, size_t size, const char* src) {
  size_t have = std::strlen(dst);
  size_t n = std::strlen(src);
  if (have >= size || n >= size - have) return false;
  std::memcpy(dst + have, src, n + 1);
  return true;
}
