// The worm file disinfector on forged infections of a synthetic host:
// detection of each variant, byte-for-byte repair, the near misses, the
// action modes and their lines, repairs that fail leaving the file as it
// was, and the attributes every file still there gets back.
#include <gtest/gtest.h>

#include "engine/shared_state.h"
#include "platform/emu/system_control.h"
#include "scanners/pe_probe.h"
#include "scanners/worm_disinfector.h"
#include "tests/support/machine_fixture.h"
#include "tools/forge/forge_bytes.h"
#include "tools/forge/forge_worm_script.h"

namespace {

const char Row[] = "W32/Joleee.Worm";
const char Sample[] = "C:\\samples\\host.exe";
constexpr DWORD Hidden = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

std::string Text(const forge::Bytes& b) { return std::string(b.begin(), b.end()); }

const char* NameOf(const std::string& v) {
  return v == "N" ? "W32/Bagle.N.Worm" : v == "O" ? "W32/Bagle.O.Worm" : "W32/Bagle.Q.Worm";
}

class WormTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    InstallMainWindow();
    ActionMode = ActionClean;
    host = forge::SyntheticHost();
  }
  // Writes an infected copy of the host at `path` with the given attributes.
  void Infect(const std::string& variant, const forge::WormOptions& o = {},
              const std::string& path = Sample, DWORD attributes = Hidden) {
    forge::Bytes out;
    std::string why;
    ASSERT_TRUE(forge::InfectWithWorm(host, variant, o, &out, &why)) << why;
    infected = out;
    WriteFile(path, Text(out));
    emu::SetAttributes(path, attributes);
  }
  forge::Bytes host, infected;
};

TEST_F(WormTest, RepairGivesBackTheHostByteForByte) {
  struct Case {
    const char* variant;
    forge::WormOptions options;
  };
  forge::WormOptions wrap;  // Q with a counter that wraps after the first byte
  wrap.immediate = 0x00000800;
  wrap.key = {{forge::WormOp::RolByCounter, 0, {}}, {forge::WormOp::Xor, 0x33, {}}};
  forge::WormOptions rorZero;
  rorZero.key = {{forge::WormOp::Ror, 0, {}}, {forge::WormOp::Xor, 0x91, {}}};
  forge::WormOptions strayPair;  // a stosb/loop pair before the anchor as well
  strayPair.loopEndBeforeAnchor = true;
  forge::WormOptions longLoop;
  longLoop.key = {{forge::WormOp::Nop, 99, {}}, {forge::WormOp::Xor, 1, {}}, {forge::WormOp::RolByCounter, 0, {}}};
  const Case cases[] = {{"N", {}},      {"O", {}},       {"Q", {}},      {"Q", wrap},
                        {"N", rorZero}, {"O", strayPair}, {"Q", longLoop}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.variant);
    ResetSharedState();
    InstallMainWindow();
    ActionMode = ActionClean;
    Infect(c.variant, c.options);
    const int32_t before = FilesInfected;

    EXPECT_EQ(ScanWormFile(Row, Sample), 0);
    EXPECT_EQ(ReadFile(Sample), Text(host));
    EXPECT_EQ(FilesInfected, before + 1);
    EXPECT_EQ(FilesDisinfected, 1);
    EXPECT_STREQ(CurrentDetection, NameOf(c.variant));
    EXPECT_STREQ(CurrentScanFile, Sample);
    EXPECT_STREQ(StatusText, Sample);
    ASSERT_FALSE(Lines().empty());
    EXPECT_EQ(Lines().back(), std::string(Sample) + "     " + NameOf(c.variant) + " Virus removed");
    EXPECT_EQ(emu::Attributes(Sample), Hidden) << "the old attributes are back";
    EXPECT_EQ(emu::OpenDescriptors(), 0u);
  }
}

TEST_F(WormTest, NearMissesAreCleanAndKeepTheirAttributes) {
  struct Case {
    const char* what;
    const char* variant;
    forge::WormOptions options;
  };
  Case cases[] = {{"named last section", "N", {}},
                  {"one more characteristics bit", "O", {}},
                  {"loop end only before the anchor", "Q", {}},
                  {"unknown shift form", "N", {}},
                  {"more than 101 steps", "Q", {}}};
  cases[0].options.sectionName = ".wrm";
  cases[1].options.characteristics = 0xE0000021;
  cases[2].options.loopEndOnlyBeforeAnchor = true;
  cases[3].options.key = {{forge::WormOp::Raw, 0, {0xC0, 0xD0, 0x02}}};
  cases[4].options.key = {{forge::WormOp::Nop, 102, {}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Infect(c.variant, c.options);
    EXPECT_EQ(ScanWormFile(Row, Sample), 0);
    EXPECT_EQ(ReadFile(Sample), Text(infected));
    EXPECT_EQ(emu::Attributes(Sample), Hidden);
    EXPECT_EQ(FilesInfected, 0);
    EXPECT_TRUE(Lines().empty());
  }
  // A clean host and a file that is not a PE file at all.
  WriteFile(Sample, Text(host));
  emu::SetAttributes(Sample, Hidden);
  EXPECT_EQ(ScanWormFile(Row, Sample), 0);
  WriteFile("C:\\notes.txt", "just text\r\n");
  emu::SetAttributes("C:\\notes.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_EQ(ScanWormFile(Row, "C:\\notes.txt"), 0);
  EXPECT_EQ(emu::Attributes(Sample), Hidden);
  EXPECT_EQ(emu::Attributes("C:\\notes.txt"), DWORD(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(FilesInfected, 0);
}

TEST_F(WormTest, FailedRepairsSayUnableToRemove) {
  // The stored host entry lies beyond the file: nothing is changed.
  forge::WormOptions beyond;
  beyond.hostEntryField = 0x00400000 + 0x100000;
  Infect("N", beyond);
  EXPECT_EQ(ScanWormFile(Row, Sample), 0);
  EXPECT_EQ(ReadFile(Sample), Text(infected));
  EXPECT_EQ(Lines().back(), std::string(Sample) + "     W32/Bagle.N.Worm Unable to remove");
  EXPECT_EQ(FilesDisinfected, 0);

  // The cut fails for good: the headers are written back, the file is the
  // infected program still.
  Infect("Q");
  emu::FailOperation("_chsize", Sample, ERROR_ACCESS_DENIED);
  EXPECT_EQ(ScanWormFile(Row, Sample), 0);
  EXPECT_EQ(Lines().back(), std::string(Sample) + "     W32/Bagle.Q.Worm Unable to remove");
  EXPECT_EQ(ReadFile(Sample), Text(infected));
  EXPECT_EQ(FilesDisinfected, 0);
  EXPECT_EQ(FilesInfected, 2);
}

TEST_F(WormTest, ARepairIsAllOrNothing) {
  // A fault once in the repair's writes or its cut; the header writes after
  // it (putting the old bytes back) succeed.
  const struct {
    const char* what;
    const char* op;  // nullptr: no fault
    int skip;
  } cases[] = {
      {"first header write", "_write", 0},
      {"a later header write", "_write", 4},
      {"the cut", "_chsize", 0},
      {"no fault", nullptr, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ResetSharedState();
    InstallMainWindow();
    ActionMode = ActionClean;
    Infect("N");
    if (c.op) emu::FailOperation(c.op, Sample, ERROR_WRITE_PROTECT, 1, c.skip);
    EXPECT_EQ(ScanWormFile(Row, Sample), 0);
    EXPECT_EQ(ReadFile(Sample), Text(c.op ? infected : host));
    EXPECT_EQ(Lines().back(), std::string(Sample) + "     W32/Bagle.N.Worm " +
                                  (c.op ? "Unable to remove" : "Virus removed"));
    EXPECT_EQ(FilesDisinfected, c.op ? 0 : 1);
  }
}

TEST_F(WormTest, AFileStillThereGetsItsAttributesBack) {
  constexpr DWORD Kept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  // Waiting for its removal at the next start, which refuses read-only.
  constexpr DWORD Pending = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  const struct {
    const char* what;
    int mode;
    bool single;
    const char* fault;  // an operation that fails on the file
    const char* path;
    const char* endsAt;  // where the file is afterwards
    DWORD after;
    bool scheduleFails;
  } cases[] = {
      {"memory scan detection", ActionClean, true, nullptr, Sample, Sample, Kept, false},
      {"repaired", ActionClean, false, nullptr, Sample, Sample, Kept, false},
      {"repair failed", ActionClean, false, "_chsize", Sample, Sample, Kept, false},
      {"renamed", ActionRename, false, nullptr, Sample, "C:\\samples\\host.Vxe", Kept, false},
      {"rename failed", ActionRename, false, nullptr, "C:\\tools.new\\file", "C:\\tools.new\\file",
       Kept, false},
      {"deletion refused, scheduled", ActionDelete, false, "DeleteFileA", Sample, Sample, Pending,
       false},
      {"deletion and scheduling refused", ActionDelete, false, "DeleteFileA", Sample, Sample, Kept,
       true},
      {"reported", ActionReport, false, nullptr, Sample, Sample, Kept, false},
      {"no action", 0, false, nullptr, Sample, Sample, Kept, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ResetSharedState();
    emu::ResetMachine();
    emu::MapDrive('C', Root());
    InstallMainWindow();
    Infect("O", {}, c.path, Kept);
    ActionMode = c.mode;
    SingleFileMode = c.single;
    if (c.fault) emu::FailOperation(c.fault, c.path, ERROR_ACCESS_DENIED);
    if (c.scheduleFails) emu::FailOperation("MoveFileExA", c.path, ERROR_ACCESS_DENIED);
    ScanWormFile(Row, c.path);
    EXPECT_EQ(FilesInfected, 1);
    EXPECT_EQ(emu::Attributes(c.endsAt), c.after);
  }
}

TEST_F(WormTest, RepairModeReportsAFileItCannotOpenForWriting) {
  Infect("O");
  emu::FailOperation("_open", Sample, ERROR_SHARING_VIOLATION, 1, 1);  // the second open
  EXPECT_EQ(ScanWormFile(Row, Sample), 0);
  EXPECT_EQ(ReadFile(Sample), Text(infected));
  ASSERT_EQ(Lines().size(), 1u);
  EXPECT_EQ(Lines()[0], std::string(Sample) + "     W32/Bagle.O.Worm Unable to remove");
}

TEST_F(WormTest, ActionModesAndTheNamesTheirLinesCarry) {
  struct Case {
    int mode;
    const char* path;
    std::string line;  // empty: no line
    bool stays;
  };
  const std::string p = Sample;
  const Case cases[] = {
      {ActionRename, Sample, p + "     W32/Joleee.Worm renamed", false},
      {ActionRename, "C:\\tools.new\\file", "C:\\tools.new\\file     W32/Joleee.Worm Rename failed", true},
      {ActionDelete, Sample, p + "     W32/Joleee.Worm removed", false},
      {ActionReport, Sample, p + "     W32/Bagle.Q.Worm found", true},
      {0, Sample, "", true},
      {104, Sample, "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    ResetSharedState();
    InstallMainWindow();
    const size_t lines = Lines().size();
    Infect("Q", {}, c.path);
    ActionMode = c.mode;
    EXPECT_EQ(ScanWormFile(Row, c.path), 0);
    EXPECT_EQ(Exists(c.path), c.stays);
    if (c.line.empty()) {
      EXPECT_EQ(Lines().size(), lines);
    } else {
      ASSERT_EQ(Lines().size(), lines + 1);
      EXPECT_EQ(Lines().back(), c.line);
    }
    EXPECT_EQ(FilesInfected, 1);
    EXPECT_EQ(FilesRemoved, c.mode == ActionDelete ? 1 : 0);
    EXPECT_EQ(FilesDisinfected, 0);
  }
  EXPECT_TRUE(Exists("C:\\samples\\host.Vxe"));
}

TEST_F(WormTest, DeleteModeFallsBackToRemovalAtTheNextStart) {
  Infect("N");
  ActionMode = ActionDelete;
  emu::FailOperation("DeleteFileA", Sample, ERROR_SHARING_VIOLATION);
  RestartNeeded = 7;
  EXPECT_EQ(ScanWormFile(Row, Sample), 0);
  EXPECT_EQ(Lines().back(), std::string(Sample) + "     W32/Joleee.Worm Unable to remove");
  EXPECT_EQ(RestartNeeded, emu::PendingRenames().empty() ? 0 : 1);
  EXPECT_EQ(FilesRemoved, 0);

  // Attributes that cannot be reset: the line names the variant.
  Infect("N");
  emu::FailOperation("SetFileAttributesA", Sample, ERROR_ACCESS_DENIED, 1, 1);
  EXPECT_EQ(ScanWormFile(Row, Sample), 0);
  EXPECT_EQ(Lines().back(), std::string(Sample) + "     W32/Bagle.N.Worm Unable to remove");
}

TEST_F(WormTest, SingleFileModeOnlyRecordsTheDetection) {
  Infect("O");
  SingleFileMode = 1;
  EXPECT_EQ(ScanWormFile(Row, Sample), 1);
  EXPECT_EQ(FileDetected, 1);
  EXPECT_EQ(FilesInfected, 1);
  EXPECT_STREQ(CurrentDetection, "W32/Bagle.O.Worm");
  EXPECT_EQ(ReadFile(Sample), Text(infected));
  EXPECT_EQ(emu::Attributes(Sample), Hidden);
  EXPECT_TRUE(Lines().empty());
}

TEST_F(WormTest, FilesWithTheArchiveAttributeAloneAreNotReset) {
  // A clean file and an infected one: no attribute call for either, and
  // the infected one is found although attributes could not be set.
  WriteFile("C:\\notes.txt", "just text\r\n");
  emu::SetAttributes("C:\\notes.txt", FILE_ATTRIBUTE_ARCHIVE);
  Infect("Q");
  emu::SetAttributes(Sample, FILE_ATTRIBUTE_ARCHIVE);
  emu::FailOperation("SetFileAttributesA", "", ERROR_ACCESS_DENIED);
  EXPECT_EQ(ScanWormFile(Row, "C:\\notes.txt"), 0);
  EXPECT_EQ(ScanWormFile(Row, Sample), 0);
  EXPECT_EQ(emu::CallCount("SetFileAttributesA"), 0);
  EXPECT_EQ(Lines(), std::vector<std::string>{std::string(Sample) + "     W32/Bagle.Q.Worm Virus removed"});
  EXPECT_EQ(ReadFile(Sample), Text(host));
}

TEST_F(WormTest, FilesThatCannotBeExaminedKeepTheirAttributes) {
  Infect("N");
  emu::FailOperation("_open", Sample, ERROR_SHARING_VIOLATION, 1);
  EXPECT_EQ(ScanWormFile(Row, Sample), 0);
  EXPECT_EQ(emu::Attributes(Sample), Hidden);

  emu::FailOperation("SetFileAttributesA", Sample, ERROR_ACCESS_DENIED, 1);
  EXPECT_EQ(ScanWormFile(Row, Sample), 0);
  EXPECT_EQ(ReadFile(Sample), Text(infected));

  EXPECT_EQ(ScanWormFile(Row, "C:\\missing.exe"), 0);
  EXPECT_EQ(FilesInfected, 0);
  EXPECT_TRUE(Lines().empty());
}

TEST_F(WormTest, ProbeAndHeaderWriteOnAnOpenFile) {
  Infect("N");
  int fd = _open(Sample, _O_RDWR | _O_BINARY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ReadPeHeader(fd), 1);
  EXPECT_EQ(ProbeWormVariant(fd, WormVariants[1], 0), 0) << "O on an N file";
  EXPECT_EQ(ProbeWormVariant(fd, WormVariants[2], 0), 0) << "Q on an N file";
  EXPECT_EQ(ProbeWormVariant(fd, WormVariants[0], 0), 1);
  EXPECT_EQ(ReadFile(Sample), Text(infected)) << "probing alone changes nothing";
  EXPECT_TRUE(WritePeHeaders(fd));
  EXPECT_EQ(ReadFile(Sample), Text(infected)) << "the images are the file's headers";
  EXPECT_EQ(ProbeWormVariant(fd, WormVariants[0], 1), 1);
  _close(fd);
  EXPECT_EQ(ReadFile(Sample), Text(host));

  emu::FailOperation("_write", Sample, ERROR_WRITE_PROTECT);
  fd = _open(Sample, _O_RDWR | _O_BINARY);
  ASSERT_EQ(ReadPeHeader(fd), 1);
  ASSERT_EQ(ReadPeSections(fd), 1);
  EXPECT_FALSE(WritePeHeaders(fd));
  _close(fd);
}

}  // namespace
