// Writing the emulated registry as a .reg file in the format it was loaded
// from. Strings escape only "\\" and "\""; a REG_SZ that a quoted string
// cannot carry exactly is written as hex(1). Hex data is lower case and
// wraps at 80 columns with "\" continuations. REGEDIT4 writes string-type
// hex data as ANSI bytes, version 5.00 as the UTF-16LE bytes kept.
#include <cstdio>
#include <cstring>
#include <fstream>

#include "platform/emu/machine.h"
#include "platform/emu/reg_file.h"
#include "platform/emu/text_codec.h"

namespace emu {
namespace regfile {
namespace {

std::u16string Escaped(const std::u16string& text) {
  std::u16string out;
  for (char16_t c : text) {
    if (c == u'\\' || c == u'"') out += u'\\';
    out += c;
  }
  return out;
}

bool IsHighSurrogate(char16_t c) {
  return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char16_t c) {
  return c >= 0xDC00 && c <= 0xDFFF;
}

// A REG_SZ whose data is one terminated text without line breaks or broken
// surrogate pairs (which UTF-8 cannot carry).
bool PlainString(const reg::Value& v, std::u16string* text) {
  if (v.type != REG_SZ || v.stored.size() % 2 || v.stored.size() < 2) return false;
  std::u16string units = UnitsOfUtf16(v.stored);
  if (units.back() != 0) return false;
  units.pop_back();
  for (size_t i = 0; i < units.size(); ++i) {
    char16_t c = units[i];
    if (c == 0 || c == u'\r' || c == u'\n') return false;
    if (IsHighSurrogate(c) && i + 1 < units.size() && IsLowSurrogate(units[i + 1])) {
      ++i;
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      return false;
    }
  }
  *text = units;
  return true;
}

bool HasOwnValues(const reg::Key* key) {
  for (const auto& v : key->values) {
    if (!v.provided) return true;
  }
  return false;
}

}  // namespace

const char* const Header4 = "REGEDIT4";
const char* const Header5 = "Windows Registry Editor Version 5.00";

std::u16string Heading(RegFormat format) {
  return WidenAnsi(format == RegFormat::Regedit4 ? Header4 : Header5) + u"\r\n\r\n";
}

bool AnsiData(RegFormat format) {
  return format == RegFormat::Regedit4;
}

std::u16string QuotedName(const reg::Name& name) {
  return name.empty() ? u"@" : u"\"" + Escaped(name) + u"\"";
}

std::u16string ValueLine(const reg::Value& v, bool ansiData) {
  std::u16string line = QuotedName(v.name) + u"=";
  std::u16string text;
  if (PlainString(v, &text)) return line + u"\"" + Escaped(text) + u"\"";
  char buf[32];
  if (v.type == REG_DWORD && v.stored.size() == 4) {
    DWORD d;
    std::memcpy(&d, v.stored.data(), 4);
    std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<unsigned>(d));
    return line + WidenAnsi(buf);
  }
  const std::string bytes = ansiData ? v.AnsiData() : v.stored;
  if (v.type == REG_BINARY) {
    std::snprintf(buf, sizeof buf, "hex:");
  } else {
    std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(v.type));
  }
  line += WidenAnsi(buf);
  size_t column = line.size();
  for (size_t i = 0; i < bytes.size(); ++i) {
    bool last = i + 1 == bytes.size();
    if (column + 3 > 79) {
      line += u"\\\r\n  ";
      column = 2;
    }
    std::snprintf(buf, sizeof buf, "%02x", static_cast<unsigned char>(bytes[i]));
    line += WidenAnsi(buf);
    if (!last) line += u',';
    column += last ? 2 : 3;
  }
  return line;
}

std::string Encode(const std::u16string& text, RegFormat format) {
  switch (format) {
    case RegFormat::Regedit4:
      return NarrowToAnsi(text);
    case RegFormat::Regedit5:
      return "\xFF\xFE" + Utf16Bytes(text);
    case RegFormat::Regedit5Utf8Bom:
      return "\xEF\xBB\xBF" + EncodeUtf8(text);
    case RegFormat::Regedit5Utf8:
      break;
  }
  return EncodeUtf8(text);
}

bool WriteHostFile(const std::string& hostPath, const std::string& bytes, std::string* error) {
  std::ofstream out(hostPath, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    if (error) *error = "cannot write " + hostPath;
    return false;
  }
  return true;
}

}  // namespace regfile

std::string RegistryText(RegFormat format) {
  const bool ansiData = regfile::AnsiData(format);
  std::u16string text = regfile::Heading(format);
  // Depth first in key order, with a stack of its own: keys may nest deeper
  // than the thread's stack would allow.
  std::vector<const reg::Key*> pending;
  for (auto it = reg::Roots().rbegin(); it != reg::Roots().rend(); ++it)
    pending.push_back(it->key.get());
  while (!pending.empty()) {
    const reg::Key* key = pending.back();
    pending.pop_back();
    if ((key->parent && key->listed) || regfile::HasOwnValues(key)) {
      text += u"[" + reg::StoredPathOf(key, true) + u"]\r\n";
      for (const auto& v : key->values) {
        if (!v.provided) text += regfile::ValueLine(v, ansiData) + u"\r\n";
      }
      text += u"\r\n";
    }
    for (auto it = key->subkeys.rbegin(); it != key->subkeys.rend(); ++it)
      pending.push_back(it->get());
  }
  return regfile::Encode(text, format);
}

bool SaveRegistryFile(const std::string& hostPath, RegFormat format, std::string* error) {
  return regfile::WriteHostFile(hostPath, RegistryText(format), error);
}

}  // namespace emu
