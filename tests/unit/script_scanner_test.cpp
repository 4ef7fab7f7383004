// ScanScriptFile: the action modes, their lines under the record's name,
// and its place in the scanner table.
#include <gtest/gtest.h>

#include "engine/scanner_table.h"
#include "engine/walk.h"
#include "scanners/script_scanner.h"
#include "tests/support/machine_fixture.h"
#include "tools/forge/forge_worm_script.h"

namespace {

const char Row[] = "W32/Joleee.Worm";

class ScriptScannerTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    InstallMainWindow();
  }
  void TearDown() override {
    ActiveScannerTable = ScannerTable;
    MachineTest::TearDown();
  }
  void WriteSample(const std::string& path, int record) {
    forge::Bytes b;
    std::string why;
    ASSERT_TRUE(forge::ScriptSample(record - 1, {}, &b, &why)) << why;
    WriteFile(path, std::string(b.begin(), b.end()));
  }
};

TEST_F(ScriptScannerTest, ActionModes) {
  struct Case {
    int mode;
    const char* path;
    std::string line;  // empty: no line
    bool stays;
    int removed;
  };
  const Case cases[] = {
      {ActionClean, "C:\\a.vbs", "C:\\a.vbs     VBS/Bagle.Q.Worm Virus removed", false, 1},
      {ActionDelete, "C:\\a.vbs", "C:\\a.vbs     VBS/Bagle.Q.Worm Virus removed", false, 1},
      {ActionRename, "C:\\a.txt", "C:\\a.txt     VBS/Bagle.Q.Worm Virus renamed", false, 0},
      {ActionRename, "C:\\noext", "C:\\noext     VBS/Bagle.Q.Worm Rename failed", true, 0},
      // x.vbs would only become x.Vbs, a name that still runs.
      {ActionRename, "C:\\a.vbs", "C:\\a.vbs     VBS/Bagle.Q.Worm Rename failed", true, 0},
      {ActionReport, "C:\\a.vbs",
       "C:\\a.vbs     VBS/Bagle.Q.Worm Not Disinfected As Per User's Selection", true, 0},
      {0, "C:\\a.vbs", "", true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    ResetSharedState();
    InstallMainWindow();
    const size_t lines = Lines().size();
    WriteSample(c.path, 2);
    ActionMode = c.mode;
    EXPECT_EQ(ScanScriptFile(Row, c.path), 1);
    EXPECT_EQ(Exists(c.path), c.stays);
    EXPECT_STREQ(CurrentDetection, "VBS/Bagle.Q.Worm");
    EXPECT_STREQ(StatusText, c.path);
    EXPECT_EQ(FilesInfected, 1);
    EXPECT_EQ(FilesRemoved, c.removed);
    if (c.line.empty()) {
      EXPECT_EQ(Lines().size(), lines);
    } else {
      ASSERT_EQ(Lines().size(), lines + 1);
      EXPECT_EQ(Lines().back(), c.line);
    }
    EXPECT_EQ(emu::OpenDescriptors(), 0u);
  }
  EXPECT_TRUE(Exists("C:\\a.Vxt"));
}

namespace {
std::vector<std::string> laterCalls;
int RecordLater(const char*, const char* path) {
  laterCalls.push_back(path);
  return 0;
}
const ScannerEntry ScriptThenRecorder[] = {
    {Row, ScanScriptFile}, {"later", RecordLater}, {nullptr, nullptr}};
}  // namespace

TEST_F(ScriptScannerTest, ReadOnlyPageInCleanModeEndsTheRowsForThatFile) {
  WriteSample("C:\\web\\page.htm", 13);
  WriteFile("C:\\web\\clean.htm", "<html><body>hello</body></html>\r\n");
  emu::SetAttributes("C:\\web\\page.htm", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
  ActionMode = ActionClean;
  ActiveScannerTable = ScriptThenRecorder;
  laterCalls.clear();
  WalkDirectory("C:\\web\\*.*");
  EXPECT_TRUE(Exists("C:\\web\\page.htm"));
  ASSERT_EQ(Lines().size(), 1u);
  EXPECT_EQ(Lines()[0], "C:\\web\\page.htm     HTML/Bagle.Dl.A.Trojan Unable to remove");
  EXPECT_EQ(laterCalls, std::vector<std::string>{"C:\\web\\clean.htm"});
  EXPECT_EQ(FilesRemoved, 0);
}

TEST_F(ScriptScannerTest, CleanAndUnreadableFilesAreLeftAlone) {
  WriteFile("C:\\clean.js", "// nothing to see\r\nvar x = 1;\r\n");
  WriteSample("C:\\locked.vbs", 1);
  emu::FailOperation("_open", "C:\\locked.vbs", ERROR_SHARING_VIOLATION);
  ActionMode = ActionClean;
  EXPECT_EQ(ScanScriptFile(Row, "C:\\clean.js"), 0);
  EXPECT_EQ(ScanScriptFile(Row, "C:\\locked.vbs"), 0);
  EXPECT_EQ(ScanScriptFile(Row, "C:\\missing.vbs"), 0);
  EXPECT_TRUE(Exists("C:\\clean.js"));
  EXPECT_TRUE(Exists("C:\\locked.vbs"));
  EXPECT_TRUE(Lines().empty());
  EXPECT_EQ(FilesInfected, 0);
}

}  // namespace
