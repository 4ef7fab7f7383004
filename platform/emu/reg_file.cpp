// .reg files in and out of the emulated registry, in both formats regedit
// writes: "REGEDIT4" (8-bit text, string data as bytes) and "Windows
// Registry Editor Version 5.00" (UTF-16LE with a byte-order mark; hex(1),
// hex(2) and hex(7) data in UTF-16LE). Strings escape only "\\" and "\"";
// string values that a quoted string cannot carry exactly are written as
// hex(1). Hex data wraps at 80 columns with "\" continuations.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/emu/machine.h"
#include "platform/emu/registry_tree.h"

namespace emu {
namespace {

const char* const Header4 = "REGEDIT4";
const char* const Header5 = "Windows Registry Editor Version 5.00";

RegFormat loadedFormat;
void ResetFormat() { loadedFormat = RegFormat::Regedit4; }
ResetHook formatHook(ResetFormat);

// ---- text encodings (the machine's ANSI code page is Latin-1) ----

std::string FromUtf16(const std::string& bytes, size_t from) {
  std::string out;
  for (size_t i = from; i + 1 < bytes.size(); i += 2) {
    unsigned c = static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
    out += c < 0x100 ? static_cast<char>(c) : '?';
  }
  if ((bytes.size() - from) % 2) out += bytes.back();
  return out;
}

std::string ToUtf16(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    out += static_cast<char>(c);
    out += '\0';
  }
  return out;
}

// ---- reading ----

struct Reader {
  std::vector<std::string> lines;
  size_t next = 0;
  bool unicode = false;
  reg::Key* key = nullptr;  // null before the first key or inside "[-...]"
  std::string error;

  bool Fail(size_t line, const std::string& why) {
    error = "line " + std::to_string(line + 1) + ": " + why;
    return false;
  }
};

std::string TrimRight(const std::string& s) {
  size_t end = s.find_last_not_of(" \t\r");
  return end == std::string::npos ? "" : s.substr(0, end + 1);
}

std::string TrimLeft(const std::string& s) {
  size_t start = s.find_first_not_of(" \t");
  return start == std::string::npos ? "" : s.substr(start);
}

// Reads a quoted string starting at text[*pos] == '"'; leaves *pos after
// the closing quote.
bool ParseQuoted(const std::string& text, size_t* pos, std::string* out) {
  size_t i = *pos + 1;
  out->clear();
  while (i < text.size()) {
    char c = text[i];
    if (c == '"') {
      *pos = i + 1;
      return true;
    }
    if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"')) {
      *out += text[i + 1];
      i += 2;
      continue;
    }
    *out += c;
    ++i;
  }
  return false;
}

bool ParseHexBytes(const std::string& text, std::string* out) {
  out->clear();
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i == text.size()) break;
    if (i + 1 >= text.size() || !isxdigit(static_cast<unsigned char>(text[i])) ||
        !isxdigit(static_cast<unsigned char>(text[i + 1]))) {
      return false;
    }
    *out += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
    i += 2;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i < text.size()) {
      if (text[i] != ',') return false;
      ++i;
    }
  }
  return true;
}

bool ReadKeyLine(Reader* r, size_t lineNo, const std::string& line) {
  if (line.back() != ']') return r->Fail(lineNo, "key line without closing bracket");
  bool remove = line.size() > 1 && line[1] == '-';
  std::string path = line.substr(remove ? 2 : 1, line.size() - (remove ? 3 : 2));
  std::string rest;
  reg::Root* root = reg::RootByName(path, &rest);
  if (!root) return r->Fail(lineNo, "unknown root key in [" + path + "]");
  if (remove) {
    reg::Key* key = reg::Find(root->key.get(), rest);
    if (key && key->parent) reg::Remove(key);
    r->key = nullptr;
  } else {
    r->key = reg::Create(root->key.get(), rest, true);
  }
  return true;
}

bool ReadValueLine(Reader* r, size_t lineNo, std::string line) {
  std::string name;
  size_t pos;
  if (line[0] == '@') {
    pos = 1;
  } else {
    pos = 0;
    if (!ParseQuoted(line, &pos, &name)) return r->Fail(lineNo, "value name without closing quote");
  }
  while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
  if (pos >= line.size() || line[pos] != '=') return r->Fail(lineNo, "\"=\" expected after the value name");
  std::string data = TrimLeft(line.substr(pos + 1));
  if (data == "-") {
    if (r->key) reg::RemoveValue(r->key, name);
    return true;
  }
  DWORD type;
  std::string bytes;
  if (!data.empty() && data[0] == '"') {
    size_t end = 0;
    if (!ParseQuoted(data, &end, &bytes)) return r->Fail(lineNo, "string without closing quote");
    if (!TrimLeft(data.substr(end)).empty()) return r->Fail(lineNo, "text after the string");
    type = REG_SZ;
    bytes += '\0';
  } else if (data.compare(0, 6, "dword:") == 0) {
    std::string digits = data.substr(6);
    if (digits.empty() || digits.size() > 8 ||
        digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
      return r->Fail(lineNo, "bad dword");
    }
    DWORD v = static_cast<DWORD>(std::stoul(digits, nullptr, 16));
    type = REG_DWORD;
    bytes.assign(reinterpret_cast<const char*>(&v), 4);
  } else if (data.compare(0, 3, "hex") == 0) {
    size_t colon = data.find(':');
    if (colon == std::string::npos) return r->Fail(lineNo, "hex data without \":\"");
    std::string kind = data.substr(3, colon - 3);
    if (kind.empty()) {
      type = REG_BINARY;
    } else {
      if (kind.size() < 3 || kind.front() != '(' || kind.back() != ')' ||
          kind.find_first_not_of("0123456789abcdefABCDEF", 1) != kind.size() - 1) {
        return r->Fail(lineNo, "bad hex type");
      }
      type = static_cast<DWORD>(std::stoul(kind.substr(1, kind.size() - 2), nullptr, 16));
    }
    std::string hex = data.substr(colon + 1);
    // Continuation lines: a trailing backslash joins the next line.
    while (!hex.empty() && hex.back() == '\\') {
      hex.pop_back();
      if (r->next >= r->lines.size()) return r->Fail(lineNo, "continuation at the end of the file");
      hex += TrimLeft(TrimRight(r->lines[r->next++]));
    }
    if (!ParseHexBytes(hex, &bytes)) return r->Fail(lineNo, "bad hex bytes");
    if (r->unicode && (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ)) {
      bytes = FromUtf16(bytes, 0);
    }
  } else {
    return r->Fail(lineNo, "unknown value data");
  }
  if (!r->key) return true;  // inside a "[-...]" section: ignored, as regedit does
  reg::SetValue(r->key, name, type, bytes);
  return true;
}

// ---- writing ----

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out;
}

bool PlainString(const reg::Value& v) {
  const std::string& d = v.data;
  if (v.type != REG_SZ || d.empty() || d.back() != '\0') return false;
  for (size_t i = 0; i + 1 < d.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(d[i]);
    if (c == 0 || c == '\r' || c == '\n') return false;
  }
  return true;
}

std::string ValueLine(const reg::Value& v, bool unicode) {
  std::string line = v.name.empty() ? "@=" : "\"" + Escaped(v.name) + "\"=";
  if (PlainString(v)) return line + "\"" + Escaped(v.data.substr(0, v.data.size() - 1)) + "\"";
  if (v.type == REG_DWORD && v.data.size() == 4) {
    DWORD d;
    std::memcpy(&d, v.data.data(), 4);
    char buf[16];
    std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<unsigned>(d));
    return line + buf;
  }
  std::string bytes = v.data;
  if (unicode && (v.type == REG_SZ || v.type == REG_EXPAND_SZ || v.type == REG_MULTI_SZ)) {
    bytes = ToUtf16(bytes);
  }
  char kind[24];
  if (v.type == REG_BINARY) {
    std::snprintf(kind, sizeof kind, "hex:");
  } else {
    std::snprintf(kind, sizeof kind, "hex(%x):", static_cast<unsigned>(v.type));
  }
  line += kind;
  size_t column = line.size();
  for (size_t i = 0; i < bytes.size(); ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(bytes[i]));
    bool last = i + 1 == bytes.size();
    if (column + 3 > 79) {
      line += "\\\r\n  ";
      column = 2;
    }
    line += hex;
    if (!last) line += ',';
    column += last ? 2 : 3;
  }
  return line;
}

bool HasOwnValues(const reg::Key* key) {
  for (const auto& v : key->values) {
    if (!v.provided) return true;
  }
  return false;
}

void WriteKey(const reg::Key* key, bool unicode, std::string* out) {
  if ((key->parent && key->listed) || HasOwnValues(key)) {
    *out += "[" + reg::PathOf(key, true) + "]\r\n";
    for (const auto& v : key->values) {
      if (!v.provided) *out += ValueLine(v, unicode) + "\r\n";
    }
    *out += "\r\n";
  }
  for (const auto& k : key->subkeys) WriteKey(k.get(), unicode, out);
}

}  // namespace

bool LoadRegistryText(const std::string& fileBytes, std::string* error) {
  Reader r;
  std::string text;
  if (fileBytes.size() >= 2 && static_cast<unsigned char>(fileBytes[0]) == 0xFF &&
      static_cast<unsigned char>(fileBytes[1]) == 0xFE) {
    text = FromUtf16(fileBytes, 2);
  } else if (fileBytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    text = fileBytes.substr(3);
  } else {
    text = fileBytes;
  }
  std::string line;
  std::istringstream in(text);
  while (std::getline(in, line)) r.lines.push_back(line);

  size_t first = 0;
  while (first < r.lines.size() && TrimRight(r.lines[first]).empty()) ++first;
  std::string header = first < r.lines.size() ? TrimRight(r.lines[first]) : "";
  if (header == Header5) {
    r.unicode = true;
  } else if (header != Header4) {
    if (error) *error = "line 1: not a registry file (no REGEDIT4 or version 5.00 header)";
    return false;
  }
  loadedFormat = r.unicode ? RegFormat::Regedit5 : RegFormat::Regedit4;
  bool inKey = false;
  for (r.next = first + 1; r.next < r.lines.size();) {
    size_t lineNo = r.next;
    std::string l = TrimLeft(TrimRight(r.lines[r.next++]));
    if (l.empty() || l[0] == ';') continue;
    bool ok;
    if (l[0] == '[') {
      ok = ReadKeyLine(&r, lineNo, l);
      inKey = true;
    } else if (l[0] == '"' || l[0] == '@') {
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

std::string RegistryText(RegFormat format) {
  bool unicode = format == RegFormat::Regedit5;
  std::string text = std::string(unicode ? Header5 : Header4) + "\r\n\r\n";
  for (const auto& root : reg::Roots()) WriteKey(root.key.get(), unicode, &text);
  return unicode ? "\xFF\xFE" + ToUtf16(text) : text;
}

bool SaveRegistryFile(const std::string& hostPath, RegFormat format, std::string* error) {
  std::ofstream out(hostPath, std::ios::binary | std::ios::trunc);
  std::string text = RegistryText(format);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.close();
  if (!out) {
    if (error) *error = "cannot write " + hostPath;
    return false;
  }
  return true;
}

RegFormat LoadedRegistryFormat() { return loadedFormat; }

}  // namespace emu
