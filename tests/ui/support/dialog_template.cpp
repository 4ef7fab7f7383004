// Dialog template reader: DLGTEMPLATE and DLGTEMPLATEEX layouts.
#include "support/dialog_template.h"

#include <cstdint>
#include <cstring>

namespace ui_test {
namespace {

// Bounded reading of the resource bytes.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
  bool ok() const { return m_ok; }
  template <class T>
  T Get() {
    T value{};
    if (m_at <= m_size && sizeof value <= m_size - m_at) {
      std::memcpy(&value, m_data + m_at, sizeof value);
      m_at += sizeof value;
    } else {
      m_ok = false;
    }
    return value;
  }
  // A NUL-terminated UTF-16 string, kept as ASCII.
  std::string String() {
    std::string s;
    for (uint16_t c; m_ok && (c = Get<uint16_t>()) != 0;) s += static_cast<char>(c);
    return s;
  }
  // A name-or-ordinal field: the ordinal, or 0 with `name` set.
  int NameOrOrdinal(std::string* name) {
    uint16_t first = Get<uint16_t>();
    if (first == 0) return 0;
    if (first == 0xFFFF) return Get<uint16_t>();
    m_at -= 2;
    *name = String();
    return 0;
  }
  void AlignTo4() { m_at = (m_at + 3) & ~size_t{3}; }
  void Skip(size_t n) {
    if (m_at <= m_size && n <= m_size - m_at) m_at += n;
    else m_ok = false;
  }

 private:
  const uint8_t* m_data;
  size_t m_size;
  size_t m_at = 0;
  bool m_ok = true;
};

}  // namespace

bool ReadDialogTemplate(int id, DialogTemplate* out) {
  HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5));  // RT_DIALOG
  if (!found) return false;
  const auto* data = static_cast<const uint8_t*>(LockResource(LoadResource(nullptr, found)));
  Reader r(data, SizeofResource(nullptr, found));
  DialogTemplate t;
  uint16_t count;
  uint16_t version = r.Get<uint16_t>(), signature = r.Get<uint16_t>();
  t.extended = version == 1 && signature == 0xFFFF;
  if (t.extended) {
    r.Get<DWORD>();  // help id
    t.exStyle = r.Get<DWORD>();
    t.style = r.Get<DWORD>();
  } else {
    t.style = version | (DWORD{signature} << 16);
    t.exStyle = r.Get<DWORD>();
  }
  count = r.Get<uint16_t>();
  t.x = r.Get<short>();
  t.y = r.Get<short>();
  t.cx = r.Get<short>();
  t.cy = r.Get<short>();
  std::string ignored;
  r.NameOrOrdinal(&ignored);  // menu
  r.NameOrOrdinal(&ignored);  // class
  t.title = r.String();
  if (t.style & DS_SETFONT) {
    t.pointSize = r.Get<uint16_t>();
    if (t.extended) r.Skip(4);  // weight, italic, character set
    t.font = r.String();
  }
  for (int i = 0; i < count && r.ok(); ++i) {
    r.AlignTo4();
    TemplateControl c{};
    if (t.extended) {
      r.Get<DWORD>();  // help id
      c.exStyle = r.Get<DWORD>();
      c.style = r.Get<DWORD>();
    } else {
      c.style = r.Get<DWORD>();
      c.exStyle = r.Get<DWORD>();
    }
    c.x = r.Get<short>();
    c.y = r.Get<short>();
    c.cx = r.Get<short>();
    c.cy = r.Get<short>();
    c.id = t.extended ? static_cast<int>(r.Get<DWORD>()) : r.Get<uint16_t>();
    std::string className;
    c.classAtom = r.NameOrOrdinal(&className);
    std::string caption;
    int ordinal = r.NameOrOrdinal(&caption);
    c.caption = ordinal ? "#" + std::to_string(ordinal) : caption;
    r.Skip(r.Get<uint16_t>());  // creation data
    t.controls.push_back(c);
  }
  if (!r.ok()) return false;
  *out = t;
  return true;
}

}  // namespace ui_test
