// Run-entry cleanup for the file under examination: the prefix tests on the
// literal and expanded command lines, the enumeration that keeps in step
// with deletions, and texts that do not fit their buffers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cleanup/run_entries.h"
#include "engine/shared_state.h"
#include "platform/emu/machine.h"
#include "tests/support/machine_fixture.h"

namespace {

const char kRunPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kHkcuRun[] = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kLine[] = "System Registry     W32/Murkel.Backdoor removed";

class RunEntriesTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    InstallMainWindow();
    Examine("c:\\windows\\system32\\evil.exe");
  }
  void TearDown() override {
    EXPECT_EQ(emu::OpenRegistryHandles(), 0);
    MachineTest::TearDown();
  }
  static void Examine(const std::string& path) {
    snprintf(CurrentScanFile, sizeof CurrentScanFile, "%s", path.c_str());
  }
  static void Clean() { CleanRunEntriesForFile(HKEY_CURRENT_USER, kRunPath); }
  static std::vector<std::string> Left() { return emu::RegistryValueNames(kHkcuRun); }
};

TEST_F(RunEntriesTest, CommandLinesThatBeginWithThePathGo) {
  const struct {
    const char* data;
    DWORD type;
    bool removed;
  } cases[] = {
      {"\"C:\\WINDOWS\\SYSTEM32\\EVIL.EXE\" /start", REG_SZ, true},
      {"%SystemRoot%\\system32\\evil.exe", REG_EXPAND_SZ, true},
      {"\"%SYSTEMROOT%\\System32\\Evil.exe\"", REG_SZ, true},
      {"c:\\windows\\system32\\evil.exe.old", REG_SZ, true},
      {"c:\\windows\\system32\\evil.ex", REG_SZ, false},
      {"rundll32 c:\\windows\\system32\\evil.exe", REG_SZ, false},
      {"\"\"c:\\windows\\system32\\evil.exe", REG_SZ, false},  // one quote is skipped, not two
      {"%Unknown%\\system32\\evil.exe", REG_SZ, false},
  };
  for (const auto& c : cases) {
    emu::DeleteRegistryTree(kHkcuRun);
    const size_t before = Lines().size();
    emu::SetRegistryString(kHkcuRun, "entry", c.data, c.type);
    Clean();
    EXPECT_EQ(Left().empty(), c.removed) << c.data;
    EXPECT_EQ(Lines().size() - before, c.removed ? 1u : 0u) << c.data;
  }
}

TEST_F(RunEntriesTest, ThePathUnderExaminationIsComparedIgnoringCase) {
  Examine("C:\\WINDOWS\\System32\\EVIL.EXE");
  emu::SetRegistryString(kHkcuRun, "x", "c:\\windows\\system32\\evil.exe");
  Clean();
  EXPECT_TRUE(Left().empty());
  EXPECT_STREQ(CurrentScanFile, "C:\\WINDOWS\\System32\\EVIL.EXE");  // only read
}

TEST_F(RunEntriesTest, DeletionsKeepTheEnumerationInStep) {
  emu::SetRegistryString(kHkcuRun, "V1", "c:\\windows\\system32\\evil.exe");
  emu::SetRegistryString(kHkcuRun, "V2", "C:\\Windows\\System32\\evil.exe -x");
  emu::SetRegistryString(kHkcuRun, "V3", "c:\\windows\\explorer.exe");
  emu::SetRegistryString(kHkcuRun, "V4", "c:\\windows\\system32\\evil.exe");
  Clean();
  EXPECT_EQ(Left(), std::vector<std::string>{"V3"});
  EXPECT_EQ(Lines(), std::vector<std::string>(3, kLine));
  EXPECT_EQ(emu::CallCount("RegEnumValueA"), 4);
}

TEST_F(RunEntriesTest, AFailedDeletionLeavesTheIndexWhereItWas) {
  emu::SetRegistryString(kHkcuRun, "V1", "c:\\windows\\system32\\evil.exe");
  emu::SetRegistryString(kHkcuRun, "V2", "c:\\windows\\system32\\evil.exe");
  emu::FailOperation("RegDeleteValueA", std::string(kHkcuRun) + "\\V1", ERROR_ACCESS_DENIED);
  Clean();
  EXPECT_EQ(Left(), std::vector<std::string>{"V1"});
  EXPECT_EQ(Lines(), std::vector<std::string>{kLine});
}

TEST_F(RunEntriesTest, NothingHappensWithoutValuesOrWithoutAFullPath) {
  emu::CreateRegistryKey(kHkcuRun);
  Clean();
  EXPECT_EQ(emu::CallCount("RegEnumValueA"), 0);

  CleanRunEntriesForFile(HKEY_CURRENT_USER, "Software\\Missing");
  EXPECT_EQ(emu::CallCount("RegQueryInfoKeyA"), 1);

  emu::SetRegistryString(kHkcuRun, "a", "evil.exe");
  emu::SetRegistryString(kHkcuRun, "b", "");
  for (const char* file : {"evil.exe", ""}) {
    Examine(file);
    Clean();
    EXPECT_EQ(Left().size(), 2u) << file;
  }
  EXPECT_TRUE(Lines().empty());
}

TEST_F(RunEntriesTest, UnreadableOrUnexpandableValuesAreSkipped) {
  emu::SetRegistryString(kHkcuRun, "a", "c:\\windows\\system32\\evil.exe");
  emu::SetRegistryString(kHkcuRun, "b", "c:\\windows\\system32\\evil.exe");
  emu::SetRegistryString(kHkcuRun, "c", "c:\\windows\\system32\\evil.exe");
  emu::FailOperation("RegQueryValueExA", std::string(kHkcuRun) + "\\a", ERROR_ACCESS_DENIED);
  emu::FailOperation("ExpandEnvironmentStringsA", "", ERROR_NOT_ENOUGH_MEMORY, 1);
  emu::FailOperation("RegEnumValueA", kHkcuRun, ERROR_NOT_ENOUGH_MEMORY, 1, 2);
  Clean();
  // a unreadable, b not expanded, c not enumerated.
  EXPECT_EQ(Left(), (std::vector<std::string>{"a", "b", "c"}));
}

TEST_F(RunEntriesTest, LongTextsAreTestedOnWhatFitsTheirBuffers) {
  // A command line longer than the data buffer: its first 263 bytes.
  emu::SetRegistryString(kHkcuRun, "long", "c:\\windows\\system32\\evil.exe " + std::string(400, 'a'));
  // An expansion longer than its buffer is not used.
  emu::SetEnvironmentVariable("LONG", "c:\\windows\\system32\\evil.exe" + std::string(300, 'b'));
  emu::SetRegistryString(kHkcuRun, "overflow", "%LONG%");
  // ... but the literal text still counts.
  emu::SetRegistryString(kHkcuRun, "literal", "c:\\windows\\system32\\evil.exe %LONG%");
  emu::SetRegistryValue(kHkcuRun, "binary", REG_BINARY, "c:\\windows\\system32\\evil.exe");
  Clean();
  EXPECT_EQ(Left(), std::vector<std::string>{"overflow"});
}

TEST_F(RunEntriesTest, AnExpansionThatFillsItsBufferExactlyIsUsed) {
  // 260 characters and the terminator: exactly the buffer.
  std::string path = "c:\\windows\\system32\\evil.exe";
  emu::SetEnvironmentVariable("FIT", path + std::string(260 - path.size(), 'z'));
  emu::SetRegistryString(kHkcuRun, "fit", "%FIT%");
  emu::SetEnvironmentVariable("OVER", path + std::string(261 - path.size(), 'z'));
  emu::SetRegistryString(kHkcuRun, "over", "%OVER%");
  Clean();
  EXPECT_EQ(Left(), std::vector<std::string>{"over"});
}

TEST_F(RunEntriesTest, HklmIsHandledTheSameWay) {
  emu::SetRegistryString("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", "svc",
                         "c:\\windows\\system32\\evil.exe");
  CleanRunEntriesForFile(HKEY_LOCAL_MACHINE, kRunPath);
  EXPECT_TRUE(emu::RegistryValueNames("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run").empty());
  EXPECT_EQ(Lines(), std::vector<std::string>{kLine});
}

}  // namespace
