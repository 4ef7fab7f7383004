// The main dialog in this process, fed results lines and status texts the
// way the engine sends them: the 150-line rule, the selection rule, the
// horizontal extent and the path display.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "engine/shared_state.h"
#include "support/driver.h"
#include "support/ui_thread.h"
#include "ui/main_dlg.h"

using namespace ui_test;

namespace {

class MainDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSharedState();
    m_thread = new UiThread([] {
      CMainDlg dialog;
      dialog.DoModal();
    });
    ASSERT_TRUE(WaitUntil([&] { return (m_dialog = FindMainDialog(GetCurrentProcessId())); }));
    Sync(m_dialog);
    m_list = GetDlgItem(m_dialog, 1055);
  }
  void TearDown() override {
    if (m_dialog) Click(m_dialog, IDCANCEL);  // ends it: no scan runs
    delete m_thread;
    ResetSharedState();
  }

  // One results line, sent as the engine sends it.
  void AddLine(const std::string& line) {
    std::snprintf(LogLine, sizeof LogLine, "%s", line.c_str());
    SendMessageA(m_dialog, AddLineMessage, 0, 0);
  }
  int Count() { return static_cast<int>(SendMessageA(m_list, LB_GETCOUNT, 0, 0)); }
  int Selected() { return static_cast<int>(SendMessageA(m_list, LB_GETCURSEL, 0, 0)); }
  int Extent() { return static_cast<int>(SendMessageA(m_list, LB_GETHORIZONTALEXTENT, 0, 0)); }

  // Width of `text` in the list's default device context.
  int Width(const std::string& text) {
    HDC dc = GetDC(m_list);
    SIZE size = {};
    GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
    ReleaseDC(m_list, dc);
    return size.cx;
  }
  // A line of 'W's about `pixels` wide.
  std::string LineOfWidth(int pixels) {
    std::string line;
    while (Width(line + "W") <= pixels) line += "W";
    return line;
  }

  UiThread* m_thread = nullptr;
  HWND m_dialog = nullptr;
  HWND m_list = nullptr;
};

}  // namespace

TEST_F(MainDialogTest, ListIsEmptiedBefore151stLineUntilTheSummary) {
  for (int i = 1; i <= 150; ++i) AddLine("line " + std::to_string(i));
  EXPECT_EQ(150, Count());
  AddLine("line 151");
  ASSERT_EQ(1, Count());
  EXPECT_EQ("line 151", ListLines(m_list)[0]);

  for (int i = 2; i <= 150; ++i) AddLine("line");
  SummaryStarted = 1;
  for (int i = 0; i < 10; ++i) AddLine("statistics");
  EXPECT_EQ(160, Count());
}

TEST_F(MainDialogTest, LastLineIsSelectedFromTheThirdLineOn) {
  const int expected[] = {LB_ERR, LB_ERR, 2, 3, 4};
  for (int n = 1; n <= 5; ++n) {
    AddLine("line");
    EXPECT_EQ(expected[n - 1], Selected()) << n << " lines";
  }
}

TEST_F(MainDialogTest, HorizontalExtentFollowsLinesWiderThan560) {
  AddLine(LineOfWidth(560));
  EXPECT_EQ(0, Extent());
  std::string wide = LineOfWidth(800);
  AddLine(wide);
  EXPECT_EQ(Width(wide) * 3 / 4, Extent());
  AddLine("short");  // the widest line counts, whichever was added last
  EXPECT_EQ(Width(wide) * 3 / 4, Extent());
}

TEST_F(MainDialogTest, PathDisplayShowsStatusTextOnRequest) {
  EXPECT_EQ("Static", ControlText(m_dialog, 1065));
  std::snprintf(StatusText, sizeof StatusText, "%s", "C:\\WINDOWS\\notepad.exe");
  SendMessageA(m_dialog, RefreshStatusMessage, 0, 0);
  EXPECT_EQ("C:\\WINDOWS\\notepad.exe", ControlText(m_dialog, 1065));
  // The platform's WM_ENABLE shares the number and refreshes the same way.
  std::snprintf(StatusText, sizeof StatusText, "%s", "Scanning completed");
  EnableWindow(m_dialog, FALSE);
  EXPECT_EQ("Scanning completed", ControlText(m_dialog, 1065));
  EnableWindow(m_dialog, TRUE);
}
