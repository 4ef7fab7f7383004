// The results-line and status helpers and the display shortening on the
// real platform: the MinGW run-time's formatting, real SendMessageA.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "engine/results_line.h"
#include "engine/shared_state.h"
#include "engine/walk.h"
#include "support/recording_window.h"

namespace {

class ReportTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetSharedState();
    MainWindow = window.Handle();
  }
  RecordingWindow window;
};

TEST_F(ReportTest, LinesAndStatusReachTheWindowSynchronouslyWithTheirText) {
  EmitResultLine("%s     %s removed", "C:\\x\\a.exe", "W32/Murkel.A.Backdoor");
  EmitResultLine("Total files scanned\t\t:  %d", -7);
  ShowStatus("Scanning completed");
  EXPECT_EQ(window.lines, (std::vector<std::string>{"C:\\x\\a.exe     W32/Murkel.A.Backdoor removed",
                                                    "Total files scanned\t\t:  -7"}));
  EXPECT_EQ(window.statuses, std::vector<std::string>{"Scanning completed"});
}

TEST_F(ReportTest, APathIsNeverReadAsAFormat) {
  EmitResultLine("%s     %s removed", "C:\\100%s%n%d\\b.exe", "X");
  EXPECT_EQ(window.lines, std::vector<std::string>{"C:\\100%s%n%d\\b.exe     X removed"});
}

TEST_F(ReportTest, NothingIsSentBeforeTheMainWindowIsKnown) {
  MainWindow = nullptr;
  EmitResultLine("%s", "kept");
  ShowStatus("shown later");
  EXPECT_STREQ(LogLine, "kept");
  EXPECT_STREQ(StatusText, "shown later");
  EXPECT_TRUE(window.lines.empty());
  EXPECT_TRUE(window.statuses.empty());
}

// The Windows run-time's own _snprintf leaves a full buffer unterminated;
// the helpers must cut and terminate instead.
TEST_F(ReportTest, OverlongTextIsCutAndTerminated) {
  std::string longText(3000, 'p');
  std::memset(LogLine, 'x', sizeof LogLine);
  std::memset(StatusText, 'x', sizeof StatusText);
  EmitResultLine("%s     %s removed", longText.c_str(), "X");
  ShowStatus(longText.c_str());
  ASSERT_EQ(window.lines.size(), 1u);
  EXPECT_EQ(window.lines[0], std::string(LogLineSize - 1, 'p'));
  ASSERT_EQ(window.statuses.size(), 1u);
  EXPECT_EQ(window.statuses[0], std::string(StatusTextSize - 1, 'p'));
}

TEST(ShortenForDisplayTest, KeepsShortPathsAndJoinsBothEndsOfLongOnes) {
  const std::string sixty(60, 's');
  const std::string digits = "0123456789012345678901234567890123456789012345678901234567890123456789";
  struct Case {
    std::string source;
    int limit;
    std::string expected;
  } cases[] = {
      {"C:\\a.txt", 60, "C:\\a.txt"},
      {sixty, 60, sixty},
      {digits, 60, digits.substr(0, 29) + ".." + digits.substr(digits.size() - 29)},
      {digits, 61, digits.substr(0, 29) + "..." + digits.substr(digits.size() - 29)},
      {digits, 3, digits},  // half is 0: unchanged
  };
  for (const Case& c : cases) {
    char out[512];
    std::memset(out, 'x', sizeof out);
    ASSERT_TRUE(ShortenForDisplay(c.source.c_str(), out, c.limit)) << c.source << " " << c.limit;
    EXPECT_EQ(std::string(out), c.expected) << c.limit;
  }
}

}  // namespace
