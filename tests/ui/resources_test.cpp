// The resources as the program finds them: both dialog templates control by
// control, every picture's name, size and depth, the icon and the version.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/dialog_template.h"
#include "support/program.h"

using namespace ui_test;

namespace {

constexpr int kButton = 0x80, kStatic = 0x82, kListBox = 0x83;
constexpr DWORD kOwnerDraw = 0x5001000B;       // visible owner-drawn tab stop
constexpr DWORD kHiddenOwnerDraw = 0x4001000B;

void ExpectControls(const DialogTemplate& t, const std::vector<TemplateControl>& expected) {
  ASSERT_EQ(expected.size(), t.controls.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    const TemplateControl &e = expected[i], &c = t.controls[i];
    SCOPED_TRACE("control " + std::to_string(e.id));
    EXPECT_EQ(e.id, c.id);
    EXPECT_EQ(e.classAtom, c.classAtom);
    EXPECT_EQ(e.caption, c.caption);
    EXPECT_EQ(e.x, c.x);
    EXPECT_EQ(e.y, c.y);
    EXPECT_EQ(e.cx, c.cx);
    EXPECT_EQ(e.cy, c.cy);
    EXPECT_EQ(e.style, c.style) << std::hex << c.style;
    EXPECT_EQ(e.exStyle, c.exStyle);
  }
}

}  // namespace

TEST(Resources, MainDialogTemplate) {
  DialogTemplate t;
  ASSERT_TRUE(ReadDialogTemplate(161, &t));
  EXPECT_TRUE(t.extended);
  EXPECT_EQ(0x80800040u, t.style);
  EXPECT_EQ(0, t.x);
  EXPECT_EQ(0, t.y);
  EXPECT_EQ(349, t.cx);
  EXPECT_EQ(209, t.cy);
  EXPECT_EQ("", t.title);
  EXPECT_EQ("MS Sans Serif", t.font);
  EXPECT_EQ(8, t.pointSize);
  ExpectControls(t, {
      {1070, kButton, "OK", 128, 177, 50, 14, kOwnerDraw, 0},
      {2, kButton, "CANCEL", 128, 177, 50, 14, kOwnerDraw, 0},
      {1052, kButton, "SCAN", 12, 40, 76, 16, kOwnerDraw, 0},
      {1053, kButton, "DOWNLOAD", 190, 40, 97, 16, kOwnerDraw, 0},
      {1054, kButton, "X", 290, 3, 10, 10, kOwnerDraw, 0},
      {1064, kButton, "", 16, 81, 276, 29, 0x50008007, 0},
      {1065, kStatic, "Static", 19, 93, 264, 11, 0x50000000, 0},
      {1076, kStatic, "Searching For", 16, 70, 268, 11, 0x50000000, 0},
      {1068, kStatic, "Program caption", 32, 25, 244, 11, 0x50000001, 0},
      {1075, kStatic, "Kelvora Installed String", 6, 136, 292, 10, 0x50000001, 0},
      {1072, kStatic, "Maker line", 6, 102, 292, 11, 0x50000001, 0},
      {1074, kStatic, "Static", 10, 70, 290, 14, 0x50000001, 0},
      {1077, kButton, "DLINK", 62, 133, 85, 7, kOwnerDraw, 0},
      {1080, kButton, "ULINK", 78, 177, 54, 6, kOwnerDraw, 0},
      {1085, kButton, "TARVELLOGO", 278, 174, 38, 10, kOwnerDraw, 0},
      {1034, kButton, "", 16, 110, 276, 58, 0x50000007, 0},
      {1055, kListBox, "", 17, 116, 274, 51, 0x50310180, 0x20},
  });
}

TEST(Resources, MessageDialogTemplate) {
  DialogTemplate t;
  ASSERT_TRUE(ReadDialogTemplate(176, &t));
  EXPECT_FALSE(t.extended);
  EXPECT_EQ(0x80C800C0u, t.style);
  EXPECT_EQ(187, t.cx);
  EXPECT_EQ(54, t.cy);
  EXPECT_EQ("Dialog", t.title);
  EXPECT_EQ("MS Sans Serif", t.font);
  EXPECT_EQ(8, t.pointSize);
  ExpectControls(t, {
      {1, kButton, "OK", 24, 38, 50, 14, kHiddenOwnerDraw, 0},
      {2, kButton, "Cancel", 102, 38, 50, 14, kHiddenOwnerDraw, 0},
      {1085, kStatic, "", 15, 0, 25, 24, 0x5000000E, 0},
      {1086, kStatic, " Are you sure you want to continue ", 49, 5, 135, 19, 0x50000000, 0},
      {3, kButton, "OK", 63, 38, 50, 14, kOwnerDraw, 0},
      {6, kButton, "YES", 24, 26, 50, 14, kHiddenOwnerDraw, 0},
      {7, kButton, "NO", 100, 26, 50, 14, kHiddenOwnerDraw, 0},
  });
}

TEST(Resources, PicturesHaveTheirNamesSizesAndDepths) {
  struct Picture {
    const char* name;  // null: numbered by `number`
    int number, width, height, bits;
  };
  const Picture pictures[] = {
      {nullptr, 180, 527, 338, 8},         {nullptr, 147, 42, 40, 24},
      {nullptr, 177, 42, 40, 24},          {nullptr, 178, 42, 40, 24},
      {nullptr, 179, 42, 40, 24},          {"SCAN_FOCUS", 0, 180, 33, 8},
      {"SCAN_NOTFOCUS", 0, 180, 33, 8},    {"SCAN_DISABLE", 0, 180, 33, 4},
      {"DOWNLOAD_FOCUS", 0, 180, 33, 8},   {"DOWNLOAD_NOTFOCUS", 0, 180, 33, 8},
      {"DOWNLOAD_DISABLE", 0, 180, 33, 4}, {"X_FOCUS", 0, 21, 21, 8},
      {"X_NOTFOCUS", 0, 21, 21, 8},        {"CANCEL_FOCUS", 0, 92, 24, 8},
      {"CANCEL_NOTFOCUS", 0, 92, 24, 8},   {"OK_FOCUS", 0, 92, 24, 8},
      {"OK_NOTFOCUS", 0, 92, 24, 8},       {"YES_FOCUS", 0, 92, 24, 8},
      {"YES_NOTFOCUS", 0, 92, 24, 8},      {"NO_FOCUS", 0, 92, 24, 8},
      {"NO_NOTFOCUS", 0, 92, 24, 8},       {"DLINK_FOCUS", 0, 313, 43, 4},
      {"DLINK_NOTFOCUS", 0, 313, 43, 4},   {"ULINK_FOCUS", 0, 244, 28, 8},
      {"ULINK_NOTFOCUS", 0, 244, 28, 8},   {"TARVELLOGO_FOCUS", 0, 38, 36, 8},
      {"TARVELLOGO_NOTFOCUS", 0, 38, 36, 8},
  };
  for (const Picture& p : pictures) {
    SCOPED_TRACE(p.name ? p.name : std::to_string(p.number));
    HRSRC found = FindResourceA(nullptr, p.name ? p.name : MAKEINTRESOURCEA(p.number),
                                MAKEINTRESOURCEA(2));  // RT_BITMAP
    ASSERT_TRUE(found);
    const auto* info =
        static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(nullptr, found)));
    EXPECT_EQ(p.width, info->biWidth);
    EXPECT_EQ(p.height, info->biHeight);
    EXPECT_EQ(p.bits, info->biBitCount);
    // Colour-table entries that the loader would swap for system colours.
    if (info->biBitCount <= 8) {
      const auto* table = reinterpret_cast<const RGBQUAD*>(info + 1);
      DWORD entries = info->biClrUsed ? info->biClrUsed : 1u << info->biBitCount;
      for (DWORD i = 0; i < entries; ++i) {
        int grey = table[i].rgbRed;
        bool mapped = table[i].rgbGreen == grey && table[i].rgbBlue == grey &&
                      (grey == 128 || grey == 192 || grey == 223);
        EXPECT_FALSE(mapped) << "entry " << i << " is grey " << grey;
      }
    }
  }
  // The buttons without a DISABLE picture.
  for (const char* name : {"X_DISABLE", "OK_DISABLE", "CANCEL_DISABLE", "DLINK_DISABLE"}) {
    EXPECT_FALSE(FindResourceA(nullptr, name, MAKEINTRESOURCEA(2))) << name;
  }
}

TEST(Resources, BackgroundHoldsNoRegionKeyAndTheBodyColour) {
  auto background = static_cast<HBITMAP>(
      LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(180), IMAGE_BITMAP, 0, 0, 0));
  ASSERT_TRUE(background);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ previous = SelectObject(dc, background);
  int keyed = 0;
  for (int y = 0; y < 338; ++y) {
    for (int x = 0; x < 527; ++x) keyed += GetPixel(dc, x, y) == RGB(255, 0, 255);
  }
  EXPECT_EQ(0, keyed);
  EXPECT_EQ(RGB(207, 233, 254), GetPixel(dc, 4, 80));   // the body
  EXPECT_EQ(RGB(2, 77, 246), GetPixel(dc, 263, 50));    // the band behind the caption
  EXPECT_EQ(RGB(255, 255, 255), GetPixel(dc, 263, 190));  // the panel behind the list
  SelectObject(dc, previous);
  DeleteDC(dc);
  DeleteObject(background);
}

TEST(Resources, IconAndVersion) {
  HRSRC group = FindResourceA(nullptr, MAKEINTRESOURCEA(128), MAKEINTRESOURCEA(14));
  ASSERT_TRUE(group);
  const auto* dir = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, group)));
  EXPECT_EQ(1, dir[4] | dir[5] << 8);  // one image
  EXPECT_EQ(48, dir[6]);
  EXPECT_EQ(48, dir[7]);
  EXPECT_EQ(24, dir[12] | dir[13] << 8);

  std::string program = ProgramPath();
  DWORD handle = 0, size = GetFileVersionInfoSizeA(program.c_str(), &handle);
  ASSERT_GT(size, 0u);
  std::vector<char> block(size);
  ASSERT_TRUE(GetFileVersionInfoA(program.c_str(), 0, size, block.data()));
  auto text = [&](const char* name) {
    char* value = nullptr;
    UINT length = 0;
    std::string path = std::string("\\StringFileInfo\\040904b0\\") + name;
    return VerQueryValueA(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &length)
               ? std::string(value)
               : std::string("(none)");
  };
  EXPECT_EQ("Utility to detect and clean variants of W32/Murkel.Backdoor", text("FileDescription"));
  EXPECT_EQ("1, 0, 0, 0", text("FileVersion"));
  EXPECT_EQ("1, 0, 0, 0", text("ProductVersion"));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(0x00010000u, fixed->dwFileVersionMS);
  EXPECT_EQ(0u, fixed->dwFileVersionLS);
}
