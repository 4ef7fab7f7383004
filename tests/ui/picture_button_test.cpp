// The bitmap buttons: loading by caption, sizing, the picture each state
// draws, the hot state from the mouse and the focus, the hand cursor.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/ex_button.h"

namespace {

// A visible parent window with owner-drawn buttons of the given captions.
class ButtonHost : public ::testing::Test {
 protected:
  void SetUp() override {
    m_parent.m_hWnd = CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 0, 0, 600, 200,
                                      nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(m_parent.m_hWnd);
  }
  void TearDown() override {
    DestroyWindow(m_parent.m_hWnd);
    m_parent.m_hWnd = nullptr;
  }
  HWND AddButton(const char* caption, int id, int x = 10) {
    return CreateWindowExA(0, "BUTTON", caption, WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, x, 10, 50,
                           20, m_parent.m_hWnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           nullptr, nullptr);
  }
  CWnd m_parent;
};

SIZE SizeOf(HWND window) {
  RECT r;
  GetWindowRect(window, &r);
  return {r.right - r.left, r.bottom - r.top};
}

// The pixels `draw` leaves in a 200 x 40 area first filled with grey.
template <class Draw>
std::vector<COLORREF> Pixels(Draw draw) {
  HDC dc = CreateCompatibleDC(nullptr);
  BITMAPINFOHEADER header = {sizeof header, 200, -40, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP surface = CreateDIBSection(dc, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS,
                                     &bits, nullptr, 0);
  HGDIOBJ previous = SelectObject(dc, surface);
  RECT all = {0, 0, 200, 40};
  FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
  draw(dc);
  std::vector<COLORREF> pixels;
  for (int y = 0; y < 40; ++y) {
    for (int x = 0; x < 200; ++x) pixels.push_back(GetPixel(dc, x, y));
  }
  SelectObject(dc, previous);
  DeleteObject(surface);
  DeleteDC(dc);
  return pixels;
}

std::vector<COLORREF> PictureNamed(const char* name) {
  auto picture = static_cast<HBITMAP>(
      LoadImageA(GetModuleHandleA(nullptr), name, IMAGE_BITMAP, 0, 0, LR_LOADMAP3DCOLORS));
  return Pixels([&](HDC dc) {
    HDC source = CreateCompatibleDC(dc);
    HGDIOBJ previous = SelectObject(source, picture);
    BitBlt(dc, 0, 0, 180, 33, source, 0, 0, SRCCOPY);
    SelectObject(source, previous);
    DeleteDC(source);
    DeleteObject(picture);
  });
}

std::vector<COLORREF> Drawn(PictureButton& button, UINT itemState) {
  return Pixels([&](HDC dc) {
    DRAWITEMSTRUCT item = {};
    item.CtlType = ODT_BUTTON;
    item.itemAction = ODA_DRAWENTIRE;
    item.itemState = itemState;
    item.hwndItem = button.m_hWnd;
    item.hDC = dc;
    SetRect(&item.rcItem, 0, 0, 180, 33);
    button.DrawItem(&item);
  });
}

}  // namespace

TEST_F(ButtonHost, AutoLoadTakesThePicturesItsCaptionNames) {
  struct Case {
    const char* caption;
    BOOL loaded;
    SIZE size;  // 50 x 20: kept its template size
  };
  const Case cases[] = {
      {"SCAN", TRUE, {180, 33}},
      {"Cancel", TRUE, {92, 24}},  // names match without regard to case
      {"TARVELLOGO", TRUE, {38, 36}},
      {"NOPE", TRUE, {50, 20}},    // no pictures: still TRUE
      {"", FALSE, {50, 20}},
  };
  int id = 100;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.caption);
    HWND window = AddButton(c.caption, ++id);
    NCExButton button;
    EXPECT_EQ(c.loaded, button.AutoLoad(id, &m_parent));
    EXPECT_EQ(window, button.m_hWnd);
    SIZE size = SizeOf(window);
    EXPECT_EQ(c.size.cx, size.cx);
    EXPECT_EQ(c.size.cy, size.cy);
  }
}

TEST_F(ButtonHost, BoundButtonLoadsByItsOwnCaption) {
  HWND window = AddButton("OK", 200);
  AddButton("SCAN", 201);
  NCExButton button;
  ASSERT_TRUE(button.SubclassWindow(window));
  EXPECT_TRUE(button.AutoLoad(201, &m_parent));
  SIZE size = SizeOf(window);
  EXPECT_EQ(92, size.cx);
  EXPECT_EQ(24, size.cy);
}

TEST_F(ButtonHost, EachStateDrawsItsPicture) {
  NCExButton scan;
  AddButton("SCAN", 300);
  ASSERT_TRUE(scan.AutoLoad(300, &m_parent));
  const auto focus = PictureNamed("SCAN_FOCUS"), normal = PictureNamed("SCAN_NOTFOCUS"),
             disabled = PictureNamed("SCAN_DISABLE");
  ASSERT_NE(focus, normal);
  ASSERT_NE(normal, disabled);

  // Neither pressed nor focus state has a picture of its own.
  EXPECT_EQ(normal, Drawn(scan, 0));
  EXPECT_EQ(normal, Drawn(scan, ODS_SELECTED | ODS_FOCUS));
  EXPECT_EQ(disabled, Drawn(scan, ODS_DISABLED));
  scan.SendMessage(WM_SETFOCUS);
  EXPECT_EQ(focus, Drawn(scan, 0));
  EXPECT_EQ(focus, Drawn(scan, ODS_DISABLED));  // hot wins
  scan.SendMessage(WM_KILLFOCUS);
  EXPECT_EQ(normal, Drawn(scan, 0));

  // A disabled button without a DISABLE picture leaves its area alone.
  NCExButton ok;
  AddButton("OK", 301, 200);
  ASSERT_TRUE(ok.AutoLoad(301, &m_parent));
  auto untouched = Pixels([](HDC) {});
  EXPECT_EQ(untouched, Drawn(ok, ODS_DISABLED));
}

TEST_F(ButtonHost, HoveringMakesHotAndTakesTheFocus) {
  NCExButton first, second;
  AddButton("SCAN", 400, 10);
  AddButton("DOWNLOAD", 401, 300);
  ASSERT_TRUE(first.AutoLoad(400, &m_parent));
  ASSERT_TRUE(second.AutoLoad(401, &m_parent));
  const auto focus = PictureNamed("SCAN_FOCUS"), normal = PictureNamed("SCAN_NOTFOCUS");

  first.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(first.m_hWnd, GetFocus());
  EXPECT_EQ(first.m_hWnd, GetCapture());
  EXPECT_EQ(focus, Drawn(first, 0));

  // Moving off the button: NOTFOCUS again, the keyboard focus stays.
  first.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(500, 5));
  EXPECT_EQ(nullptr, GetCapture());
  EXPECT_EQ(first.m_hWnd, GetFocus());
  EXPECT_EQ(normal, Drawn(first, 0));

  // Straight from one button onto another: the first loses the focus.
  first.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
  second.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(second.m_hWnd, GetFocus());
  EXPECT_EQ(normal, Drawn(first, 0));
  ReleaseCapture();
}

TEST_F(ButtonHost, MainDialogButtonsShowAHandCursor) {
  CExButton withHand;
  NCExButton plain;
  AddButton("SCAN", 500, 10);
  AddButton("OK", 501, 300);
  ASSERT_TRUE(withHand.AutoLoad(500, &m_parent));
  ASSERT_TRUE(plain.AutoLoad(501, &m_parent));
  withHand.LoadHandCursor();
  HCURSOR hand = withHand.HandCursor();
  ASSERT_TRUE(hand);
  withHand.LoadHandCursor();  // a second call keeps the first cursor
  EXPECT_EQ(hand, withHand.HandCursor());
  // Wine's winhlp32 has no cursor 106: the system's hand stands in.
  EXPECT_EQ(LoadCursorA(nullptr, MAKEINTRESOURCEA(32649)), hand);

  SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)));  // the arrow
  EXPECT_TRUE(withHand.SendMessage(WM_SETCURSOR, reinterpret_cast<WPARAM>(withHand.m_hWnd),
                                   MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)));
  EXPECT_EQ(hand, GetCursor());
  SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)));
  plain.SendMessage(WM_SETCURSOR, reinterpret_cast<WPARAM>(plain.m_hWnd),
                    MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  EXPECT_NE(hand, GetCursor());
}
