// The backdoor scanner end to end on the emulated machine: every record
// forged and found under its own name, the near misses left alone, the
// cost of files that match nothing, and what each action mode does.
#include <gtest/gtest.h>

#include <string>

#include "cleanup/process_termination.h"
#include "engine/shared_state.h"
#include "platform/system.h"
#include "scanners/backdoor_scanner.h"
#include "scanners/pe_probe.h"
#include "scanners/signature_match.h"
#include "platform/emu/system_control.h"
#include "tests/support/machine_fixture.h"
#include "tools/forge/forge.h"

namespace {

const char kRow[] = "W32/Murkel.Trojan";

class BackdoorScannerTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    InstallMainWindow();
    ActionMode = ActionClean;
  }
  void Put(const std::string& path, const forge::Bytes& bytes) {
    ASSERT_FALSE(bytes.empty()) << path;
    WriteFile(path, std::string(bytes.begin(), bytes.end()));
  }
  // Index of the first matching backdoor record, as the scanner's search
  // sees the file; -1 for none.
  int RecordFound(const std::string& path) {
    int fd = _open(path.c_str(), _O_RDONLY | _O_BINARY);
    if (fd < 0) return -2;
    int found = -1;
    if (ReadPeHeader(fd) && ReadPeSections(fd))
      found = FindBackdoorRecord(fd, int32_t(_filelength(fd)), PeEntryPoint());
    _close(fd);
    return found;
  }
  static std::string Line(const std::string& path, const std::string& name, const char* what) {
    return path + "     " + name + " " + what;
  }
};

int32_t BytesOfHeaders(int sections) { return 2 + 4 + 20 + 96 + 40 * sections; }

bool SizeOfSomeRecord(size_t length) {
  for (int i = 0; i < BackdoorSignatureCount; ++i)
    if (BackdoorSignatures[i].FileSize == length) return true;
  return false;
}

TEST_F(BackdoorScannerTest, EveryRecordIsFoundFirstUnderItsOwnNameAndRemoved) {
  for (int i = 0; i < BackdoorSignatureCount; ++i) {
    const std::string path = "C:\\samples\\b" + std::to_string(i + 1) + ".exe";
    forge::Bytes sample = forge::BackdoorSample(i);
    ASSERT_EQ(sample.size(), BackdoorSignatures[i].FileSize) << i;
    ASSERT_NE(sample[0], 'M') << "a forged sample must not be a loadable image";
    ASSERT_EQ(forge::FirstMatchingBackdoorRecord(sample), i);
    Put(path, sample);
    ASSERT_EQ(RecordFound(path), i) << BackdoorSignatures[i].Name;

    const int32_t infected = FilesInfected, removed = FilesRemoved;
    const size_t lines = Lines().size();
    EXPECT_EQ(ScanBackdoorFile(kRow, path.c_str()), 1) << i;
    EXPECT_EQ(FilesInfected, infected + 1);
    EXPECT_EQ(FilesRemoved, removed + 1);
    ASSERT_EQ(Lines().size(), lines + 1) << i;
    EXPECT_EQ(Lines().back(), Line(path, BackdoorSignatures[i].Name, "removed"));
    EXPECT_STREQ(CurrentDetection, BackdoorSignatures[i].Name);
    EXPECT_EQ(std::string(StatusText), path);
    EXPECT_EQ(CurrentScanFile[0], 0);
    EXPECT_FALSE(Exists(path)) << i;
  }
}

TEST_F(BackdoorScannerTest, SizesOneOffAreNotDetectedAndCostOnlyTheHeaders) {
  for (int i = 0; i < BackdoorSignatureCount; ++i) {
    for (auto kind : {forge::BackdoorMiss::OneByteLonger, forge::BackdoorMiss::OneByteShorter}) {
      forge::Bytes miss = forge::BackdoorNearMiss(i, kind);
      Put("C:\\miss.exe", miss);
      const int64_t before = emu::BytesRead();
      ASSERT_EQ(ScanBackdoorFile(kRow, "C:\\miss.exe"), 0) << i;
      if (!SizeOfSomeRecord(miss.size())) {
        ASSERT_EQ(emu::BytesRead() - before, BytesOfHeaders(PeSectionCount())) << i;
      }
    }
  }
  EXPECT_TRUE(Lines().empty());
  EXPECT_EQ(FilesInfected, 0);
}

TEST_F(BackdoorScannerTest, BothFragmentsAreRequired) {
  const forge::BackdoorMiss kinds[] = {
      forge::BackdoorMiss::FirstFragmentByte, forge::BackdoorMiss::SecondFragmentByte,
      forge::BackdoorMiss::FirstFragmentOnly, forge::BackdoorMiss::SecondFragmentOnly};
  for (int i = 0; i < BackdoorSignatureCount; i += 7) {
    for (auto kind : kinds) {
      Put("C:\\miss.exe", forge::BackdoorNearMiss(i, kind));
      EXPECT_EQ(ScanBackdoorFile(kRow, "C:\\miss.exe"), 0) << i << " kind " << int(kind);
    }
  }
  EXPECT_TRUE(Lines().empty());
  EXPECT_EQ(FilesInfected, 0);
}

TEST_F(BackdoorScannerTest, HostileHeadersAtARecordsSizeFailSafely) {
  // Row 1's sample (5,120 bytes, as three other rows) with its entry point
  // and section table rewritten so that every mapped address wraps or
  // points past the file. Forged headers: PE at 0x40, sections at 0x138.
  const struct {
    const char* what;
    uint32_t entryPoint, count, va, vsize, raw;
  } cases[] = {
      {"entry point near 4 GB", 0xFFFFFF00, 1, 0x1000, 0x1000, 0x400},
      {"raw pointer near 2 GB", 0x1000, 1, 0, 0xFFFFFFFF, 0x7FFFFFF0},
      {"section end wraps", 0x1000, 20, 0xFFFFFFFF, 2, 0xFFFFFFFF},
      {"no sections", 0, 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    forge::Bytes b = forge::BackdoorSample(0);
    auto put32 = [&](size_t at, uint32_t v) {
      for (int k = 0; k < 4; ++k) b[at + k] = uint8_t(v >> (8 * k));
    };
    b[0x46] = uint8_t(c.count);
    put32(0x68, c.entryPoint);
    for (uint32_t i = 0; i < c.count; ++i) {
      put32(0x138 + 40 * i + 8, c.vsize);
      put32(0x138 + 40 * i + 12, c.va);
      put32(0x138 + 40 * i + 20, c.raw);
    }
    Put("C:\\hostile.exe", b);
    const int64_t before = emu::BytesRead();
    EXPECT_EQ(ScanBackdoorFile(kRow, "C:\\hostile.exe"), 0) << c.what;
    // Headers, then at most two fragments for each of the four 5,120-byte rows.
    EXPECT_LE(emu::BytesRead() - before, BytesOfHeaders(int(c.count)) + 4 * 40) << c.what;
  }
  EXPECT_TRUE(Lines().empty());
}

TEST_F(BackdoorScannerTest, TwoMatchingRecordsActOnceUnderTheFirst) {
  // Rows 1 and 2 are both 5,120 bytes: plant row 1's fragments into row 2's
  // sample where row 1 would look for them.
  ASSERT_EQ(BackdoorSignatures[0].FileSize, BackdoorSignatures[1].FileSize);
  Put("C:\\both.exe", forge::BackdoorSample(1));
  int fd = _open("C:\\both.exe", _O_RDONLY | _O_BINARY);
  ASSERT_TRUE(ReadPeHeader(fd) && ReadPeSections(fd));
  const uint32_t f1 = RvaToFileOffset(PeEntryPoint() + BackdoorSignatures[0].Offset1, fd);
  const uint32_t f2 = RvaToFileOffset(PeEntryPoint() + BackdoorSignatures[0].Offset2, fd);
  _close(fd);
  forge::Bytes both = forge::BackdoorSample(1);
  ASSERT_LE(f1 + 20, both.size());
  ASSERT_LE(f2 + 20, both.size());
  std::copy_n(BackdoorSignatures[0].Pattern1, 20, both.begin() + f1);
  std::copy_n(BackdoorSignatures[0].Pattern2, 20, both.begin() + f2);
  Put("C:\\both.exe", both);
  ASSERT_EQ(RecordFound("C:\\both.exe"), 0);
  EXPECT_EQ(ScanBackdoorFile(kRow, "C:\\both.exe"), 1);
  EXPECT_EQ(FilesInfected, 1);
  EXPECT_EQ(Lines(), std::vector<std::string>{Line("C:\\both.exe", BackdoorSignatures[0].Name, "removed")});
  EXPECT_EQ(emu::CallCount("DeleteFileA"), 1);
}

TEST_F(BackdoorScannerTest, TextFileCostsTheMatchersAndOneArchiveRecordRead) {
  WriteFile("C:\\notes.txt", std::string(100, 'a'));
  EXPECT_EQ(ScanBackdoorFile(kRow, "C:\\notes.txt"), 0);
  // 2 bytes at 0x3C, then nothing at the offset they name (past the end);
  // six ZIP matchers of 30, two RAR matchers of 7, one "PK" test of 40.
  EXPECT_EQ(emu::BytesRead(), 2 + 6 * 30 + 2 * 7 + 40);
  EXPECT_TRUE(Lines().empty());
  EXPECT_EQ(emu::CallCount("_close"), 1);
}

TEST_F(BackdoorScannerTest, UnreadableFilesCountAsClean) {
  EXPECT_EQ(ScanBackdoorFile(kRow, "C:\\absent.exe"), 0);
  Put("C:\\s.exe", forge::BackdoorSample(0));
  emu::FailOperation("_open", "C:\\s.exe", ERROR_SHARING_VIOLATION);
  EXPECT_EQ(ScanBackdoorFile(kRow, "C:\\s.exe"), 0);
  emu::ResetMachine();
  emu::MapDrive('C', Root());
  emu::FailOperation("_filelength", "", ERROR_INVALID_HANDLE);
  EXPECT_EQ(ScanBackdoorFile(kRow, "C:\\s.exe"), 0);
  EXPECT_EQ(emu::CallCount("_close"), 1);
  EXPECT_TRUE(Exists("C:\\s.exe"));
  EXPECT_EQ(FilesInfected, 0);

  // A path too long for CurrentScanFile is skipped, not truncated.
  std::string longPath = "C:\\" + std::string(262, 'x');
  EXPECT_EQ(ScanBackdoorFile(kRow, longPath.c_str()), 0);
}

TEST_F(BackdoorScannerTest, InfectedInMemoryIsClearedOnlyFromOne) {
  WriteFile("C:\\a.txt", "text");
  InfectedInMemory = 1;
  ScanBackdoorFile(kRow, "C:\\a.txt");
  EXPECT_EQ(InfectedInMemory, 0);
  InfectedInMemory = 2;
  ScanBackdoorFile(kRow, "C:\\a.txt");
  EXPECT_EQ(InfectedInMemory, 2);
}

TEST_F(BackdoorScannerTest, ActionModes) {
  struct Case {
    int mode;
    const char* line;  // nullptr: no line
    bool kept;
    const char* renamedTo;
  } cases[] = {
      {ActionClean, "removed", false, nullptr},
      {ActionDelete, "removed", false, nullptr},
      {ActionRename, "renamed", false, "C:\\d\\s.Vxe"},
      {ActionReport, "not disinfected as per user's selection", true, nullptr},
      {0, nullptr, true, nullptr},
      {104, nullptr, true, nullptr},
  };
  const char* name = BackdoorSignatures[0].Name;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    Put("C:\\d\\s.exe", forge::BackdoorSample(0));
    ActionMode = c.mode;
    const int32_t removed = FilesRemoved, infected = FilesInfected;
    const size_t lines = Lines().size();
    EXPECT_EQ(ScanBackdoorFile(kRow, "C:\\d\\s.exe"), 1);
    EXPECT_EQ(FilesInfected, infected + 1);
    EXPECT_EQ(FilesRemoved, removed + (c.mode == ActionClean || c.mode == ActionDelete));
    if (c.line) {
      ASSERT_EQ(Lines().size(), lines + 1);
      EXPECT_EQ(Lines().back(), Line("C:\\d\\s.exe", name, c.line));
    } else {
      EXPECT_EQ(Lines().size(), lines);
    }
    EXPECT_EQ(Exists("C:\\d\\s.exe"), c.kept);
    if (c.renamedTo) {
      EXPECT_TRUE(Exists(c.renamedTo));
      emu::SetAttributes(c.renamedTo, FILE_ATTRIBUTE_ARCHIVE);
      ASSERT_TRUE(DeleteFileA(c.renamedTo));
    }
  }
}

TEST_F(BackdoorScannerTest, RenameFailsWhenTheLastDotIsInADirectory) {
  Put("C:\\dir.x\\sample", forge::BackdoorSample(0));
  ActionMode = ActionRename;
  EXPECT_EQ(ScanBackdoorFile(kRow, "C:\\dir.x\\sample"), 1);
  EXPECT_EQ(Lines().back(), Line("C:\\dir.x\\sample", BackdoorSignatures[0].Name, "Rename failed"));
  EXPECT_TRUE(Exists("C:\\dir.x\\sample"));
}

TEST_F(BackdoorScannerTest, DeletionResetsAttributesFirst) {
  Put("C:\\ro.exe", forge::BackdoorSample(0));
  emu::SetAttributes("C:\\ro.exe", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  EXPECT_EQ(ScanBackdoorFile(kRow, "C:\\ro.exe"), 1);
  EXPECT_FALSE(Exists("C:\\ro.exe"));
  EXPECT_EQ(Lines().back(), Line("C:\\ro.exe", BackdoorSignatures[0].Name, "removed"));
}

TEST_F(BackdoorScannerTest, AFileStillThereKeepsItsAttributes) {
  constexpr DWORD Kept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  // A file waiting for its removal at the next start loses read-only only:
  // that removal would refuse it.
  constexpr DWORD Pending = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  const struct {
    const char* what;
    int mode, memoryAction;
    const char* path;
    DWORD before, after;
    bool scheduleFails;
  } cases[] = {
      {"deletion refused, scheduled", ActionClean, 0, "C:\\d\\s.exe", Kept, Pending, false},
      {"read-only alone, scheduled", ActionClean, 0, "C:\\d\\s.exe", FILE_ATTRIBUTE_READONLY,
       FILE_ATTRIBUTE_NORMAL, false},
      {"deletion and scheduling refused", ActionClean, 0, "C:\\d\\s.exe", Kept, Kept, true},
      {"deletion refused after the memory scan", 0, ActionClean, "C:\\d\\s.exe", Kept, Pending,
       false},
      {"reported", ActionReport, 0, "C:\\d\\s.exe", Kept, Kept, false},
      {"rename failed", ActionRename, 0, "C:\\d.x\\s", Kept, Kept, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    emu::ResetMachine();
    emu::MapDrive('C', Root());
    InstallMainWindow();
    Put(c.path, forge::BackdoorSample(0));
    emu::SetAttributes(c.path, c.before);
    emu::FailOperation("DeleteFileA", c.path, ERROR_ACCESS_DENIED);
    if (c.scheduleFails) emu::FailOperation("MoveFileExA", c.path, ERROR_ACCESS_DENIED);
    ActionMode = c.mode;
    MemoryAction = c.memoryAction;
    ScanBackdoorFile(kRow, c.path);
    EXPECT_TRUE(Exists(c.path));
    EXPECT_EQ(emu::Attributes(c.path), c.after);
  }
}

TEST_F(BackdoorScannerTest, RefusedAttributeResetIsReportedAndNothingScheduled) {
  Put("C:\\s.exe", forge::BackdoorSample(0));
  emu::FailOperation("SetFileAttributesA", "C:\\s.exe", ERROR_ACCESS_DENIED);
  RestartNeeded = 7;
  EXPECT_EQ(ScanBackdoorFile(kRow, "C:\\s.exe"), 1);
  EXPECT_EQ(Lines().back(), Line("C:\\s.exe", BackdoorSignatures[0].Name, "Unable to remove"));
  EXPECT_EQ(emu::CallCount("DeleteFileA"), 0);
  EXPECT_EQ(RestartNeeded, 7);
  EXPECT_EQ(FilesRemoved, 0);
  EXPECT_TRUE(Exists("C:\\s.exe"));
}

TEST_F(BackdoorScannerTest, RefusedDeletionIsReportedAndScheduled) {
  Put("C:\\s.exe", forge::BackdoorSample(0));
  emu::FailOperation("DeleteFileA", "C:\\s.exe", ERROR_ACCESS_DENIED);
  RestartNeeded = 7;  // a scheduled removal sets 1
  EXPECT_EQ(ScanBackdoorFile(kRow, "C:\\s.exe"), 1);
  EXPECT_EQ(Lines(), std::vector<std::string>{
                         Line("C:\\s.exe", BackdoorSignatures[0].Name, "Unable to remove")});
  EXPECT_EQ(RestartNeeded, 1);
  EXPECT_EQ(FilesRemoved, 0);
  EXPECT_EQ(FilesInfected, 1);
  EXPECT_TRUE(Exists("C:\\s.exe"));
}

TEST_F(BackdoorScannerTest, OneScheduledRemovalIsEnoughForTheRestartQuestion) {
  // Two refused deletions, each scheduled or refused by the pending list.
  const struct {
    bool first, second;
    int restart;
  } cases[] = {{true, false, 1}, {false, true, 1}, {true, true, 1}, {false, false, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.first << c.second);
    ResetSharedState();
    emu::ResetMachine();
    emu::MapDrive('C', Root());
    InstallMainWindow();
    ActionMode = ActionClean;
    const size_t lines = Lines().size();
    Put("C:\\a.exe", forge::BackdoorSample(0));
    Put("C:\\b.exe", forge::BackdoorSample(0));
    emu::FailOperation("DeleteFileA", "", ERROR_ACCESS_DENIED);
    if (!c.first) emu::FailOperation("MoveFileExA", "C:\\a.exe", ERROR_ACCESS_DENIED);
    if (!c.second) emu::FailOperation("MoveFileExA", "C:\\b.exe", ERROR_ACCESS_DENIED);
    ScanBackdoorFile(kRow, "C:\\a.exe");
    ScanBackdoorFile(kRow, "C:\\b.exe");
    EXPECT_EQ(RestartNeeded, c.restart);
    EXPECT_EQ(Lines().size(), lines + 2) << "two Unable to remove lines";
  }
}

// On a platform of neither family TerminateProcessByPath answers 1 at once
// and nothing can be scheduled; the scanner's second deletion follows.
class TerminatingScannerTest : public BackdoorScannerTest {
 protected:
  void SetUp() override {
    BackdoorScannerTest::SetUp();
    emu::SetPlatform(emu::Platform::Other);
    if (!TerminateProcessByPath("C:\\probe.exe"))
      GTEST_SKIP() << "TerminateProcessByPath cannot be made to succeed on this machine yet";
  }
};

TEST_F(TerminatingScannerTest, DeletionRefusedOnceSucceedsAfterTermination) {
  Put("C:\\s.exe", forge::BackdoorSample(0));
  emu::FailOperation("DeleteFileA", "C:\\s.exe", ERROR_ACCESS_DENIED, 1);
  EXPECT_EQ(ScanBackdoorFile(kRow, "C:\\s.exe"), 1);
  EXPECT_EQ(emu::CallCount("DeleteFileA"), 2);
  EXPECT_EQ(Lines(), std::vector<std::string>{Line("C:\\s.exe", BackdoorSignatures[0].Name, "removed")});
  EXPECT_EQ(FilesRemoved, 1);
  EXPECT_FALSE(Exists("C:\\s.exe"));
}

TEST_F(TerminatingScannerTest, DeletionRefusedTwiceIsScheduled) {
  Put("C:\\s.exe", forge::BackdoorSample(0));
  emu::FailOperation("DeleteFileA", "C:\\s.exe", ERROR_ACCESS_DENIED, 2);
  RestartNeeded = 7;
  EXPECT_EQ(ScanBackdoorFile(kRow, "C:\\s.exe"), 1);
  EXPECT_EQ(emu::CallCount("DeleteFileA"), 2);
  EXPECT_EQ(Lines(), std::vector<std::string>{
                         Line("C:\\s.exe", BackdoorSignatures[0].Name, "Unable to remove")});
  EXPECT_EQ(RestartNeeded, 7) << "nothing could be scheduled here: the earlier answer stays";
  EXPECT_EQ(FilesRemoved, 0);
  EXPECT_TRUE(Exists("C:\\s.exe"));
}

TEST_F(BackdoorScannerTest, SingleFileModeOnlyRecordsTheDetection) {
  Put("C:\\run\\s.exe", forge::BackdoorSample(5));
  SingleFileMode = 1;
  EXPECT_EQ(ScanBackdoorFile(kRow, "C:\\run\\s.exe"), 1);
  EXPECT_EQ(FileDetected, 1);
  EXPECT_EQ(FilesInfected, 1);
  EXPECT_TRUE(Lines().empty());
  EXPECT_STREQ(CurrentDetection, BackdoorSignatures[5].Name);
  EXPECT_STREQ(StatusText, "C:\\run\\s.exe");
  EXPECT_EQ(CurrentScanFile[0], 0);
  EXPECT_EQ(ReadFile("C:\\run\\s.exe").size(), BackdoorSignatures[5].FileSize);
  EXPECT_EQ(emu::CallCount("DeleteFileA") + emu::CallCount("SetFileAttributesA"), 0);
}

TEST_F(BackdoorScannerTest, MemoryActionDeletesWithoutOpening) {
  Put("C:\\run\\s.exe", forge::BackdoorSample(5));
  MemoryAction = ActionClean;
  ActionMode = 0;
  EXPECT_EQ(ScanBackdoorFile(kRow, "C:\\run\\s.exe"), 0);
  EXPECT_EQ(emu::CallCount("_open"), 0);
  EXPECT_EQ(ActionMode, ActionClean);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"System Memory    W32/Murkel.Backdoor removed",
                                               Line("C:\\run\\s.exe", kRow, "removed")}));
  EXPECT_EQ(emu::Sleeps(), std::vector<DWORD>{1000});
  EXPECT_FALSE(Exists("C:\\run\\s.exe"));
  EXPECT_EQ(FilesRemoved, 1);
  EXPECT_EQ(FilesInfected, 0);

  // Without a main window the memory action is not taken: a normal scan.
  MainWindow = nullptr;
  WriteFile("C:\\clean.txt", "text");
  EXPECT_EQ(ScanBackdoorFile(kRow, "C:\\clean.txt"), 0);
  EXPECT_EQ(emu::CallCount("_open"), 1);

  // The unattended run has no window and takes it all the same.
  WindowlessScan = 1;
  Put("C:\\run\\t.exe", forge::BackdoorSample(5));
  EXPECT_EQ(ScanBackdoorFile(kRow, "C:\\run\\t.exe"), 0);
  EXPECT_EQ(emu::CallCount("_open"), 1);
  EXPECT_FALSE(Exists("C:\\run\\t.exe"));
  EXPECT_EQ(FilesRemoved, 2);
}

TEST_F(BackdoorScannerTest, ArchiveWormsAreRemovedButLeaveTheFileToLaterRows) {
  const struct {
    bool zip;
    const char* variant;
  } worms[] = {{true, "H"}, {true, "K"}, {true, "J"}, {true, "N"},
               {true, "O"}, {true, "Aa"}, {false, "N"}, {false, "O"}};
  for (const auto& w : worms) {
    forge::Bytes b;
    ASSERT_TRUE(w.zip ? forge::ZipWorm(w.variant, {}, &b) : forge::RarWorm(w.variant, {}, &b));
    const std::string path = std::string("C:\\mail\\") + w.variant + (w.zip ? ".zip" : ".rar");
    Put(path, b);
    const int32_t infected = FilesInfected;
    EXPECT_EQ(ScanBackdoorFile(kRow, path.c_str()), 0) << path;
    EXPECT_EQ(FilesInfected, infected + 1) << path;
    EXPECT_EQ(Lines().back(), Line(path, std::string("W32/Bagle.") + w.variant + ".Worm", "removed"));
    EXPECT_FALSE(Exists(path));
    EXPECT_EQ(CurrentScanFile[0], 0);
  }
}

TEST_F(BackdoorScannerTest, ArchiveRecordsMatchAtTheEdgesOfTheirWindows) {
  for (int i = 0; i < ArchiveSignatureCount; ++i) {
    const struct {
      uint32_t w1, w2;
      bool found;
    } spots[] = {{0, 0, true}, {1003, 1003, true}, {0, 1003, true}, {1004, 0, false}, {0, 1004, false}};
    for (const auto& s : spots) {
      SCOPED_TRACE(testing::Message() << "record " << i << " windows " << s.w1 << "," << s.w2);
      forge::Bytes b = forge::ArchiveRecordSample(i, s.w1, s.w2);
      if (b.empty()) continue;  // the two windows overlap at these spots
      Put("C:\\a.zip", b);
      ActionMode = ActionReport;
      EXPECT_EQ(ScanBackdoorFile(kRow, "C:\\a.zip"), s.found ? 1 : 0);
      if (s.found) {
        EXPECT_EQ(Lines().back(), Line("C:\\a.zip", ArchiveSignatures[i].Name,
                                       "not disinfected as per user's selection"));
        EXPECT_STREQ(CurrentDetection, ArchiveSignatures[i].Name);
      }
    }
  }
}

TEST_F(BackdoorScannerTest, NearSizeRecordsAcceptLessThan4096EitherSide) {
  // Row 8 (21,922 bytes) cannot hold its second window below 19,152 bytes,
  // so its lower limit shows on row 9 (44,444 bytes).
  const struct {
    int row;
    uint32_t size;
    bool inside;
  } cases[] = {{7, 21922, true},  {7, 26017, true},  {7, 26018, false}, {8, 40348, false},
               {8, 40349, true},  {8, 44444, true},  {8, 48539, true},  {8, 48540, false}};
  ActionMode = ActionReport;
  for (const auto& c : cases) {
    Put("C:\\a.zip", forge::ArchiveRecordSample(c.row, 0x155, 0x2A9, c.size));
    EXPECT_EQ(ScanBackdoorFile(kRow, "C:\\a.zip"), c.inside ? 1 : 0) << c.size;
  }
  EXPECT_EQ(FilesInfected, 5);
}

TEST_F(BackdoorScannerTest, DetectableCopyOfAProgramKeepsItsBytes) {
  // A small program image: real MZ header, two sections, 6 KB.
  forge::Bytes exe(6144, 0x90);
  exe[0] = 'M';
  exe[1] = 'Z';
  exe[0x3C] = 0x80;
  exe[0x3D] = exe[0x3E] = exe[0x3F] = 0;
  std::fill(exe.begin() + 0x80, exe.begin() + 0x400, 0);
  const uint8_t pe[] = {'P', 'E', 0, 0, 0x4C, 0x01, 2, 0};
  std::copy(pe, pe + sizeof pe, exe.begin() + 0x80);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int k = 0; k < 4; ++k) exe[at + k] = uint8_t(v >> (8 * k));
  };
  put32(0x80 + 24 + 16, 0x1010);  // entry point
  put32(0x80 + 24 + 60, 0x400);
  put32(0x80 + 248 + 8, 0x1000);  // .text
  put32(0x80 + 248 + 12, 0x1000);
  put32(0x80 + 248 + 20, 0x400);
  put32(0x80 + 288 + 8, 0x800);  // .data
  put32(0x80 + 288 + 12, 0x2000);
  put32(0x80 + 288 + 20, 0x1400);

  int index = forge::FindRecordForExe(exe);
  ASSERT_GE(index, 0);
  forge::Bytes copy;
  std::string why;
  ASSERT_TRUE(forge::MakeDetectableCopy(exe, index, &copy, &why)) << why;
  ASSERT_EQ(copy.size(), BackdoorSignatures[index].FileSize);
  EXPECT_TRUE(std::equal(exe.begin(), exe.end(), copy.begin()));
  Put("C:\\sleeper.exe", copy);
  EXPECT_EQ(RecordFound("C:\\sleeper.exe"), index);
  ActionMode = ActionReport;
  EXPECT_EQ(ScanBackdoorFile(kRow, "C:\\sleeper.exe"), 1);
  EXPECT_EQ(Lines().back(), Line("C:\\sleeper.exe", BackdoorSignatures[index].Name,
                                 "not disinfected as per user's selection"));
}

}  // namespace
