// The whole scan run over the real drives of the test prefix: C: only (the
// runner removes Z:, the Unix root), its real "\Program Files" directory,
// the statistics block and final status through a real window.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "engine/scan_run.h"
#include "engine/shared_state.h"
#include "support/recording_scanners.h"
#include "support/recording_window.h"
#include "support/scratch_tree.h"
#include "support/scripted_message_box.h"

using testing::IsEmpty;

namespace {

const char* const RestartQuestion =
    "The system has to be restarted to remove the virus completely from your system. "
    "\n\n Restart now?";

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool RenameThrough(const char* from, const char* to) {
  const char* between = "C:\\sorvane-renaming";
  return MoveFileA(from, between) && MoveFileA(between, to);
}

class ScanRunTest : public testing::Test {
 protected:
  void SetUp() override {
    // The run walks every fixed drive: refuse anything beyond the prefix's C:.
    for (char letter = 'D'; letter <= 'Z'; ++letter) {
      char root[] = "?:\\";
      root[0] = letter;
      ASSERT_NE(GetDriveTypeA(root), static_cast<UINT>(DRIVE_FIXED))
          << root << " is a fixed drive; run the tests through scripts/run-wine-tests";
    }
    ResetSharedState();
    MainWindow = window.Handle();
    DrainMessages();
    ScriptAnswers({});
  }
  void TearDown() override { DrainMessages(); }

  // Paths the drive walk handed to the first row (memory-scan calls aside).
  std::vector<std::string> DriveWalkPaths() const {
    std::vector<std::string> paths;
    for (const ScannerCall& call : scanners.Calls()) {
      if (call.row == 1 && !call.singleFileMode) paths.push_back(call.path);
    }
    return paths;
  }

  std::vector<std::string> Statistics(int scanned) const {
    return {"Scanning statistics", std::string(30, '-'),
            "Total files scanned\t\t:  " + std::to_string(scanned), "Total files infected\t\t:  0",
            "Total files removed\t\t:  0"};
  }

  RecordingWindow window;
  RecordingScanners scanners;
};

TEST_F(ScanRunTest, WalksDriveCOnceAndReportsTheStatistics) {
  ScratchTree tree("C:\\sorvane-test\\run");
  std::string mine = tree.File("a.txt");
  EXPECT_EQ(ScanRun(), 1);

  std::vector<std::string> paths = DriveWalkPaths();
  std::set<std::string> unique(paths.begin(), paths.end());
  EXPECT_EQ(unique.size(), paths.size()) << "a file was walked twice";
  EXPECT_EQ(static_cast<int>(paths.size()), FilesScanned);
  EXPECT_EQ(unique.count(mine), 1u);
  bool programFiles = false;
  for (const std::string& path : paths) {
    EXPECT_TRUE(StartsWith(path, "C:\\")) << path;
    programFiles = programFiles || StartsWith(path, "C:\\Program Files\\");
  }
  EXPECT_TRUE(programFiles);
  EXPECT_EQ(ProgramFilesVisited, 1);

  EXPECT_EQ(window.lines, Statistics(FilesScanned));
  ASSERT_FALSE(window.statuses.empty());
  EXPECT_EQ(window.statuses.back(), "Scanning completed");
  EXPECT_THAT(RecordedPrompts(), IsEmpty());
}

// The walk's test for "\Program Files\" is case-sensitive, the existence
// probe is not: a directory listed in capitals is walked twice.
TEST_F(ScanRunTest, ProgramFilesInAnotherLetterCaseGetsTheSecondPass) {
  // Wine takes a rename that changes only the letter case for a no-op.
  ASSERT_TRUE(RenameThrough("C:\\Program Files", "C:\\PROGRAM FILES"));
  struct Restore {
    ~Restore() { RenameThrough("C:\\PROGRAM FILES", "C:\\Program Files"); }
  } restore;
  ASSERT_EQ(ListPattern("C:\\PROGRAM FILES").at(0).name, "PROGRAM FILES");
  ScanRun();

  std::multiset<std::string> upper, proper;
  for (const std::string& path : DriveWalkPaths()) {
    if (StartsWith(path, "C:\\PROGRAM FILES\\")) upper.insert(path.substr(16));
    if (StartsWith(path, "C:\\Program Files\\")) proper.insert(path.substr(16));
  }
  EXPECT_FALSE(upper.empty());
  EXPECT_EQ(upper, proper);
  EXPECT_EQ(window.lines, Statistics(FilesScanned));
}

TEST_F(ScanRunTest, ACancelledRunStillEndsWithStatisticsAndTheRestartQuestion) {
  RestartNeeded = 1;
  ScriptAnswers({IDNO});
  PostQuitMessage(0);
  ScanRun();

  EXPECT_EQ(CancelRequested, 1);
  EXPECT_THAT(DriveWalkPaths(), IsEmpty());
  EXPECT_EQ(window.lines, Statistics(0));
  ASSERT_FALSE(window.statuses.empty());
  EXPECT_EQ(window.statuses.back(), "Scanning terminated");
  ASSERT_EQ(RecordedPrompts().size(), 1u);
  EXPECT_EQ(RecordedPrompts()[0].text, RestartQuestion);
  EXPECT_EQ(RecordedPrompts()[0].title, "Sorvane Ver 1.0");
  EXPECT_EQ(RecordedPrompts()[0].style, 0x24u);
}

}  // namespace
