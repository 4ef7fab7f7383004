// Text helpers shared by the YARA rule writers.
#include "tools/sorvane-offline/yara_rule_text.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>

std::string YaraFormat(const char* format, ...) {
  va_list args, again;
  va_start(args, format);
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string out(length > 0 ? size_t(length) : 0, '\0');
  if (length > 0) std::vsnprintf(&out[0], out.size() + 1, format, again);
  va_end(again);
  return out;
}

std::string YaraIdentifier(const char* name) {
  std::string out;
  for (const char* p = name; *p; ++p) out += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
  return out;
}

std::string YaraQuoted(const char* text) {
  std::string out = "\"";
  for (const char* p = text; *p; ++p) {
    if (*p == '"' || *p == '\\') out += '\\';
    out += *p;
  }
  return out + "\"";
}

std::string EmitYaraRule(std::string* out, const std::string& tag, const std::string& publicName,
                         const std::string& meta, const std::string& strings, const std::string& condition,
                         const std::string& before) {
  const std::string match = "sorvane_" + tag + "_match", seen = "sorvane_" + tag + "_seen";
  *out += "private rule " + match + " {\n";
  if (!strings.empty()) *out += "  strings:\n" + strings;
  *out += "  condition:\n    " + condition + "\n}\n\n";
  *out += "rule " + publicName + " {\n  meta:\n" + meta + "  condition:\n    " + match;
  if (!before.empty()) *out += " and not " + before;
  *out += "\n}\n\n";
  *out += "private rule " + seen + " {\n  condition:\n    " + match;
  if (!before.empty()) *out += " or " + before;
  *out += "\n}\n\n";
  return seen;
}
