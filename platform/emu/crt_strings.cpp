// The run-time's case-insensitive string helpers, with the "C" locale's
// ASCII-only case folding that Windows programs get by default.
#include <strings.h>

#include <cctype>

#include "platform/system.h"

int _stricmp(const char* a, const char* b) { return strcasecmp(a, b); }

int _strnicmp(const char* a, const char* b, size_t n) { return strncasecmp(a, b, n); }

char* _strupr(char* s) {
  for (char* p = s; *p; ++p) {
    if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
  }
  return s;
}

char* _strlwr(char* s) {
  for (char* p = s; *p; ++p) {
    if (*p >= 'A' && *p <= 'Z') *p = static_cast<char>(*p - 'A' + 'a');
  }
  return s;
}
