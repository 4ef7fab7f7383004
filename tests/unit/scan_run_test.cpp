// The scan run: which drives are walked, the "\Program Files" second pass,
// the statistics block, the final status and the restart question.
#include <gtest/gtest.h>

#include "engine/scan_run.h"
#include "engine/scanner_table.h"
#include "tests/support/machine_fixture.h"

namespace {

std::vector<std::string> scanned;
int RecordAndCount(const char*, const char* path) {
  scanned.push_back(path);
  if (std::strstr(path, "infected")) {
    ++FilesInfected;
    ++FilesRemoved;
  }
  if (std::strstr(path, "repaired")) {
    ++FilesInfected;
    ++FilesDisinfected;
  }
  if (std::strstr(path, "deferred")) RestartNeeded = 1;
  return 0;
}
const ScannerEntry Table[] = {{"t", RecordAndCount}, {nullptr, nullptr}};

class ScanRunTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    scanned.clear();
    ActiveScannerTable = Table;
    InstallMainWindow();
  }
  void TearDown() override {
    ActiveScannerTable = ScannerTable;
    MachineTest::TearDown();
  }
  std::vector<std::string> Summary(size_t n) const {
    const auto& l = Lines();
    return std::vector<std::string>(l.end() - std::min(n, l.size()), l.end());
  }
};

TEST_F(ScanRunTest, WalksOnlyFixedDrivesInLetterOrder) {
  std::string d = NewHostDir(), e = NewHostDir(), f = NewHostDir();
  emu::MapDrive('D', d, DRIVE_CDROM);
  emu::MapDrive('E', e, DRIVE_FIXED);
  emu::MapDrive('F', f, DRIVE_REMOTE);
  WriteFile("C:\\c.txt");
  WriteFile("D:\\d.txt");
  WriteFile("E:\\e.txt");
  WriteFile("F:\\f.txt");

  EXPECT_EQ(ScanRun(), 1);
  EXPECT_EQ(scanned, (std::vector<std::string>{"C:\\c.txt", "E:\\e.txt"}));
  EXPECT_EQ(Lines(), (std::vector<std::string>{"Scanning statistics", std::string(30, '-'),
                                               "Total files scanned\t\t:  2",
                                               "Total files infected\t\t:  0",
                                               "Total files removed\t\t:  0"}));
  EXPECT_EQ(Statuses().back(), "Scanning completed");
  EXPECT_TRUE(emu::Prompts().empty());
}

TEST_F(ScanRunTest, InfectionsPutAGapLineBeforeTheStatisticsAndSumRemovals) {
  WriteFile("C:\\infected.exe");
  WriteFile("C:\\repaired.exe");
  WriteFile("C:\\clean.txt");
  ScanRun();
  EXPECT_EQ(SummaryStarted, 1);
  EXPECT_EQ(Summary(6), (std::vector<std::string>{" ", "Scanning statistics", std::string(30, '-'),
                                                  "Total files scanned\t\t:  3",
                                                  "Total files infected\t\t:  2",
                                                  "Total files removed\t\t:  2"}));
}

TEST_F(ScanRunTest, CancelStillGivesTheFullStatisticsAndTerminatedStatus) {
  for (int i = 0; i < 10; ++i) WriteFile("C:\\f" + std::to_string(i));
  emu::OnPeekMessage([](int call) {
    if (call == 5) PostMessageA(nullptr, WM_KEYDOWN, VK_ESCAPE, 0);
  });
  emu::ScriptAnswers({IDYES});
  ScanRun();
  EXPECT_EQ(scanned.size(), 3u);
  EXPECT_EQ(Summary(5)[2], "Total files scanned\t\t:  3");
  EXPECT_EQ(Statuses().back(), "Scanning terminated");
}

TEST_F(ScanRunTest, ProgramFilesInAnotherLetterCaseGetsASecondPass) {
  WriteFile("C:\\PROGRAM FILES\\app.exe");
  ScanRun();
  EXPECT_EQ(scanned, (std::vector<std::string>{"C:\\PROGRAM FILES\\app.exe", "C:\\Program Files\\app.exe"}));
  EXPECT_EQ(ProgramFilesPending, 0);
}

TEST_F(ScanRunTest, ProgramFilesWalkedInExactCaseIsNotWalkedAgainOnAnyDrive) {
  std::string e = NewHostDir();
  emu::MapDrive('E', e);
  WriteFile("C:\\Program Files\\app.exe");
  WriteFile("E:\\program files\\tool.exe");
  ScanRun();
  EXPECT_EQ(scanned, (std::vector<std::string>{"C:\\Program Files\\app.exe", "E:\\program files\\tool.exe"}));
  EXPECT_EQ(ProgramFilesVisited, 1);
}

TEST_F(ScanRunTest, RestartQuestionComesAfterTheStatisticsAndFinalStatus) {
  WriteFile("C:\\deferred.exe");
  std::vector<std::string> events;
  MainWindow = emu::CreateWindow([&](HWND, UINT m, WPARAM, LPARAM) -> LRESULT {
    if (m == AddLineMessage) events.push_back(std::string("line:") + LogLine);
    if (m == RefreshStatusMessage) events.push_back(std::string("status:") + StatusText);
    return 0;
  });
  emu::ScriptAnswers({IDNO});
  ScanRun();
  ASSERT_EQ(emu::Prompts().size(), 1u);
  const auto& p = emu::Prompts()[0];
  EXPECT_EQ(p.text,
            "The system has to be restarted to remove the virus completely from your system. \n\n Restart now?");
  EXPECT_EQ(p.title, "Sorvane Ver 1.0");
  EXPECT_EQ(p.style, 0x24u);
  EXPECT_EQ(events.back(), "status:Scanning completed");
  EXPECT_EQ(events[events.size() - 2], "line:Total files removed\t\t:  0");
}

TEST_F(ScanRunTest, NothingIsSentBeforeTheMainWindowIsKnown) {
  MainWindow = nullptr;
  WriteFile("C:\\a");
  ScanRun();
  EXPECT_EQ(emu::CallCount("SendMessageA"), 0);
  EXPECT_EQ(std::string(StatusText), "Scanning completed");
  EXPECT_EQ(std::string(LogLine), "Total files removed\t\t:  0");
}

}  // namespace
