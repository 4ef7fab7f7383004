// Text encodings of the emulated machine: Windows-1252, UTF-8, UTF-16LE and
// the case fold of names (from the C library's UTF-8 locale, built once into
// a table of the 65,536 units).
#include "platform/emu/text_codec.h"

#include <locale.h>
#include <wctype.h>

#include <vector>

namespace emu {
namespace {

// Windows-1252 bytes 0x80 to 0x9F; the five the code page leaves undefined
// map to the C1 controls of the same number, as Windows maps them.
const char16_t HighControls[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                   0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                   0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                   0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

const std::vector<char16_t>& FoldTable() {
  static const std::vector<char16_t> table = [] {
    std::vector<char16_t> t(0x10000);
    locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    for (unsigned u = 0; u < 0x10000; ++u) {
      unsigned folded = u;
      if (u >= 'A' && u <= 'Z') {
        folded = u + 32;
      } else if (utf8 && u >= 0x80 && (u < 0xD800 || u > 0xDFFF)) {
        wint_t lower = towlower_l(static_cast<wint_t>(u), utf8);
        if (lower < 0x10000 && (lower < 0xD800 || lower > 0xDFFF)) folded = lower;
      }
      t[u] = static_cast<char16_t>(folded);
    }
    if (utf8) freelocale(utf8);
    return t;
  }();
  return table;
}

void AppendUtf8(unsigned cp, std::string* out) {
  if (cp < 0x80) {
    *out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out += static_cast<char>(0xC0 | (cp >> 6));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out += static_cast<char>(0xE0 | (cp >> 12));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (cp >> 18));
    *out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

char16_t AnsiToUnit(unsigned char byte) {
  return byte >= 0x80 && byte < 0xA0 ? HighControls[byte - 0x80] : static_cast<char16_t>(byte);
}

bool UnitToAnsi(char16_t unit, char* byte) {
  if (unit < 0x80 || (unit >= 0xA0 && unit < 0x100)) {
    *byte = static_cast<char>(unit);
    return true;
  }
  for (int i = 0; i < 32; ++i) {
    if (HighControls[i] == unit) {
      *byte = static_cast<char>(0x80 + i);
      return true;
    }
  }
  *byte = '?';
  return false;
}

std::u16string WidenAnsi(const std::string& ansi) {
  std::u16string out;
  out.reserve(ansi.size());
  for (unsigned char c : ansi) out += AnsiToUnit(c);
  return out;
}

std::string NarrowToAnsi(const std::u16string& text) {
  std::string out(text.size(), '\0');
  for (size_t i = 0; i < text.size(); ++i) UnitToAnsi(text[i], &out[i]);
  return out;
}

bool DecodeUtf8(const std::string& bytes, std::u16string* text) {
  text->clear();
  text->reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    unsigned c = static_cast<unsigned char>(bytes[i]);
    unsigned cp, need, min;
    if (c < 0x80) {
      *text += static_cast<char16_t>(c);
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F, need = 1, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F, need = 2, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07, need = 3, min = 0x10000;
    } else {
      return false;
    }
    if (bytes.size() - i <= need) return false;
    for (unsigned k = 1; k <= need; ++k) {
      unsigned b = static_cast<unsigned char>(bytes[i + k]);
      if ((b & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    if (cp < 0x10000) {
      *text += static_cast<char16_t>(cp);
    } else {
      cp -= 0x10000;
      *text += static_cast<char16_t>(0xD800 | (cp >> 10));
      *text += static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
    }
    i += need + 1;
  }
  return true;
}

std::string EncodeUtf8(const std::u16string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned u = text[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      AppendUtf8(0x10000 + ((u - 0xD800) << 10) + (text[i + 1] - 0xDC00), &out);
      ++i;
    } else {
      AppendUtf8(u >= 0xD800 && u <= 0xDFFF ? 0xFFFD : u, &out);
    }
  }
  return out;
}

std::u16string UnitsOfUtf16(const std::string& bytes) {
  std::u16string out(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                   static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
  }
  return out;
}

std::string Utf16Bytes(const std::u16string& text) {
  std::string out(text.size() * 2, '\0');
  for (size_t i = 0; i < text.size(); ++i) {
    out[2 * i] = static_cast<char>(text[i] & 0xFF);
    out[2 * i + 1] = static_cast<char>(text[i] >> 8);
  }
  return out;
}

char16_t FoldUnit(char16_t unit) {
  return FoldTable()[unit];
}

int CompareFolded(const std::u16string& a, const std::u16string& b) {
  const std::vector<char16_t>& fold = FoldTable();
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    char16_t x = fold[a[i]], y = fold[b[i]];
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace emu
