// Text encodings of the emulated machine: its ANSI code page (Windows-1252
// as Windows maps it), UTF-8 and UTF-16LE, and the case fold used to compare
// registry names. Stored text is UTF-16 code units; the ANSI form exists only
// where an "A" function hands text to the code.
#pragma once

#include <string>

namespace emu {

// The UTF-16 unit of an ANSI byte (every byte has one, and no two share it).
char16_t AnsiToUnit(unsigned char byte);
// The ANSI byte of a unit; false, with "?" in *byte, when the code page has none.
bool UnitToAnsi(char16_t unit, char* byte);
std::u16string WidenAnsi(const std::string& ansi);
// Units without an ANSI byte become "?".
std::string NarrowToAnsi(const std::u16string& text);

// Strict UTF-8 (no overlong forms, no encoded surrogates); false on the
// first malformed sequence.
bool DecodeUtf8(const std::string& bytes, std::u16string* text);
// A unit of a broken surrogate pair is written as U+FFFD.
std::string EncodeUtf8(const std::u16string& text);

// UTF-16LE bytes to units (an odd last byte is not a unit and is left out)
// and back.
std::u16string UnitsOfUtf16(const std::string& bytes);
std::string Utf16Bytes(const std::u16string& text);

// Names compare ignoring case: each unit folded to its lower-case form
// (simple Unicode mapping; surrogates stay as they are).
char16_t FoldUnit(char16_t unit);
int CompareFolded(const std::u16string& a, const std::u16string& b);

}  // namespace emu
