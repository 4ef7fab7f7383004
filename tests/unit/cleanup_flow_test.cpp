// The cleanup routines as the scan reaches them: a forged backdoor copy
// that is running, or cannot be deleted at all, goes through termination,
// the deferred removal and the restart question of the scan run, on both
// families.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/scan_run.h"
#include "engine/shared_state.h"
#include "platform/emu/machine.h"
#include "tests/support/machine_fixture.h"
#include "tools/forge/forge.h"

namespace {

const char kSample[] = "C:\\WINDOWS\\system32\\evil.exe";
const char kQuestion[] =
    "The system has to be restarted to remove the virus completely from your system. \n\n Restart now?";

class CleanupFlowTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    InstallMainWindow();
    ActionMode = ActionClean;
    forge::Bytes sample = forge::BackdoorSample(0);
    WriteFile(kSample, std::string(sample.begin(), sample.end()));
    MakeDir("C:\\WINDOWS\\TEMP");
  }
  bool Asked() const {
    for (const auto& p : emu::Prompts()) {
      if (p.text == kQuestion) return true;
    }
    return false;
  }
  bool HasLineEndingWith(const std::string& tail) const {
    for (const auto& l : Lines()) {
      if (l.size() >= tail.size() && l.compare(l.size() - tail.size(), tail.size(), tail) == 0) return true;
    }
    return false;
  }
};

// The memory scan cannot read the image path of the process that runs the
// copy (its first psapi query fails), so the drive walk meets the running
// copy; another program of the same name keeps running.
TEST_F(CleanupFlowTest, ARunningProcessOfTheFileIsEndedAndTheCopyThenDeleted) {
  WriteFile("C:\\OTHER\\evil.exe", "clean");
  DWORD other = emu::AddProcess("C:\\OTHER\\evil.exe");
  DWORD id = emu::AddProcess(kSample);
  emu::FailOperation("GetModuleFileNameExA", kSample, ERROR_ACCESS_DENIED, 1);
  ScanRun();
  EXPECT_FALSE(emu::ProcessRunning(id));
  EXPECT_TRUE(emu::ProcessRunning(other));
  EXPECT_FALSE(Exists(kSample));
  EXPECT_TRUE(HasLineEndingWith(" removed"));
  EXPECT_FALSE(Asked());
  EXPECT_TRUE(emu::PendingRenames().empty());
}

TEST_F(CleanupFlowTest, AnUndeletableCopyIsScheduledAndTheRestartFollowsOnYes) {
  emu::FailOperation("DeleteFileA", kSample, ERROR_ACCESS_DENIED);
  emu::ScriptAnswers({IDYES});
  ScanRun();
  EXPECT_TRUE(HasLineEndingWith(" Unable to remove"));
  ASSERT_EQ(emu::PendingRenames().size(), 1u);
  EXPECT_EQ(emu::PendingRenames()[0].from, kSample);
  EXPECT_EQ(RestartNeeded, 1);
  EXPECT_TRUE(Asked());
  EXPECT_TRUE(emu::RestartRequested());
}

TEST_F(CleanupFlowTest, OnThe9xFamilyTheCopyGoesToWininitAndNoIsRespected) {
  emu::SetPlatform(emu::Platform::Win98);
  emu::FailOperation("DeleteFileA", kSample, ERROR_ACCESS_DENIED);
  emu::ScriptAnswers({IDNO});
  ScanRun();
  EXPECT_EQ(ReadFile("C:\\WINDOWS\\wininit.ini"), "[rename]\r\nNUL=C:\\WINDOWS\\system32\\evil.exe\r\n");
  EXPECT_TRUE(Asked());
  EXPECT_TRUE(emu::ExitRequests().empty());
}

TEST_F(CleanupFlowTest, ARefusedScheduleAsksNoRestartQuestion) {
  emu::FailOperation("DeleteFileA", kSample, ERROR_ACCESS_DENIED);
  emu::SetKeyAccess("HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager", emu::KeyAccess::ReadOnly);
  ScanRun();
  EXPECT_TRUE(HasLineEndingWith(" Unable to remove"));
  EXPECT_EQ(RestartNeeded, 0);
  EXPECT_FALSE(Asked());
}

}  // namespace
