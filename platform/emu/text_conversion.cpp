// Text conversion of the emulated machine. Its ANSI code page is
// Windows-1252 (emu/text_codec.h); characters it lacks become "?".
#include "platform/emu/fs.h"
#include "platform/emu/machine.h"
#include "platform/emu/text_codec.h"

namespace {

int Fail(DWORD error) {
  SetLastError(error);
  return 0;
}

}  // namespace

int WINAPI WideCharToMultiByte(UINT, DWORD, LPCWSTR wide, int wideLength, LPSTR narrow,
                               int narrowSize, LPCSTR defaultChar, BOOL* usedDefault) {
  if (emu::FaultFor("WideCharToMultiByte", "")) return 0;
  if (!wide || wideLength == 0 || narrowSize < 0) return Fail(ERROR_INVALID_PARAMETER);
  int n = wideLength;
  if (n < 0) {
    n = 0;
    while (wide[n]) ++n;
    ++n;  // the terminator is converted too
  }
  if (usedDefault) *usedDefault = FALSE;
  if (narrowSize == 0) return n;
  if (!narrow) return Fail(ERROR_INVALID_PARAMETER);
  if (narrowSize < n) return Fail(ERROR_INSUFFICIENT_BUFFER);
  for (int i = 0; i < n; ++i) {
    if (!emu::UnitToAnsi(static_cast<char16_t>(wide[i]), &narrow[i])) {
      narrow[i] = defaultChar ? *defaultChar : '?';
      if (usedDefault) *usedDefault = TRUE;
    }
  }
  return n;
}

int WINAPI MultiByteToWideChar(UINT, DWORD, LPCSTR narrow, int narrowLength, LPWSTR wide,
                               int wideSize) {
  if (emu::FaultFor("MultiByteToWideChar", "")) return 0;
  if (!narrow || narrowLength == 0 || wideSize < 0) return Fail(ERROR_INVALID_PARAMETER);
  int n = narrowLength;
  if (n < 0) {
    n = 0;
    while (narrow[n]) ++n;
    ++n;
  }
  if (wideSize == 0) return n;
  if (!wide) return Fail(ERROR_INVALID_PARAMETER);
  if (wideSize < n) return Fail(ERROR_INSUFFICIENT_BUFFER);
  for (int i = 0; i < n; ++i) wide[i] = emu::AnsiToUnit(static_cast<unsigned char>(narrow[i]));
  return n;
}
