// Both termination routes on the emulated machine: which processes end,
// the pauses on the virtual clock, the performance data's limits and
// damaged forms, and the NT route's fallback to the Toolhelp snapshot.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cleanup/perf_task_table.h"
#include "cleanup/platform_kind.h"
#include "cleanup/process_termination.h"
#include "cleanup/termination_routes.h"
#include "platform/emu/machine.h"
#include "tests/support/machine_fixture.h"

namespace {

using Sleeps = std::vector<DWORD>;

// A literal with embedded terminators, all of its bytes but the last.
template <size_t N>
std::string Bytes(const char (&text)[N]) {
  return std::string(text, N - 1);
}

class TerminationTest : public MachineTest {
 protected:
  void TearDown() override {
    EXPECT_EQ(emu::OpenKernelHandles(), 0) << "process or snapshot handle left open";
    EXPECT_EQ(emu::OpenRegistryHandles(), 0) << "registry key left open";
    MachineTest::TearDown();
  }
  static std::vector<DWORD> Ended() {
    std::vector<DWORD> ids;
    for (const auto& t : emu::Terminations()) ids.push_back(t.id);
    return ids;
  }
  static const char* const kPerflib;
};

const char* const TerminationTest::kPerflib =
    "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\009";

TEST_F(TerminationTest, PlatformKindFollowsThePlatformId) {
  const struct {
    emu::Platform platform;
    PlatformKind kind;
  } cases[] = {
      {emu::Platform::Win98, PlatformWin9x}, {emu::Platform::NT4, PlatformNT},
      {emu::Platform::Win7, PlatformNT},     {emu::Platform::Other, PlatformOther},
  };
  for (const auto& c : cases) {
    emu::SetPlatform(c.platform);
    EXPECT_EQ(GetPlatformKind(), c.kind);
  }
  emu::FailOperation("GetVersionExA", "", ERROR_INVALID_PARAMETER, 1);
  EXPECT_EQ(GetPlatformKind(), PlatformUnknown);
}

TEST_F(TerminationTest, NeitherFamilyAnswersOneWithoutLookingAtProcesses) {
  DWORD id = emu::AddProcess("C:\\BAD.EXE");
  emu::SetPlatform(emu::Platform::Other);
  EXPECT_EQ(TerminateProcessByPath("C:\\BAD.EXE"), 1);
  emu::FailOperation("GetVersionExA", "", ERROR_INVALID_PARAMETER);
  EXPECT_EQ(TerminateProcessByPath("C:\\BAD.EXE"), 1);
  EXPECT_TRUE(emu::ProcessRunning(id));
  EXPECT_TRUE(emu::LoadedLibraries().empty());
  EXPECT_TRUE(emu::PerfQuerySizes().empty());
  EXPECT_TRUE(emu::Sleeps().empty());
}

// ---- 9x family ----

class Win9xRouteTest : public TerminationTest {
 protected:
  void SetUp() override {
    TerminationTest::SetUp();
    emu::SetPlatform(emu::Platform::Win98);
  }
};

TEST_F(Win9xRouteTest, EndsOnlyTheFirstProcessWithTheBaseNameInAnyCase) {
  emu::AddProcess("C:\\WINDOWS\\SYSTEM\\KERNEL32.DLL");
  DWORD first = emu::AddProcess("C:\\OTHER\\bad.exe");
  DWORD second = emu::AddProcess("C:\\WINDOWS\\SYSTEM\\BAD.EXE");
  EXPECT_EQ(TerminateProcessByPath("C:\\WINDOWS\\SYSTEM\\BAD.EXE"), 1);
  EXPECT_EQ(Ended(), std::vector<DWORD>{first});
  EXPECT_TRUE(emu::ProcessRunning(second));
  // Load, snapshot, one entry passed over, then the termination's pauses.
  EXPECT_EQ(emu::Sleeps(), (Sleeps{100, 100, 100, 100, 50, 500}));
  ASSERT_EQ(emu::ProcessOpens().size(), 1u);
  EXPECT_EQ(emu::ProcessOpens()[0].access, DWORD(PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION));
  EXPECT_EQ(emu::LoadedLibraries(), std::vector<std::string>{"Kernel32.dll"});
}

TEST_F(Win9xRouteTest, TheFirstEntryOfTheSnapshotIsComparedToo) {
  DWORD id = emu::AddProcess("C:\\BAD.EXE");
  emu::AddProcess("C:\\OTHER.EXE");
  EXPECT_EQ(TerminateByToolhelp("C:\\DIR\\BAD.EXE"), 1);
  EXPECT_EQ(Ended(), std::vector<DWORD>{id});
  EXPECT_EQ(emu::Sleeps(), (Sleeps{100, 100, 50, 500}));
}

TEST_F(Win9xRouteTest, NoMatchCostsTwoPausesPerEntryAndEndsNothing) {
  emu::AddProcess("C:\\A.EXE");
  emu::AddProcess("C:\\B.EXE");
  emu::AddProcess("C:\\BADGER.EXE");
  EXPECT_EQ(TerminateProcessByPath("C:\\BAD.EXE"), 0);
  EXPECT_TRUE(Ended().empty());
  // The last pause comes before the Process32Next call that finds no more.
  EXPECT_EQ(emu::Sleeps(), (Sleeps{100, 100, 100, 100, 100, 100, 100}));
}

TEST_F(Win9xRouteTest, RefusalsAndMissingCallsGiveZero) {
  struct Case {
    const char* name;
    void (*arrange)();
  };
  const Case cases[] = {
      {"open refused", [] { emu::FailOperation("OpenProcess", "C:\\BAD.EXE", ERROR_ACCESS_DENIED); }},
      {"terminate refused",
       [] { emu::FailOperation("TerminateProcess", "C:\\BAD.EXE", ERROR_ACCESS_DENIED); }},
      {"no library", [] { emu::FailOperation("LoadLibraryA", "", 126); }},
      {"no snapshot",
       [] { emu::FailOperation("CreateToolhelp32Snapshot", "", ERROR_NOT_ENOUGH_MEMORY); }},
      {"no Toolhelp", [] { emu::SetToolhelpAvailable(false); }},
      {"no Process32Next", [] { emu::FailOperation("GetProcAddress", "Process32Next", 127); }},
  };
  for (const auto& c : cases) {
    emu::ResetMachine();
    emu::SetPlatform(emu::Platform::Win98);
    emu::AddProcess("C:\\OTHER.EXE");
    DWORD id = emu::AddProcess("C:\\BAD.EXE");
    c.arrange();
    EXPECT_EQ(TerminateProcessByPath("C:\\BAD.EXE"), 0) << c.name;
    EXPECT_TRUE(emu::ProcessRunning(id)) << c.name;
    EXPECT_EQ(emu::OpenKernelHandles(), 0) << c.name;
  }
}

TEST_F(Win9xRouteTest, AFailedTerminationStillPausesAfterTheAttempt) {
  emu::AddProcess("C:\\BAD.EXE", emu::ProcessOptions{true, false});
  EXPECT_EQ(TerminateByToolhelp("C:\\BAD.EXE"), 0);
  EXPECT_EQ(emu::Sleeps(), (Sleeps{100, 100, 50, 500}));
}

// ---- NT family ----

class NtRouteTest : public TerminationTest {};

TEST_F(NtRouteTest, EndsEveryInstanceOfTheFileAndNoOtherProcess) {
  DWORD a = emu::AddProcess("C:\\WINDOWS\\SYSTEM\\bad.exe");
  DWORD b = emu::AddProcess("C:\\WINDOWS\\SYSTEM\\BAD.EXE");
  DWORD c = emu::AddProcess("C:\\x\\Bad.exe");
  DWORD badger = emu::AddProcess("C:\\x\\badger.exe");
  DWORD other = emu::AddProcess("C:\\x\\bad#x.exe");
  EXPECT_EQ(TerminateProcessByPath("C:\\WINDOWS\\SYSTEM\\BAD.EXE"), 1);
  EXPECT_EQ(Ended(), (std::vector<DWORD>{a, b}));
  for (DWORD id : {c, badger, other}) EXPECT_TRUE(emu::ProcessRunning(id));
  EXPECT_EQ(emu::Sleeps(), (Sleeps{500, 500})) << "no pause for a process left running";
  // Each row of the name: a query open to read its path, then, for the
  // file's own processes, a terminate open.
  std::vector<DWORD> access;
  for (const auto& open : emu::ProcessOpens()) access.push_back(open.access);
  const DWORD query = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
  EXPECT_EQ(access, (std::vector<DWORD>{query, PROCESS_TERMINATE, query, PROCESS_TERMINATE, query}));
}

// Two processes named svchost.exe, one of them the system's: only the one
// whose image is the file being removed ends, on both ways of finding them.
TEST_F(NtRouteTest, AProcessFoundByNameEndsOnlyWhenItsImageIsTheFile) {
  const char kFile[] = "C:\\TEMP\\SVCHOST.EXE";
  const struct {
    const char* name;
    const char* image;      // the second process's image path as psapi gives it
    bool unreadable;        // its path cannot be read
    bool ends;
  } cases[] = {
      {"other folder", "C:\\WINDOWS\\system32\\svchost.exe", false, false},
      {"same file, other case", "c:\\temp\\svchost.exe", false, true},
      {"path unreadable", "C:\\TEMP\\svchost.exe", true, false},
      {"native prefix", "\\??\\C:\\TEMP\\svchost.exe", false, true},
      {"short form", "C:\\PROGRA~1\\svchost.exe", false, true},
      {"another short form", "C:\\PROGRA~2\\svchost.exe", false, false},
  };
  for (bool perfData : {true, false}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (perfData ? ", performance data" : ", snapshot"));
      emu::ResetMachine();
      emu::MapDrive('C', Root());
      WriteFile("C:\\Program Files\\svchost.exe");
      WriteFile("C:\\Program Files (x86)\\svchost.exe");
      emu::SetPerfConfig(emu::PerfConfig{230, 784, perfData, true, true});
      DWORD system = emu::AddProcess("C:\\WINDOWS\\system32\\svchost.exe");
      DWORD second = emu::AddProcess(c.image);
      if (c.unreadable) emu::FailOperation("GetModuleFileNameExA", c.image, ERROR_ACCESS_DENIED);
      const bool shortForm = std::string(c.image).find('~') != std::string::npos;
      const char* file = shortForm ? "C:\\Program Files\\svchost.exe" : kFile;
      EXPECT_EQ(TerminateProcessByPath(file), c.ends ? 1 : 0);
      EXPECT_TRUE(emu::ProcessRunning(system));
      EXPECT_EQ(emu::ProcessRunning(second), !c.ends);
    }
  }
}

TEST_F(NtRouteTest, AnInfectedShortNameDoesNotEndTheSystemProcessesItPrefixes) {
  DWORD winlogon = emu::AddProcess("C:\\WINDOWS\\system32\\winlogon.exe");
  DWORD win = emu::AddProcess("C:\\WINDOWS\\win.exe");
  EXPECT_EQ(TerminateProcessByPath("C:\\WINDOWS\\WIN.EXE"), 1);
  EXPECT_EQ(Ended(), std::vector<DWORD>{win});
  EXPECT_TRUE(emu::ProcessRunning(winlogon));
}

TEST_F(NtRouteTest, TheTargetIsTheBaseNameWithoutItsExtension) {
  const struct {
    const char* path;
    const char* image;
    bool ends;
  } cases[] = {
      {"C:\\TOOLS\\SCANNER", "C:\\TOOLS\\SCANNER", true},  // no extension: the name stays whole
      {"C:\\TOOLS\\SCANNER", "C:\\TOOLS\\scan.exe", false},
      {"C:\\MY.DIR\\TOOL", "C:\\MY.DIR\\TOOL", true},      // a dot of a directory is no extension
      {"C:\\A\\setup.x.exe", "C:\\A\\SETUP.X.EXE", true},
      {"C:\\A\\setup.x.exe", "C:\\A\\setup.exe", false},
  };
  for (const auto& c : cases) {
    emu::ResetMachine();
    DWORD id = emu::AddProcess(c.image);
    EXPECT_EQ(TerminateByPerfData(c.path), c.ends ? 1 : 0) << c.path << " / " << c.image;
    EXPECT_EQ(emu::ProcessRunning(id), !c.ends) << c.path << " / " << c.image;
  }
}

TEST_F(NtRouteTest, ShortAndNamelessPathsReadNoProcessData) {
  emu::AddProcess("C:\\.EXE");
  for (const char* path : {"C:\\A", "A.EX", "C:\\DIR\\.EXE", ""}) {
    EXPECT_EQ(TerminateProcessByPath(path), 0) << path;
  }
  EXPECT_TRUE(emu::PerfQuerySizes().empty());
  EXPECT_EQ(emu::CallCount("RegOpenKeyExA"), 0);
  EXPECT_TRUE(Ended().empty());
}

TEST_F(NtRouteTest, InstanceNamesMatchWholeOrWithADuplicateNumber) {
  const struct {
    const char* instance;
    bool matches;
  } cases[] = {
      {"bad", true},    {"BAD", true},     {"bad#1", true},  {"bad#12", true},
      {"bad#", false},  {"bad#1a", false}, {"badger", false}, {"ba", false},
      {"bad.exe", false}, {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(InstanceNameMatches(c.instance, "BAD"), c.matches) << c.instance;
}

TEST_F(NtRouteTest, RowsHoldIdsAndNamesOfAtMostSixteenCharacters) {
  emu::AddProcess("C:\\abcdefghijklmnop.exe");   // 16
  emu::AddProcess("C:\\abcdefghijklmnopq.exe");  // 17
  ASSERT_EQ(ReadPerfTaskTable(), 4);              // with Idle and _Total
  EXPECT_STREQ(PerfTaskTable[0].Name, "Idle");
  EXPECT_EQ(PerfTaskTable[0].ProcessId, IdleProcessStandIn);
  EXPECT_STREQ(PerfTaskTable[1].Name, "abcdefghijklmnop");
  EXPECT_EQ(PerfTaskTable[1].ProcessId, 4u);
  EXPECT_STREQ(PerfTaskTable[2].Name, "");
  EXPECT_EQ(PerfTaskTable[2].ProcessId, 8u);
  EXPECT_STREQ(PerfTaskTable[3].Name, "_Total");
  EXPECT_EQ(PerfTaskTable[3].ProcessId, IdleProcessStandIn);
}

TEST_F(NtRouteTest, SeventeenCharacterNamesCannotBeEndedAndDoNotFallBack) {
  DWORD sixteen = emu::AddProcess("C:\\abcdefghijklmnop.exe");
  DWORD seventeen = emu::AddProcess("C:\\abcdefghijklmnopq.exe");
  EXPECT_EQ(TerminateProcessByPath("C:\\abcdefghijklmnopq.exe"), 0);
  EXPECT_TRUE(emu::ProcessRunning(seventeen));
  EXPECT_EQ(TerminateProcessByPath("C:\\ABCDEFGHIJKLMNOP.EXE"), 1);
  EXPECT_FALSE(emu::ProcessRunning(sixteen));
}

TEST_F(NtRouteTest, TheIdleStandInIsOpenedAndRefusedHarmlessly) {
  EXPECT_EQ(TerminateProcessByPath("C:\\X\\IDLE.EXE"), 0);
  ASSERT_EQ(emu::ProcessOpens().size(), 1u);
  EXPECT_EQ(emu::ProcessOpens()[0].id, IdleProcessStandIn);
  EXPECT_FALSE(emu::ProcessOpens()[0].granted);
  EXPECT_TRUE(emu::Sleeps().empty()) << "its path cannot be read: left alone, no pause";
}

TEST_F(NtRouteTest, OnlyTheFirst254InstancesAreConsidered) {
  // Idle is instance 1, so process k (from 0) is instance k + 2.
  std::vector<DWORD> ids;
  for (int k = 0; k < 300; ++k) ids.push_back(emu::AddProcess("C:\\P\\p" + std::to_string(k) + ".exe"));
  EXPECT_EQ(ReadPerfTaskTable(), 254);
  EXPECT_EQ(PerfTaskTable[254].ProcessId, 0u);
  EXPECT_EQ(PerfTaskTable[254].Name[0], 0);
  EXPECT_EQ(TerminateProcessByPath("C:\\P\\P253.EXE"), 0);  // instance 255
  EXPECT_TRUE(emu::ProcessRunning(ids[253]));
  EXPECT_EQ(TerminateProcessByPath("C:\\P\\P252.EXE"), 1);  // instance 254
  EXPECT_FALSE(emu::ProcessRunning(ids[252]));
}

TEST_F(NtRouteTest, CounterNamesGiveTheIndexesAndStandardOnesStandIn) {
  DWORD processIndex, idIndex;
  emu::SetPerfConfig(emu::PerfConfig{500, 902, true, true, true});
  FindPerfIndexes(&processIndex, &idIndex);
  EXPECT_EQ(processIndex, 500u);
  EXPECT_EQ(idIndex, 902u);
  DWORD id = emu::AddProcess("C:\\BAD.EXE");
  EXPECT_EQ(TerminateProcessByPath("C:\\BAD.EXE"), 1);
  EXPECT_FALSE(emu::ProcessRunning(id));

  // Names missing (as under Wine): the standard indexes are used.
  emu::ResetMachine();
  emu::SetRegistryValue(kPerflib, "Counters", REG_MULTI_SZ,
                        Bytes("1\0" "1847\0" "2\0System\0" "238\0Processor\0"));
  FindPerfIndexes(&processIndex, &idIndex);
  EXPECT_EQ(processIndex, StandardProcessIndex);
  EXPECT_EQ(idIndex, StandardIdProcessIndex);
  id = emu::AddProcess("C:\\BAD.EXE");
  EXPECT_EQ(TerminateProcessByPath("C:\\BAD.EXE"), 1);
  EXPECT_EQ(emu::PerfQuerySizes().size(), 1u);

  // An unterminated value with a later name overriding an earlier one.
  emu::ResetMachine();
  emu::SetRegistryValue(kPerflib, "Counters", REG_BINARY,
                        Bytes("230\0Process\0" "231\0process\0" "784\0ID Process"));
  FindPerfIndexes(&processIndex, &idIndex);
  EXPECT_EQ(processIndex, 231u);
  EXPECT_EQ(idIndex, 784u);
}

TEST_F(NtRouteTest, TheBufferGrowsByTheStepUntilTheDataFits) {
  emu::FailOperation("RegQueryValueExA", "HKEY_PERFORMANCE_DATA\\230", ERROR_MORE_DATA, 3);
  DWORD id = emu::AddProcess("C:\\BAD.EXE");
  EXPECT_EQ(TerminateProcessByPath("C:\\BAD.EXE"), 1);
  EXPECT_FALSE(emu::ProcessRunning(id));
  EXPECT_EQ(emu::PerfQuerySizes(), (std::vector<DWORD>{51200, 76800, 102400, 128000}));
}

TEST_F(NtRouteTest, ManyProcessesNeedALargerBuffer) {
  for (int k = 0; k < 600; ++k) emu::AddProcess("C:\\P\\a_long_image_name_" + std::to_string(k) + ".exe");
  DWORD id = emu::AddProcess("C:\\BAD.EXE");
  // Only 254 instances are read: the last process is beyond them.
  EXPECT_EQ(TerminateProcessByPath("C:\\BAD.EXE"), 0);
  EXPECT_TRUE(emu::ProcessRunning(id));
  ASSERT_GT(emu::PerfQuerySizes().size(), 1u);
  EXPECT_EQ(emu::PerfQuerySizes()[1], 76800u);
  EXPECT_EQ(PerfTaskTable[253].ProcessId, 253u * 4);
}

TEST_F(NtRouteTest, TheBufferStopsGrowingAtItsLimit) {
  emu::FailOperation("RegQueryValueExA", "HKEY_PERFORMANCE_DATA\\230", ERROR_MORE_DATA);
  EXPECT_EQ(ReadPerfTaskTable(), 0);
  const auto& sizes = emu::PerfQuerySizes();
  ASSERT_FALSE(sizes.empty());
  EXPECT_LE(sizes.back(), PerfBufferLimit);
  EXPECT_GT(sizes.back() + PerfBufferStep, PerfBufferLimit);
  EXPECT_EQ(sizes.size(), size_t((PerfBufferLimit - PerfBufferStart) / PerfBufferStep + 1));
  EXPECT_EQ(emu::CallCount("RegCloseKey"), 2);  // perflib key and HKEY_PERFORMANCE_DATA
}

// ---- NT family without usable performance data ----

TEST_F(NtRouteTest, DamagedPerformanceDataYieldsNoRows) {
  const struct {
    const char* name;
    emu::PerfConfig config;
    const char* fault;
  } cases[] = {
      {"no Process object", {230, 784, false, true, true}, nullptr},
      {"no ID Process counter", {230, 784, true, false, true}, nullptr},
      {"no signature", {230, 784, true, true, false}, nullptr},
      {"query refused", {}, "HKEY_PERFORMANCE_DATA\\230"},
  };
  for (const auto& c : cases) {
    emu::ResetMachine();
    emu::AddProcess("C:\\BAD.EXE");
    emu::SetPerfConfig(c.config);
    if (c.fault) emu::FailOperation("RegQueryValueExA", c.fault, ERROR_ACCESS_DENIED);
    EXPECT_EQ(ReadPerfTaskTable(), 0) << c.name;
    EXPECT_EQ(emu::OpenRegistryHandles(), 0) << c.name;
  }
}

TEST_F(NtRouteTest, WithoutRowsTheSnapshotEndsEveryProcessOfTheImage) {
  emu::SetPerfConfig(emu::PerfConfig{230, 784, false, true, true});  // as under Wine 8
  DWORD a = emu::AddProcess("C:\\WINDOWS\\bad.exe");
  DWORD b = emu::AddProcess("C:\\TEMP\\BAD.EXE");
  DWORD badger = emu::AddProcess("C:\\TEMP\\badger.exe");
  DWORD noExtension = emu::AddProcess("C:\\TEMP\\BAD");
  DWORD again = emu::AddProcess("C:\\WINDOWS\\BAD.exe");
  EXPECT_EQ(TerminateProcessByPath("C:\\WINDOWS\\Bad.Exe"), 1);
  EXPECT_EQ(Ended(), (std::vector<DWORD>{a, again}));
  for (DWORD id : {b, badger, noExtension}) EXPECT_TRUE(emu::ProcessRunning(id));
  EXPECT_EQ(emu::Sleeps(), (Sleeps{500, 500}));
  EXPECT_EQ(emu::LoadedLibraries().front(), "Kernel32.dll");
  for (size_t i = 1; i < emu::LoadedLibraries().size(); ++i) {
    EXPECT_EQ(emu::LoadedLibraries()[i], "C:\\WINDOWS\\system32\\psapi.dll");
  }
}

TEST_F(NtRouteTest, TheFallbackNeedsToolhelpWhichNt4Lacks) {
  emu::SetPlatform(emu::Platform::NT4);
  emu::SetPerfConfig(emu::PerfConfig{230, 784, false, true, true});
  DWORD id = emu::AddProcess("C:\\BAD.EXE");
  EXPECT_EQ(TerminateProcessByPath("C:\\BAD.EXE"), 0);
  EXPECT_TRUE(emu::ProcessRunning(id));
}

TEST_F(NtRouteTest, RowsThatMatchNothingDoNotFallBack) {
  emu::AddProcess("C:\\OTHER.EXE");
  EXPECT_EQ(TerminateProcessByPath("C:\\BAD.EXE"), 0);
  EXPECT_EQ(emu::CallCount("CreateToolhelp32Snapshot"), 0);
}

TEST_F(NtRouteTest, AFailedTerminationStillPausesAndOthersGoOn) {
  DWORD locked = emu::AddProcess("C:\\A\\BAD.EXE", emu::ProcessOptions{true, false});
  DWORD next = emu::AddProcess("C:\\A\\BAD.EXE");
  EXPECT_EQ(TerminateProcessByPath("C:\\A\\BAD.EXE"), 1);
  EXPECT_TRUE(emu::ProcessRunning(locked));
  EXPECT_FALSE(emu::ProcessRunning(next));
  EXPECT_EQ(emu::Sleeps(), (Sleeps{500, 500}));
}

// ---- the parser on damaged blocks ----

TEST(PerfTaskTableParse, BlocksCutAnywhereAreReadWithinTheirBytes) {
  emu::ResetMachine();
  for (int k = 0; k < 5; ++k) emu::AddProcess("C:\\p" + std::to_string(k) + ".exe");
  DWORD size = 1 << 20;
  std::vector<BYTE> data(size);
  ASSERT_EQ(RegQueryValueExA(HKEY_PERFORMANCE_DATA, "230", nullptr, nullptr, data.data(), &size),
            ERROR_SUCCESS);
  ASSERT_EQ(ParsePerfTaskTable(data.data(), size, 230, 784), 7);
  int previous = 0;
  for (DWORD cut = 0; cut < size; ++cut) {
    // A copy of exactly `cut` bytes: the sanitizers catch any read beyond.
    std::vector<BYTE> part(data.begin(), data.begin() + cut);
    int rows = ParsePerfTaskTable(part.data(), cut, 230, 784);
    EXPECT_GE(rows, previous) << cut;
    EXPECT_LE(rows, 7) << cut;
    previous = rows;
  }
}

TEST(PerfTaskTableParse, ImpossibleLengthsEndTheWalk) {
  emu::ResetMachine();
  emu::AddProcess("C:\\p.exe");
  DWORD size = 1 << 16;
  std::vector<BYTE> data(size);
  ASSERT_EQ(RegQueryValueExA(HKEY_PERFORMANCE_DATA, "230", nullptr, nullptr, data.data(), &size),
            ERROR_SUCCESS);
  data.resize(size);
  auto put32 = [&](size_t at, DWORD v) { memcpy(&data[at], &v, 4); };
  PERF_DATA_BLOCK block;
  memcpy(&block, data.data(), sizeof block);
  const size_t object = block.HeaderLength;
  PERF_OBJECT_TYPE type;
  memcpy(&type, &data[object], sizeof type);
  const size_t firstInstance = object + type.DefinitionLength;

  std::vector<BYTE> original = data;
  const struct {
    const char* name;
    size_t at;
    DWORD value;
  } cases[] = {
      {"header length past the end", 24, 0xFFFFFFF0},
      {"definition length past the end", object + 4, 0xFFFFFFF0},
      {"counter count huge", object + 32, 0x7FFFFFFF},
      {"instance length zero", firstInstance, 0},
      {"instance length huge", firstInstance, 0xFFFFFFF8},
      {"name offset huge", firstInstance + 16, 0xFFFFFFF0},
      {"name length huge", firstInstance + 20, 0xFFFFFFF0},
  };
  for (const auto& c : cases) {
    data = original;
    put32(c.at, c.value);
    int rows = ParsePerfTaskTable(data.data(), size, 230, 784);
    EXPECT_LE(rows, 3) << c.name;
  }
}

}  // namespace
