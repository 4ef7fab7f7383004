// Region from a bitmap (row runs of kept pixels, handed over in batches)
// and the child rescaling of the main dialog.
#include "ui/window_shape.h"

#include <cstdint>

namespace {

constexpr DWORD kGrowth = 100;     // rectangles added to the buffer at a time
constexpr DWORD kBatch = 2000;     // rectangles per region handed to the system
constexpr LONG kNoBound = 0x7FFFFFFF;

// The region description being filled: a movable global block holding an
// RGNDATA header and room for `capacity` rectangles.
class RegionBuffer {
 public:
  RegionBuffer() {
    m_block = GlobalAlloc(GMEM_MOVEABLE, Bytes(m_capacity));
    m_data = m_block ? static_cast<RGNDATA*>(GlobalLock(m_block)) : nullptr;
    Reset();
  }
  ~RegionBuffer() {
    if (m_block) {
      GlobalUnlock(m_block);
      GlobalFree(m_block);
    }
  }
  RegionBuffer(const RegionBuffer&) = delete;
  RegionBuffer& operator=(const RegionBuffer&) = delete;

  bool ok() const { return m_data != nullptr; }

  // Appends one rectangle; a full batch becomes a region ORed into `result`.
  // False when the buffer could not grow (the rectangle is lost).
  bool Add(const RECT& r, HRGN* result) {
    // Growing may move the block: take the header only afterwards.
    if (m_data->rdh.nCount >= m_capacity && !Grow()) return false;
    RGNDATAHEADER& h = m_data->rdh;
    reinterpret_cast<RECT*>(m_data->Buffer)[h.nCount] = r;
    if (r.left < h.rcBound.left) h.rcBound.left = r.left;
    if (r.top < h.rcBound.top) h.rcBound.top = r.top;
    if (r.right > h.rcBound.right) h.rcBound.right = r.right;
    if (r.bottom > h.rcBound.bottom) h.rcBound.bottom = r.bottom;
    if (++h.nCount == kBatch) Flush(result);
    return true;
  }

  // Turns what the buffer holds into a region and merges it into `result`.
  void Flush(HRGN* result) {
    HRGN part = ExtCreateRegion(nullptr, Bytes(m_capacity), m_data);
    if (part) {
      if (*result) {
        CombineRgn(*result, *result, part, RGN_OR);
        DeleteObject(part);
      } else {
        *result = part;
      }
    }
    Reset();
  }

 private:
  static DWORD Bytes(DWORD capacity) { return sizeof(RGNDATAHEADER) + sizeof(RECT) * capacity; }

  void Reset() {
    if (!m_data) return;
    RGNDATAHEADER& h = m_data->rdh;
    h.dwSize = sizeof(RGNDATAHEADER);
    h.iType = RDH_RECTANGLES;
    h.nCount = 0;
    h.nRgnSize = 0;
    SetRect(&h.rcBound, kNoBound, kNoBound, 0, 0);
  }

  bool Grow() {
    GlobalUnlock(m_block);
    HGLOBAL grown = GlobalReAlloc(m_block, Bytes(m_capacity + kGrowth), GMEM_MOVEABLE);
    if (grown) {
      m_block = grown;
      m_capacity += kGrowth;
    }
    m_data = static_cast<RGNDATA*>(GlobalLock(m_block));
    return grown != nullptr && m_data != nullptr;
  }

  DWORD m_capacity = kGrowth;
  HGLOBAL m_block = nullptr;
  RGNDATA* m_data = nullptr;
};

bool Kept(const uint8_t* pixel, COLORREF key, int keepOthers) {
  bool isKey = pixel[0] == (key & 0xFF) && pixel[1] == ((key >> 8) & 0xFF) &&
               pixel[2] == ((key >> 16) & 0xFF);
  return keepOthers ? !isKey : isKey;
}

// Appends the runs of kept pixels of every row, top row first.
void CollectRuns(const uint8_t* bits, LONG width, LONG height, LONG stride, COLORREF key,
                 int keepOthers, RegionBuffer& buffer, HRGN* result) {
  // Rows are stored bottom-up: the top row is the last one in memory.
  const uint8_t* row = bits + stride * (height - 1);
  for (LONG y = 0; y < height; ++y, row -= stride) {
    for (LONG x = 0; x < width; ++x) {
      LONG x0 = x;
      while (x < width && Kept(row + 4 * x, key, keepOthers)) ++x;
      if (x > x0) {
        RECT r = {x0, y, x, y + 1};
        buffer.Add(r, result);
      }
    }
  }
}

struct ScaleFactors {
  HWND window;
  double horizontal;
  double vertical;
};

BOOL CALLBACK ScaleOneChild(HWND child, LPARAM param) {
  const auto* f = reinterpret_cast<const ScaleFactors*>(param);
  RECT r;
  GetWindowRect(child, &r);
  r.left = static_cast<LONG>(r.left / f->horizontal);
  r.right = static_cast<LONG>(r.right / f->horizontal);
  r.top = static_cast<LONG>(r.top / f->vertical);
  r.bottom = static_cast<LONG>(r.bottom / f->vertical);
  POINT corner = {r.left, r.top};
  HWND parent = GetParent(child);
  ScreenToClient(parent ? parent : f->window, &corner);
  MoveWindow(child, corner.x, corner.y, r.right - r.left, r.bottom - r.top, TRUE);
  return TRUE;
}

}  // namespace

HRGN BitmapToRegion(HBITMAP bitmap, COLORREF keyColour, int keepOthers) {
  if (!bitmap) return nullptr;
  HDC memory = CreateCompatibleDC(nullptr);
  if (!memory) return nullptr;
  BITMAP info;
  if (GetObjectA(bitmap, sizeof info, &info) != sizeof info || info.bmWidth <= 0 ||
      info.bmHeight <= 0) {
    DeleteDC(memory);
    return nullptr;
  }
  BITMAPINFOHEADER header = {};
  header.biSize = sizeof header;
  header.biWidth = info.bmWidth;
  header.biHeight = info.bmHeight;
  header.biPlanes = 1;
  header.biBitCount = 32;
  header.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP copy = CreateDIBSection(memory, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS,
                                  &bits, nullptr, 0);
  if (!copy) {
    DeleteDC(memory);
    return nullptr;
  }
  HGDIOBJ previousCopy = SelectObject(memory, copy);
  HRGN result = nullptr;
  if (HDC source = CreateCompatibleDC(memory)) {
    BITMAP section;
    GetObjectA(copy, sizeof section, &section);
    LONG stride = (section.bmWidthBytes + 3) & ~3;
    HGDIOBJ previousSource = SelectObject(source, bitmap);
    BitBlt(memory, 0, 0, info.bmWidth, info.bmHeight, source, 0, 0, SRCCOPY);
    GdiFlush();
    RegionBuffer buffer;
    if (buffer.ok()) {
      CollectRuns(static_cast<const uint8_t*>(bits), info.bmWidth, info.bmHeight, stride,
                  keyColour, keepOthers, buffer, &result);
      buffer.Flush(&result);
    }
    SelectObject(source, previousSource);
    DeleteDC(source);
  }
  SelectObject(memory, previousCopy);
  DeleteDC(memory);
  DeleteObject(copy);
  return result;
}

void ScaleChildWindows(HWND window, int designWidth, int designHeight) {
  if (designWidth <= 0 || designHeight <= 0) return;
  RECT client;
  GetClientRect(window, &client);
  ScaleFactors f = {window, static_cast<double>(client.right - client.left) / designWidth,
                    static_cast<double>(client.bottom - client.top) / designHeight};
  if (f.horizontal <= 0 || f.vertical <= 0) return;
  EnumChildWindows(window, &ScaleOneChild, reinterpret_cast<LPARAM>(&f));
}
