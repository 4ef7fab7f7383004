// The region built from a bitmap's pixels and the rescaling of children.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/window_shape.h"

namespace {

constexpr COLORREF kKey = RGB(255, 0, 255);

// A bitmap drawn from rows of text: 'k' the key colour, any other
// character a plain colour.
HBITMAP Draw(const std::vector<std::string>& rows) {
  int width = static_cast<int>(rows[0].size()), height = static_cast<int>(rows.size());
  BITMAPINFOHEADER header = {sizeof header, width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&header),
                                    DIB_RGB_COLORS, &bits, nullptr, 0);
  auto* pixel = static_cast<DWORD*>(bits);
  for (const std::string& row : rows) {
    for (char c : row) *pixel++ = c == 'k' ? 0x00FF00FF : 0x00CFE9FE;
  }
  return bitmap;
}

// Every pixel is in the region exactly where `kept` says so.
void ExpectRegion(HRGN region, const std::vector<std::string>& rows, char kept) {
  ASSERT_TRUE(region);
  int wrong = 0;
  for (size_t y = 0; y < rows.size(); ++y) {
    for (size_t x = 0; x < rows[y].size(); ++x) {
      bool inside = PtInRegion(region, static_cast<int>(x), static_cast<int>(y)) != 0;
      if (inside != ((rows[y][x] == 'k') == (kept == 'k'))) ++wrong;
    }
  }
  EXPECT_EQ(0, wrong);
  EXPECT_FALSE(PtInRegion(region, static_cast<int>(rows[0].size()), 0));
  EXPECT_FALSE(PtInRegion(region, 0, static_cast<int>(rows.size())));
}

}  // namespace

TEST(BitmapToRegion, KeepsThePixelsThatDifferFromTheKey) {
  const std::vector<std::vector<std::string>> cases = {
      {"......", "......", "......"},  // no key: the whole rectangle
      {"......", "kkkkkk", "......"},  // a row of key pixels contributes nothing
      {"k..k.k", ".kk...", "kkkkk."},  // key at both ends and in the middle: two runs
  };
  for (const auto& rows : cases) {
    SCOPED_TRACE(rows[1]);
    HBITMAP bitmap = Draw(rows);
    HRGN kept = BitmapToRegion(bitmap, kKey, 1);
    ExpectRegion(kept, rows, '.');
    HRGN keyed = BitmapToRegion(bitmap, kKey, 0);
    ExpectRegion(keyed, rows, 'k');
    DeleteObject(kept);
    DeleteObject(keyed);
    DeleteObject(bitmap);
  }
}

TEST(BitmapToRegion, MoreRunsThanOneBatchHolds) {
  // 2,001 one-pixel runs in one row: one batch of 2,000 and one of 1.
  std::string row;
  for (int i = 0; i < 2001; ++i) row += ".k";
  HBITMAP bitmap = Draw({row, row});
  HRGN region = BitmapToRegion(bitmap, kKey, 1);
  ExpectRegion(region, {row, row}, '.');
  DeleteObject(region);
  DeleteObject(bitmap);
}

TEST(BitmapToRegion, NoBitmapNoRegion) { EXPECT_EQ(nullptr, BitmapToRegion(nullptr, kKey, 1)); }

TEST(BitmapToRegion, TheBackgroundGivesTheWholeRectangle) {
  auto background = static_cast<HBITMAP>(LoadImageA(
      GetModuleHandleA(nullptr), MAKEINTRESOURCEA(180), IMAGE_BITMAP, 0, 0, LR_LOADMAP3DCOLORS));
  ASSERT_TRUE(background);
  HRGN region = BitmapToRegion(background, kKey, 1);
  ASSERT_TRUE(region);
  RECT box;
  EXPECT_EQ(SIMPLEREGION, GetRgnBox(region, &box));
  RECT whole = {0, 0, 527, 338};
  EXPECT_TRUE(EqualRect(&whole, &box));
  DeleteObject(region);
  DeleteObject(background);
}

TEST(ScaleChildWindows, DividesScreenCoordinatesByTheClientRatio) {
  struct Case {
    int clientWidth, clientHeight;
    POINT position;  // expected, in the parent's client (= screen) coordinates
    SIZE size;
    SIZE grandchildSize;  // measured after its parent has moved
  };
  const Case cases[] = {
      {524, 340, {114, 49}, {115, 30}, {23, 10}},
      {698, 418, {85, 40}, {86, 24}, {17, 8}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.clientWidth) + " x " + std::to_string(c.clientHeight));
    HWND parent = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, c.clientWidth, c.clientHeight,
                                  nullptr, nullptr, nullptr, nullptr);
    HWND child = CreateWindowExA(0, "STATIC", "", WS_CHILD, 100, 50, 100, 30, parent, nullptr,
                                 nullptr, nullptr);
    HWND grandchild = CreateWindowExA(0, "STATIC", "", WS_CHILD, 10, 10, 20, 10, child, nullptr,
                                      nullptr, nullptr);
    ASSERT_TRUE(grandchild);
    RECT client;
    GetClientRect(parent, &client);
    ASSERT_EQ(c.clientWidth, client.right);

    ScaleChildWindows(parent, 600, 337);
    RECT r;
    GetWindowRect(child, &r);
    EXPECT_EQ(c.position.x, r.left);
    EXPECT_EQ(c.position.y, r.top);
    EXPECT_EQ(c.size.cx, r.right - r.left);
    EXPECT_EQ(c.size.cy, r.bottom - r.top);
    // Children at any depth are rescaled too.
    GetWindowRect(grandchild, &r);
    EXPECT_EQ(c.grandchildSize.cx, r.right - r.left);
    EXPECT_EQ(c.grandchildSize.cy, r.bottom - r.top);
    DestroyWindow(parent);
  }
}
