// Reading .reg files into the emulated registry. "REGEDIT4" files are 8-bit
// text in the ANSI code page, their string-type hex data ANSI bytes;
// version 5.00 files are UTF-16LE with a BOM or UTF-8 with or without one,
// their hex(1), hex(2) and hex(7) data UTF-16LE bytes. Every line is decoded
// to UTF-16 units first, and names and data are stored as read.
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/emu/machine.h"
#include "platform/emu/reg_file.h"
#include "platform/emu/text_codec.h"

namespace emu {
namespace {

using Text = std::u16string;

const char* const NotRegistry = "not a registry file (no REGEDIT4 or version 5.00 header)";

RegFormat loadedFormat;
void ResetFormat() {
  loadedFormat = RegFormat::Regedit4;
}
ResetHook formatHook(ResetFormat);

std::string LineError(size_t index, const std::string& why) {
  return "line " + std::to_string(index + 1) + ": " + why;
}

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t';
}

Text TrimRight(const Text& s) {
  size_t end = s.size();
  while (end > 0 && (IsBlank(s[end - 1]) || s[end - 1] == u'\r')) --end;
  return s.substr(0, end);
}

Text TrimLeft(const Text& s) {
  size_t start = 0;
  while (start < s.size() && IsBlank(s[start])) ++start;
  return s.substr(start);
}

Text Trim(const Text& s) {
  return TrimLeft(TrimRight(s));
}

bool StartsWith(const Text& s, const char* prefix) {
  for (size_t i = 0; prefix[i]; ++i) {
    if (i >= s.size() || s[i] != static_cast<char16_t>(prefix[i])) return false;
  }
  return true;
}

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// 1 to 8 hex digits as a 32-bit number.
bool ParseHex32(const Text& digits, DWORD* value) {
  if (digits.empty() || digits.size() > 8) return false;
  DWORD v = 0;
  for (char16_t c : digits) {
    int d = HexDigit(c);
    if (d < 0) return false;
    v = v << 4 | static_cast<DWORD>(d);
  }
  *value = v;
  return true;
}

// Splits the file into lines of UTF-16 units and tells its format.
bool DecodeLines(const std::string& bytes, std::vector<Text>* lines, RegFormat* format,
                 std::string* error) {
  const auto starts = [&](const char* bom) { return bytes.compare(0, strlen(bom), bom) == 0; };
  if (starts("\xFE\xFF")) {
    *error = LineError(0, "UTF-16 big-endian text is not read; save the file as UTF-16LE or UTF-8");
    return false;
  }
  Text units;
  std::vector<std::string> byteLines;
  if (starts("\xFF\xFE")) {
    *format = RegFormat::Regedit5;
    units = UnitsOfUtf16(bytes.substr(2));
    size_t start = 0;
    while (start <= units.size()) {
      size_t end = units.find(u'\n', start);
      if (end == Text::npos) end = units.size();
      lines->push_back(units.substr(start, end - start));
      start = end + 1;
    }
    if (bytes.size() % 2) {
      *error = LineError(lines->size() - 1, "the UTF-16 text ends in half a character");
      return false;
    }
  } else {
    bool bom = starts("\xEF\xBB\xBF");
    *format = bom ? RegFormat::Regedit5Utf8Bom : RegFormat::Regedit5Utf8;
    std::istringstream in(bytes.substr(bom ? 3 : 0));
    std::string line;
    while (std::getline(in, line)) byteLines.push_back(line);
    // Without a BOM the header decides: REGEDIT4 is ANSI, 5.00 is UTF-8.
    size_t first = 0;
    while (first < byteLines.size() &&
           byteLines[first].find_first_not_of(" \t\r") == std::string::npos) {
      ++first;
    }
    std::string header = first < byteLines.size() ? byteLines[first] : "";
    header.erase(header.find_last_not_of(" \t\r") + 1);
    if (header == regfile::Header4 && !bom) {
      *format = RegFormat::Regedit4;
    } else if (header != regfile::Header4 && header != regfile::Header5) {
      *error = LineError(first, NotRegistry);
      return false;
    }
    for (size_t i = 0; i < byteLines.size(); ++i) {
      Text decoded;
      if (*format == RegFormat::Regedit4) {
        decoded = WidenAnsi(byteLines[i]);
      } else if (!DecodeUtf8(byteLines[i], &decoded)) {
        *error = LineError(i, "not UTF-8 text");
        return false;
      }
      lines->push_back(decoded);
    }
  }
  return true;
}

struct Reader {
  std::vector<Text> lines;
  size_t next = 0;
  bool ansiData = false;    // REGEDIT4: string-type hex data holds ANSI bytes
  reg::Key* key = nullptr;  // null before the first key or inside "[-...]"
  std::string error;

  bool Fail(size_t line, const std::string& why) {
    error = LineError(line, why);
    return false;
  }
};

// Reads a quoted string starting at text[*pos] == '"'; leaves *pos after
// the closing quote. Only "\\" and "\"" are escapes.
bool ParseQuoted(const Text& text, size_t* pos, Text* out) {
  size_t i = *pos + 1;
  out->clear();
  while (i < text.size()) {
    char16_t c = text[i];
    if (c == u'"') {
      *pos = i + 1;
      return true;
    }
    if (c == u'\\' && i + 1 < text.size() && (text[i + 1] == u'\\' || text[i + 1] == u'"')) {
      *out += text[i + 1];
      i += 2;
      continue;
    }
    *out += c;
    ++i;
  }
  return false;
}

// Comma-separated pairs of hex digits, blanks allowed around them.
bool ParseHexBytes(const Text& text, std::string* out) {
  out->clear();
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && IsBlank(text[i])) ++i;
    if (i == text.size()) break;
    int high = HexDigit(text[i]);
    int low = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
    if (high < 0 || low < 0) return false;
    *out += static_cast<char>(high << 4 | low);
    i += 2;
    while (i < text.size() && IsBlank(text[i])) ++i;
    if (i < text.size()) {
      if (text[i] != u',') return false;
      ++i;
    }
  }
  return true;
}

bool ReadKeyLine(Reader* r, size_t lineNo, const Text& line) {
  if (line.back() != u']') return r->Fail(lineNo, "key line without closing bracket");
  bool remove = line.size() > 1 && line[1] == u'-';
  size_t from = remove ? 2 : 1;
  Text path = line.substr(from, line.size() - 1 - from);
  Text rest;
  reg::Root* root = reg::RootByName(path, &rest);
  if (!root) return r->Fail(lineNo, "unknown root key in [" + EncodeUtf8(path) + "]");
  if (remove) {
    reg::Key* key = reg::Find(root->key.get(), rest);
    if (key && key->parent) reg::Remove(key);
    r->key = nullptr;
  } else {
    r->key = reg::Create(root->key.get(), rest, true);
  }
  return true;
}

// The data after "hex" or "hex(n)": its type and bytes, continuation
// lines joined.
bool ReadHexData(Reader* r, size_t lineNo, const Text& data, DWORD* type, std::string* bytes) {
  size_t colon = data.find(u':');
  if (colon == Text::npos) return r->Fail(lineNo, "hex data without \":\"");
  Text kind = data.substr(3, colon - 3);
  if (kind.empty()) {
    *type = REG_BINARY;
  } else if (kind.size() < 3 || kind.front() != u'(' || kind.back() != u')' ||
             !ParseHex32(kind.substr(1, kind.size() - 2), type)) {
    return r->Fail(lineNo, "bad hex type (expected hex(0) to hex(ffffffff))");
  }
  Text hex = data.substr(colon + 1);
  // A trailing backslash joins the next line.
  while (!hex.empty() && hex.back() == u'\\') {
    hex.pop_back();
    if (r->next >= r->lines.size()) return r->Fail(lineNo, "continuation at the end of the file");
    hex += Trim(r->lines[r->next++]);
  }
  if (!ParseHexBytes(hex, bytes)) return r->Fail(lineNo, "bad hex bytes");
  if (r->ansiData && reg::IsStringType(*type)) *bytes = reg::StoredFromAnsi(*type, *bytes);
  return true;
}

bool ReadValueLine(Reader* r, size_t lineNo, const Text& line) {
  Text name;
  size_t pos = 1;
  if (line[0] == u'"') {
    pos = 0;
    if (!ParseQuoted(line, &pos, &name)) return r->Fail(lineNo, "value name without closing quote");
  }
  while (pos < line.size() && IsBlank(line[pos])) ++pos;
  if (pos >= line.size() || line[pos] != u'=') {
    return r->Fail(lineNo, "\"=\" expected after the value name");
  }
  Text data = TrimLeft(line.substr(pos + 1));
  if (data == u"-") {
    if (r->key) reg::RemoveValue(r->key, name);
    return true;
  }
  DWORD type;
  std::string stored;
  if (!data.empty() && data[0] == u'"') {
    size_t end = 0;
    Text text;
    if (!ParseQuoted(data, &end, &text)) return r->Fail(lineNo, "string without closing quote");
    if (!TrimLeft(data.substr(end)).empty()) return r->Fail(lineNo, "text after the string");
    type = REG_SZ;
    stored = Utf16Bytes(text + u'\0');
  } else if (StartsWith(data, "dword:")) {
    DWORD v;
    if (!ParseHex32(data.substr(6), &v)) return r->Fail(lineNo, "bad dword (1 to 8 hex digits)");
    type = REG_DWORD;
    stored.assign(reinterpret_cast<const char*>(&v), 4);
  } else if (StartsWith(data, "hex")) {
    if (!ReadHexData(r, lineNo, data, &type, &stored)) return false;
  } else {
    return r->Fail(lineNo, "unknown value data");
  }
  if (r->key) reg::SetStoredValue(r->key, name, type, stored);  // "[-...]" sections: ignored
  return true;
}

}  // namespace

bool LoadRegistryText(const std::string& fileBytes, std::string* error) {
  Reader r;
  RegFormat format;
  std::string failure;
  if (!DecodeLines(fileBytes, &r.lines, &format, &failure)) {
    if (error) *error = failure;
    return false;
  }
  size_t first = 0;
  while (first < r.lines.size() && Trim(r.lines[first]).empty()) ++first;
  Text header = first < r.lines.size() ? Trim(r.lines[first]) : Text();
  if (format != RegFormat::Regedit4 && header == WidenAnsi(regfile::Header4)) {
    if (error) *error = LineError(first, "a REGEDIT4 file is 8-bit text without a byte-order mark");
    return false;
  }
  if (header != WidenAnsi(format == RegFormat::Regedit4 ? regfile::Header4 : regfile::Header5)) {
    if (error) *error = LineError(first, NotRegistry);
    return false;
  }
  r.ansiData = format == RegFormat::Regedit4;
  loadedFormat = format;
  bool inKey = false;
  for (r.next = first + 1; r.next < r.lines.size();) {
    size_t lineNo = r.next;
    Text l = Trim(r.lines[r.next++]);
    if (l.empty() || l[0] == u';') continue;
    bool ok;
    if (l[0] == u'[') {
      ok = ReadKeyLine(&r, lineNo, l);
      inKey = true;
    } else if (l[0] == u'"' || l[0] == u'@') {
      ok = inKey ? ReadValueLine(&r, lineNo, l) : r.Fail(lineNo, "value outside a key");
    } else {
      ok = r.Fail(lineNo, "unrecognised line");
    }
    if (!ok) {
      if (error) *error = r.error;
      return false;
    }
  }
  return true;
}

bool LoadRegistryFile(const std::string& hostPath, std::string* error) {
  std::ifstream in(hostPath, std::ios::binary);
  if (!in) {
    if (error) *error = "cannot read " + hostPath;
    return false;
  }
  std::stringstream s;
  s << in.rdbuf();
  return LoadRegistryText(s.str(), error);
}

RegFormat LoadedRegistryFormat() {
  return loadedFormat;
}

}  // namespace emu
