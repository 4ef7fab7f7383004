// What a rescue run refuses to do: schedule a removal at restart that no
// copy backs, write wininit.ini through a link, keep its quarantine on a
// drive it cleans; and a report whose exit code is the process's.
#include <gtest/gtest.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "cleanup/deferred_removal.h"
#include "platform/emu/machine.h"
#include "platform/host/host_faults.h"
#include "tests/offline/forged_hive.h"
#include "tools/sorvane-offline/rescue.h"
#include "tools/sorvane-offline/volume_identity.h"

namespace {

class RescueRefusalsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ::testing::TempDir() + "rescue_refusals_" + std::to_string(getpid());
    std::system(("rm -rf '" + dir_ + "' && mkdir -p '" + dir_ + "/vol/WINDOWS' '" + dir_ + "/outside'").c_str());
    std::ofstream(dir_ + "/vol/evil.exe") << "MZ";
    emu::ResetMachine();
    emu::MapDrive('C', dir_ + "/vol");
    options_.quarantine = dir_ + "/q";
    options_.report = dir_ + "/report.json";
    options_.driveRoots = {dir_ + "/vol"};
  }
  void TearDown() override {
    emu::ResetMachine();
    std::system(("rm -rf '" + dir_ + "'").c_str());
  }
  std::string dir_;
  RescueOptions options_;
};

// Each way a removal at restart must not be recorded: it is not, and the
// file is named once as not scheduled.
TEST_F(RescueRefusalsTest, NoRemovalAtRestartWithoutACopyOrThroughALinkedWininit) {
  const struct {
    const char* name;
    const char* platform;
    bool linkedWininit, copyFails;
  } cases[] = {{"NT, the copy cannot be kept", "nt5", false, true},
               {"9x, the copy cannot be kept", "9x", false, true},
               {"9x, wininit.ini is a link", "9x", true, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    if (c.linkedWininit) {
      std::ofstream(dir_ + "/outside/target") << "[rename]\r\n";
      symlink((dir_ + "/outside/target").c_str(), (dir_ + "/vol/WINDOWS/wininit.ini").c_str());
    }
    std::string error;
    ASSERT_TRUE(StartRescue(options_, &error)) << error;
    emu::Platform platform;
    ASSERT_TRUE(emu::ParsePlatform(c.platform, &platform));
    emu::SetPlatform(platform);
    emu::SetWindowsDirectory("C:\\WINDOWS");
    emu::SetEnvironmentVariable("TEMP", "C:\\WINDOWS");
    if (c.copyFails) host::FailOperation("quarantine copy", "C:\\evil.exe", ENOSPC);
    EXPECT_EQ(0, ScheduleDeleteAtRestart("C:\\evil.exe"));
    EXPECT_TRUE(emu::PendingRenames().empty());
    EXPECT_EQ(c.linkedWininit ? "[rename]\r\n" : "", Slurp(dir_ + "/outside/target"));
    EXPECT_EQ("", c.linkedWininit ? "" : Slurp(dir_ + "/vol/WINDOWS/wininit.ini")) << "no entry written";
    EXPECT_EQ(1, emu::FileNoteCount(emu::FileNote::NotScheduled));
    int code = 0;
    FinishRescue(1, &error, &code);
  }
}

// A quarantine folder on a drive being cleaned is refused before anything
// is written; one beside it is taken.
TEST_F(RescueRefusalsTest, AQuarantineOnTheVolumeIsRefused) {
  const struct {
    std::string folder;
    bool refused;
  } cases[] = {{"/vol/q", true}, {"/vol/new/deeper/q", true}, {"/vol", true}, {"/q2", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder);
    options_.quarantine = dir_ + c.folder;
    std::string error, root;
    EXPECT_EQ(c.refused, FolderOnVolume(options_.quarantine, options_.driveRoots, &root));
    EXPECT_EQ(c.refused, !StartRescue(options_, &error)) << error;
    EXPECT_EQ(c.refused, error.find("is on the volume being cleaned") != std::string::npos) << error;
    if (c.refused && c.folder != "/vol") {
      EXPECT_NE(0, access((dir_ + c.folder).c_str(), F_OK)) << "made anyway";
    }
    int code = 0;
    FinishRescue(0, &error, &code);
  }
}

// The report's exit code is the one the run ends with, also when the
// quarantine's summary cannot be written.
TEST_F(RescueRefusalsTest, TheReportSaysTheExitCodeTheRunEndsWith) {
  std::string error;
  ASSERT_TRUE(StartRescue(options_, &error)) << error;
  host::FailOperation("manifest summary", options_.quarantine, ENOSPC);
  int code = 0;
  EXPECT_FALSE(FinishRescue(1, &error, &code));
  EXPECT_EQ(2, code);
  EXPECT_NE(std::string::npos, error.find("manifest.json")) << error;
  nlohmann::json report = nlohmann::json::parse(Slurp(options_.report));
  EXPECT_EQ(2, report["exit_code"]);
  EXPECT_EQ(1u, report["errors"].size());
}

}  // namespace
