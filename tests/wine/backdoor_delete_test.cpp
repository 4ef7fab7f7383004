// The backdoor scanner on the real platform: forged samples on the Wine C:
// drive are found and removed through the real SetFileAttributesA and
// DeleteFileA, renamed through MoveFileA, and a file held open is reported.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "engine/shared_state.h"
#include "scanners/backdoor_scanner.h"
#include "support/recording_window.h"
#include "support/scratch_tree.h"
#include "scanners/signature_record.h"
#include "tools/forge/forge.h"


namespace {

const char kRow[] = "W32/Murkel.Trojan";

std::string Text(const forge::Bytes& b) { return std::string(b.begin(), b.end()); }

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class BackdoorDeleteTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetSharedState();
    MainWindow = window.Handle();
    ActionMode = ActionClean;
  }
  void TearDown() override { DrainMessages(); }
  RecordingWindow window;
  ScratchTree tree{"C:\\sorvane-backdoor"};
};

TEST_F(BackdoorDeleteTest, ReadOnlyHiddenSampleIsRemoved) {
  const std::string path = tree.File("system\\b1.exe", Text(forge::BackdoorSample(0)));
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                                   FILE_ATTRIBUTE_SYSTEM));
  ASSERT_FALSE(DeleteFileA(path.c_str())) << "a read-only file must resist a plain deletion";

  EXPECT_EQ(ScanBackdoorFile(kRow, path.c_str()), 1);
  EXPECT_FALSE(Exists(path));
  EXPECT_EQ(window.lines, std::vector<std::string>{path + "     " + BackdoorSignatures[0].Name + " removed"});
  EXPECT_EQ(FilesInfected, 1);
  EXPECT_EQ(FilesRemoved, 1);
}

TEST_F(BackdoorDeleteTest, SamplesOfSeveralRecordsAreRemovedAndNearMissesKept) {
  for (int i : {3, 6, 120, BackdoorSignatureCount - 1}) {
    const std::string path = tree.File("b" + std::to_string(i + 1) + ".exe", Text(forge::BackdoorSample(i)));
    EXPECT_EQ(ScanBackdoorFile(kRow, path.c_str()), 1) << i;
    EXPECT_FALSE(Exists(path)) << i;
  }
  for (auto kind : {forge::BackdoorMiss::OneByteLonger, forge::BackdoorMiss::SecondFragmentByte}) {
    const std::string path = tree.File("miss.exe", Text(forge::BackdoorNearMiss(3, kind)));
    EXPECT_EQ(ScanBackdoorFile(kRow, path.c_str()), 0);
    EXPECT_TRUE(Exists(path));
  }
  EXPECT_EQ(window.lines.size(), 4u);
  EXPECT_EQ(FilesRemoved, 4);
}

TEST_F(BackdoorDeleteTest, RenameModeTurnsTheExtensionIntoV) {
  const std::string path = tree.File("r.exe", Text(forge::BackdoorSample(1)));
  ActionMode = ActionRename;
  EXPECT_EQ(ScanBackdoorFile(kRow, path.c_str()), 1);
  EXPECT_FALSE(Exists(path));
  EXPECT_TRUE(Exists(tree.Root() + "\\r.Vxe"));
  EXPECT_EQ(window.lines, std::vector<std::string>{path + "     " + BackdoorSignatures[1].Name + " renamed"});
}

TEST_F(BackdoorDeleteTest, FileHeldOpenIsReportedAsNotRemovable) {
  const std::string path = tree.File("held.exe", Text(forge::BackdoorSample(2)));
  HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ScanBackdoorFile(kRow, path.c_str()), 1);
  CloseHandle(held);
  EXPECT_TRUE(Exists(path));
  EXPECT_EQ(window.lines,
            std::vector<std::string>{path + "     " + BackdoorSignatures[2].Name + " Unable to remove"});
  EXPECT_EQ(FilesRemoved, 0);
}

}  // namespace
