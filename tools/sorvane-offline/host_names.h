// Names as records show them: a Windows path or host name in UTF-8 as the
// volume spells it, and the exact bytes of a host name (Base64) beside it,
// so that what is put back carries the same name.
#pragma once

#include <string>

namespace names {

// The bytes as they are when they are UTF-8 (names on an ntfs-3g mount,
// most Linux trees), else read as the emulated machine's ANSI code page
// (Windows-1252), so that no byte is lost or misread.
std::string Readable(const std::string& bytes);

std::string Base64(const std::string& bytes);
// False when `text` is no Base64.
bool FromBase64(const std::string& text, std::string* bytes);

}  // namespace names
