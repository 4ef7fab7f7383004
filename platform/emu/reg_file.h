// Internal: the pieces of .reg text shared by the whole-registry writer and
// the writer of changes. Text is built as UTF-16 units and encoded for the
// file's format at the end.
#pragma once

#include <string>

#include "platform/emu/registry_tree.h"

namespace emu {
namespace regfile {

extern const char* const Header4;  // "REGEDIT4"
extern const char* const Header5;  // "Windows Registry Editor Version 5.00"

// The header line of a format and the blank line after it.
std::u16string Heading(RegFormat format);
// True for REGEDIT4, whose string-type hex data holds ANSI bytes.
bool AnsiData(RegFormat format);
// "name" (quotes and backslashes escaped), or "@" for the unnamed value.
std::u16string QuotedName(const reg::Name& name);
// One value line (hex data may continue over several lines), no line end.
std::u16string ValueLine(const reg::Value& v, bool ansiData);
// The bytes of a file: ANSI, UTF-16LE with a BOM, or UTF-8 with or without.
std::string Encode(const std::u16string& text, RegFormat format);
bool WriteHostFile(const std::string& hostPath, const std::string& bytes, std::string* error);

}  // namespace regfile
}  // namespace emu
