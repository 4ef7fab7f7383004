// The message dialog in this process: button sets and pictures by style,
// return codes of every way out, the title, and the layout for short and
// long texts against the bare template.
#include <gtest/gtest.h>

#include <string>

#include "platform/message_box.h"
#include "support/driver.h"
#include "support/ui_thread.h"
#include "ui/message_dlg.h"
#include "ui/ui_state.h"

using namespace ui_test;

namespace {

const int kButtons[] = {IDOK, IDCANCEL, 3, IDYES, IDNO};

// Shows ExMessageBox on a thread of its own; `drive` gets the dialog.
template <class Drive>
int Ask(const std::string& text, const char* title, unsigned style, Drive drive) {
  int answer = -100;
  UiThread thread([&] { answer = ExMessageBox(text.c_str(), title, style); });
  HWND dialog = WaitForMessageDialog(GetCurrentProcessId());
  EXPECT_TRUE(dialog) << "no dialog for style " << style;
  if (dialog) {
    Sync(dialog);
    drive(dialog);
  }
  thread.Join();
  return answer;
}

// The bare template's rectangles, in client coordinates, and the offset
// of the client area within the window.
struct Layout {
  SIZE window;
  POINT clientOffset;
  RECT text, picture, buttons[5];
};

INT_PTR CALLBACK Bare(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

Layout Measure(HWND dialog) {
  Layout l = {};
  RECT w = WindowRect(dialog);
  l.window = {w.right - w.left, w.bottom - w.top};
  POINT origin = {0, 0};
  ClientToScreen(dialog, &origin);
  l.clientOffset = {origin.x - w.left, origin.y - w.top};
  l.text = ClientRectOf(dialog, 1086);
  l.picture = ClientRectOf(dialog, 1085);
  for (int i = 0; i < 5; ++i) l.buttons[i] = ClientRectOf(dialog, kButtons[i]);
  return l;
}

Layout TemplateLayout() {
  HWND bare = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(176), nullptr, &Bare, 0);
  Layout l = Measure(bare);
  DestroyWindow(bare);
  return l;
}

}  // namespace

TEST(MessageDialog, StyleChoosesThePicture) {
  const struct {
    unsigned style;
    int picture;
  } cases[] = {
      {0, 147}, {0x24, 178}, {0x41, 177}, {0x10, 179}, {0x20, 178},
      {0x30, 147}, {0x50, 177}, {0x60, 177}, {0x34, 147},
  };
  for (const auto& c : cases) {
    CMessageDlg dialog;
    EXPECT_EQ(147, dialog.PictureId());
    dialog.SetStyle(c.style);
    EXPECT_EQ(c.picture, dialog.PictureId()) << "style " << c.style;
  }
}

TEST(MessageDialog, ButtonsAndAnswers) {
  enum Way { kPress, kEscape, kCloseBox };
  const struct {
    unsigned style;
    int shown[2];  // the visible buttons (0: none)
    Way way;
    int button;
    int answer;
  } cases[] = {
      {36, {IDYES, IDNO}, kPress, IDYES, IDYES},
      {36, {IDYES, IDNO}, kPress, IDNO, IDNO},
      {36, {IDYES, IDNO}, kEscape, 0, IDNO},
      {36, {IDYES, IDNO}, kCloseBox, 0, IDNO},
      {0x41, {IDOK, IDCANCEL}, kPress, IDOK, IDOK},
      {0x41, {IDOK, IDCANCEL}, kPress, IDCANCEL, IDCANCEL},
      {0x41, {IDOK, IDCANCEL}, kEscape, 0, IDCANCEL},
      {5, {IDOK, IDCANCEL}, kPress, IDOK, IDOK},  // both button bits: OK/Cancel
      {0, {3, 0}, kPress, 3, IDOK},
      {0, {3, 0}, kEscape, 0, IDCANCEL},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("style " + std::to_string(c.style) + ", way " + std::to_string(c.way) +
                 ", button " + std::to_string(c.button));
    int answer = Ask("Terminate the Scan now?", "Sorvane Ver 1.0", c.style, [&](HWND dialog) {
      for (int id : kButtons) {
        bool shown = id == c.shown[0] || id == c.shown[1];
        EXPECT_EQ(shown, Visible(dialog, id)) << "button " << id;
        if (shown) {
          RECT r = WindowRect(GetDlgItem(dialog, id));
          EXPECT_EQ(92, r.right - r.left);
          EXPECT_EQ(24, r.bottom - r.top);
        }
      }
      if (c.way == kPress) PostMessageA(GetDlgItem(dialog, c.button), BM_CLICK, 0, 0);
      if (c.way == kEscape) PressKey(dialog, VK_ESCAPE);
      if (c.way == kCloseBox) PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    });
    EXPECT_EQ(c.answer, answer);
  }
}

TEST(MessageDialog, TitleAndText) {
  const struct {
    const char* title;
    const char* shown;
  } cases[] = {{"", "Sorvane Ver 1.0"}, {nullptr, "Sorvane Ver 1.0"},
               {"DialogBoxTitle", "DialogBoxTitle"}};
  for (const auto& c : cases) {
    Ask("Restart now?", c.title, 0x41, [&](HWND dialog) {
      EXPECT_EQ(c.shown, Text(dialog));
      EXPECT_EQ("Restart now?", ControlText(dialog, 1086));
      PressKey(dialog, VK_ESCAPE);
    });
  }
}

TEST(MessageDialog, GrowsWithTheTextInSteps) {
  const Layout bare = TemplateLayout();
  const struct {
    size_t length;
    int b, c;
    bool pictureMoves;
    int largeFonts;
  } cases[] = {
      {0, 12, 7, false, 0},  {23, 12, 7, false, 0}, {59, 25, 14, false, 0},
      {89, 37, 21, false, 0}, {95, 50, 28, true, 0}, {200, 87, 49, true, 0},
      {23, 12, 7, false, 1},  // large fonts: a taller text area
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("length " + std::to_string(c.length) + ", large fonts " +
                 std::to_string(c.largeFonts));
    LargeFonts = c.largeFonts;
    Ask(std::string(c.length, 'w'), "", 36, [&](HWND dialog) {
      Layout got = Measure(dialog);
      RECT w = WindowRect(dialog);
      // No main dialog to centre on: the dialog stays at the screen origin.
      EXPECT_EQ(0, w.left);
      EXPECT_EQ(0, w.top);
      EXPECT_EQ(bare.window.cx + c.b, got.window.cx);
      EXPECT_EQ(bare.window.cy + c.c, got.window.cy);
      // Rectangles read on the screen come back as client coordinates.
      const POINT off = bare.clientOffset;
      EXPECT_EQ(bare.text.left + off.x, got.text.left);
      EXPECT_EQ(bare.text.top + off.y - 25, got.text.top);
      EXPECT_EQ(bare.text.right - bare.text.left + c.b, got.text.right - got.text.left);
      EXPECT_EQ(bare.text.bottom - bare.text.top + c.c + 25 * c.largeFonts,
                got.text.bottom - got.text.top);
      for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE("button " + std::to_string(kButtons[i]));
        EXPECT_EQ(bare.buttons[i].left + off.x + c.b / 2, got.buttons[i].left);
        EXPECT_EQ(got.window.cy - 65, got.buttons[i].top);
      }
      POINT picture = {bare.picture.left, bare.picture.top};
      if (c.pictureMoves) picture = {bare.picture.left + off.x, bare.text.top + off.y - 30};
      EXPECT_EQ(picture.x, got.picture.left);
      EXPECT_EQ(picture.y, got.picture.top);
      PressKey(dialog, VK_ESCAPE);
    });
  }
  LargeFonts = 0;
}

TEST(MessageDialog, PaintsThePictureOfItsStyle) {
  const struct {
    unsigned style;
    int picture;
  } cases[] = {{0x10, 179}, {0x20, 178}, {0x40, 177}, {0x30, 147}};
  for (const auto& c : cases) {
    SCOPED_TRACE("style " + std::to_string(c.style));
    auto expected = static_cast<HBITMAP>(LoadImageA(
        GetModuleHandleA(nullptr), MAKEINTRESOURCEA(c.picture), IMAGE_BITMAP, 0, 0, 0));
    HDC memory = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = SelectObject(memory, expected);
    Ask("Notice", "", c.style, [&](HWND dialog) {
      Repaint(dialog);
      HWND area = GetDlgItem(dialog, 1085);
      RECT r;
      GetClientRect(area, &r);
      HDC dc = GetDC(area);
      int differ = 0;
      for (int y = 0; y < r.bottom && y < 40; ++y) {
        for (int x = 0; x < r.right && x < 42; ++x) differ += GetPixel(dc, x, y) != GetPixel(memory, x, y);
      }
      ReleaseDC(area, dc);
      EXPECT_EQ(0, differ);
      PressKey(dialog, VK_ESCAPE);
    });
    SelectObject(memory, previous);
    DeleteDC(memory);
    DeleteObject(expected);
  }
}
