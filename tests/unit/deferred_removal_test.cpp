// Removal at the next start and the restart: "wininit.ini" byte for byte in
// each of its shapes, failed writes putting the old file back, the NT
// pending-rename list, and the restart with and without its privilege.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cleanup/deferred_removal.h"
#include "cleanup/wininit_rename.h"
#include "platform/emu/machine.h"
#include "tests/support/machine_fixture.h"

namespace {

const char kIni[] = "C:\\WINDOWS\\wininit.ini";
const char kCopy[] = "C:\\WINDOWS\\TEMP\\wininit.ini";
const char kEntry[] = "NUL=C:\\NEW.EXE\r\n";

// A literal with embedded zero bytes, all of its bytes but the last.
template <size_t N>
std::string Bytes(const char (&text)[N]) {
  return std::string(text, N - 1);
}

class Win9xRemovalTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    emu::SetPlatform(emu::Platform::Win98);
    MakeDir("C:\\WINDOWS\\TEMP");
  }
  void TearDown() override {
    EXPECT_EQ(emu::OpenDescriptors(), 0u);
    MachineTest::TearDown();
  }
};

TEST_F(Win9xRemovalTest, ANewFileHoldsTheSectionAndTheShortPath) {
  WriteFile("C:\\Program Files\\Common Files\\Evil File.exe");
  EXPECT_EQ(ScheduleDeleteAtRestart("C:\\Program Files\\Common Files\\Evil File.exe"), 1);
  EXPECT_EQ(ReadFile(kIni), "[rename]\r\nNUL=C:\\PROGRA~1\\COMMON~1\\EVILFI~1.EXE\r\n");
}

TEST_F(Win9xRemovalTest, TheEntryGoesAtTheEndOfTheRenameSection) {
  const std::string longLine = "k=" + std::string(645, 'a');  // fills one 648-byte read
  const struct {
    const char* what;
    std::string before;
    std::string after;
  } cases[] = {
      {"before the next section", "[boot]\r\nx=1\r\n[rename]\r\nNUL=C:\\OLD.EXE\r\n[other]\r\ny=2\r\n",
       "[boot]\nx=1\n[rename]\nNUL=C:\\OLD.EXE\n" + std::string(kEntry) + "[other]\ny=2\n"},
      {"last section", "[boot]\r\nx=1\r\n[rename]\r\nNUL=C:\\OLD.EXE\r\n",
       "[boot]\nx=1\n[rename]\nNUL=C:\\OLD.EXE\n" + std::string(kEntry)},
      {"no section", "[boot]\r\nx=1\r\n", "[boot]\nx=1\n[rename]\r\n" + std::string(kEntry)},
      {"empty file", "", "[rename]\r\n" + std::string(kEntry)},
      {"header in capitals", "[RENAME]\r\n[x]\r\n", "[RENAME]\n" + std::string(kEntry) + "[x]\n"},
      {"longer header", "[rename]old\r\na=b\r\n[x]\r\n", "[rename]old\na=b\n" + std::string(kEntry) + "[x]\n"},
      {"two sections after", "[rename]\r\n[a]\r\n[b]\r\n", "[rename]\n" + std::string(kEntry) + "[a]\n[b]\n"},
      {"no line end at the end", "[rename]\r\nNUL=C:\\OLD.EXE",
       "[rename]\nNUL=C:\\OLD.EXE\r\n" + std::string(kEntry)},
      {"line feeds and a lone return", "[rename]\nA=B\r\r\n[x]\n",
       "[rename]\nA=B\r\n" + std::string(kEntry) + "[x]\n"},
      {"a bracket inside a long line", "[rename]\r\n" + longLine + "[x]\r\n[y]\r\n",
       "[rename]\n" + longLine + "[x]\n" + std::string(kEntry) + "[y]\n"},
      {"a zero byte", Bytes("[rename]\r\na=\0b\r\n[x]\r\n"), Bytes("[rename]\na=\0b\n") + kEntry + "[x]\n"},
  };
  for (const auto& c : cases) {
    WriteFile(kIni, c.before);
    EXPECT_TRUE(AddWininitRename("NUL", "C:\\NEW.EXE")) << c.what;
    EXPECT_EQ(ReadFile(kIni), c.after) << c.what;
    EXPECT_EQ(ReadFile(kCopy), c.before) << c.what << ": the copy stays";
  }
}

TEST_F(Win9xRemovalTest, ASecondFileFollowsTheFirstInTheSection) {
  EXPECT_TRUE(AddWininitRename("NUL", "C:\\ONE.EXE"));
  EXPECT_TRUE(AddWininitRename("NUL", "C:\\TWO.EXE"));
  EXPECT_EQ(ReadFile(kIni), "[rename]\nNUL=C:\\ONE.EXE\nNUL=C:\\TWO.EXE\r\n");
}

TEST_F(Win9xRemovalTest, AFailedWriteOfTheRewritePutsTheOldFileBack) {
  const std::string before = "[boot]\r\nx=1\r\n[rename]\r\nNUL=C:\\OLD.EXE\r\n[other]\r\ny=2\r\n";
  WriteFile("C:\\EVIL.EXE");
  WriteFile(kIni, before);
  ASSERT_EQ(ScheduleDeleteAtRestart("C:\\EVIL.EXE"), 1);
  const int writes = emu::CallCount("_write");
  ASSERT_GT(writes, 4);
  for (int k = 0; k < writes; ++k) {
    emu::ResetMachine();
    emu::MapDrive('C', Root());
    emu::SetPlatform(emu::Platform::Win98);
    WriteFile(kIni, before);
    emu::FailOperation("_write", kIni, ERROR_WRITE_PROTECT, 1, k);
    EXPECT_EQ(ScheduleDeleteAtRestart("C:\\EVIL.EXE"), 0) << "write " << k;
    EXPECT_EQ(ReadFile(kIni), before) << "write " << k;
  }
}

TEST_F(Win9xRemovalTest, TheOldFileSurvivesUnreadableCopiesAndATempFolderThatIsTheWindowsFolder) {
  // Longer than one 4 KiB read of the copy, so a read can fail midway.
  const std::string before = "[rename]\r\nNUL=C:\\OLD.EXE\r\n[boot]\r\n" + std::string(6000, 'x') + "\r\ny=2\r\n";
  const std::string after = "[rename]\nNUL=C:\\OLD.EXE\n" + std::string(kEntry) + "[boot]\n" +
                            std::string(6000, 'x') + "\ny=2\n";
  const struct {
    const char* what;
    int failedRead;  // -1: none
    bool tempIsWindows;
    bool added;
  } cases[] = {
      {"first read of the copy fails", 0, false, false},
      {"a later read fails", 1, false, false},
      {"temp folder is the Windows folder", -1, true, true},
  };
  for (const auto& c : cases) {
    emu::ResetMachine();
    emu::MapDrive('C', Root());
    emu::SetPlatform(emu::Platform::Win98);
    WriteFile("C:\\NEW.EXE");
    WriteFile(kIni, before);
    if (c.tempIsWindows) {
      emu::SetEnvironmentVariable("TMP", "c:\\windows\\");  // another spelling
    }
    if (c.failedRead >= 0) emu::FailOperation("_read", kCopy, ERROR_SHARING_VIOLATION, 1, c.failedRead);
    EXPECT_EQ(ScheduleDeleteAtRestart("C:\\NEW.EXE"), c.added ? 1 : 0) << c.what;
    EXPECT_EQ(ReadFile(kIni), c.added ? after : before) << c.what;
    if (c.tempIsWindows) {
      EXPECT_EQ(ReadFile("C:\\WINDOWS\\wininit.old"), before) << "the copy";
    }
  }
}

TEST_F(Win9xRemovalTest, AFailedWriteOfANewFileGivesFalse) {
  emu::FailOperation("_write", kIni, ERROR_WRITE_PROTECT, 1, 1);
  EXPECT_FALSE(AddWininitRename("NUL", "C:\\NEW.EXE"));
}

TEST_F(Win9xRemovalTest, WithoutAFreshCopyTheFileIsLeftAlone) {
  WriteFile(kIni, "[rename]\r\nNUL=C:\\OLD.EXE\r\n");
  WriteFile(kCopy, "[stale]\r\n");
  emu::FailOperation("CopyFileA", kIni, ERROR_ACCESS_DENIED);
  EXPECT_FALSE(AddWininitRename("NUL", "C:\\NEW.EXE"));
  EXPECT_EQ(ReadFile(kIni), "[rename]\r\nNUL=C:\\OLD.EXE\r\n");
}

TEST_F(Win9xRemovalTest, UnopenableFilesGiveFalseAndChangeNothing) {
  WriteFile(kIni, "[rename]\r\n");
  emu::FailOperation("_open", kIni, ERROR_ACCESS_DENIED);
  EXPECT_FALSE(AddWininitRename("NUL", "C:\\NEW.EXE"));
  EXPECT_EQ(ReadFile(kIni), "[rename]\r\n");
  emu::ResetMachine();
  emu::MapDrive('C', Root());
  emu::SetPlatform(emu::Platform::Win98);
  emu::FailOperation("_open", kCopy, ERROR_ACCESS_DENIED);
  EXPECT_FALSE(AddWininitRename("NUL", "C:\\NEW.EXE"));
  EXPECT_EQ(ReadFile(kIni), "[rename]\r\n");
}

TEST_F(Win9xRemovalTest, AFileWithoutAShortFormIsNotScheduled) {
  EXPECT_EQ(ScheduleDeleteAtRestart("C:\\gone\\missing file.exe"), 0);
  EXPECT_FALSE(Exists(kIni));
}

TEST_F(Win9xRemovalTest, TheRestartNeedsNoPrivilegeStep) {
  RestartComputer();
  ASSERT_EQ(emu::ExitRequests().size(), 1u);
  EXPECT_EQ(emu::ExitRequests()[0].flags, UINT(EWX_REBOOT | EWX_FORCE));
  EXPECT_EQ(emu::ExitRequests()[0].reason, 0u);
  EXPECT_TRUE(emu::RestartRequested());
  EXPECT_EQ(emu::CallCount("OpenProcessToken"), 0);
}

class NtRemovalTest : public MachineTest {
 protected:
  void TearDown() override {
    EXPECT_EQ(emu::OpenKernelHandles(), 0);
    MachineTest::TearDown();
  }
};

TEST_F(NtRemovalTest, ThePendingListNamesEachFileForDeletion) {
  EXPECT_EQ(ScheduleDeleteAtRestart("C:\\WINDOWS\\system32\\evil.exe"), 1);
  EXPECT_EQ(ScheduleDeleteAtRestart("C:\\Program Files\\x.exe"), 1);
  auto pending = emu::PendingRenames();
  ASSERT_EQ(pending.size(), 2u);
  EXPECT_EQ(pending[0].from, "C:\\WINDOWS\\system32\\evil.exe");
  EXPECT_EQ(pending[0].to, "");
  EXPECT_EQ(pending[1].from, "C:\\Program Files\\x.exe");
  EXPECT_FALSE(Exists("C:\\WINDOWS\\wininit.ini"));
}

TEST_F(NtRemovalTest, ARefusedRequestIsNotReportedAsScheduled) {
  emu::SetKeyAccess("HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager", emu::KeyAccess::ReadOnly);
  EXPECT_EQ(ScheduleDeleteAtRestart("C:\\evil.exe"), 0);
  EXPECT_TRUE(emu::PendingRenames().empty());
}

TEST_F(NtRemovalTest, OtherPlatformsScheduleNothing) {
  emu::SetPlatform(emu::Platform::Other);
  EXPECT_EQ(ScheduleDeleteAtRestart("C:\\evil.exe"), 0);
  emu::FailOperation("GetVersionExA", "", ERROR_INVALID_PARAMETER);
  EXPECT_EQ(ScheduleDeleteAtRestart("C:\\evil.exe"), 0);
  EXPECT_TRUE(emu::PendingRenames().empty());
  EXPECT_EQ(emu::CallCount("MoveFileExA"), 0);
}

TEST_F(NtRemovalTest, TheRestartEnablesTheShutdownPrivilegeFirst) {
  RestartComputer();
  EXPECT_TRUE(emu::PrivilegeEnabled("SeShutdownPrivilege"));
  ASSERT_EQ(emu::ExitRequests().size(), 1u);
  EXPECT_EQ(emu::ExitRequests()[0].flags, UINT(EWX_REBOOT | EWX_FORCE));
  EXPECT_TRUE(emu::RestartRequested());
}

TEST_F(NtRemovalTest, WithoutThePrivilegeOrTokenNoRestartIsAsked) {
  const struct {
    const char* what;
    void (*arrange)();
  } cases[] = {
      {"privilege not held", [] { emu::SetPrivilegeHeld("SeShutdownPrivilege", false); }},
      {"token refused", [] { emu::FailOperation("OpenProcessToken", "", ERROR_ACCESS_DENIED); }},
      {"adjustment refused", [] { emu::FailOperation("AdjustTokenPrivileges", "", ERROR_ACCESS_DENIED); }},
  };
  for (const auto& c : cases) {
    emu::ResetMachine();
    c.arrange();
    RestartComputer();
    EXPECT_TRUE(emu::ExitRequests().empty()) << c.what;
    EXPECT_EQ(emu::OpenKernelHandles(), 0) << c.what;
  }
}

}  // namespace
