// The memory scan on the emulated machine: which images are walked and
// when, which processes end, the NT route's service stop by version, the
// listing's privilege retry and library loading, and the restart question.
// A recording scanner table stands in for the scanners, except in the last
// tests, where forged samples go through the real table.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/memory_scan.h"
#include "engine/scan_run.h"
#include "engine/scanner_table.h"
#include "platform/emu/machine.h"
#include "scanners/signature_record.h"
#include "tests/support/machine_fixture.h"
#include "tools/forge/forge.h"
#include "tools/forge/forge_worm_script.h"

namespace {

struct Visit {
  std::string path;
  int singleFileMode;
  int memoryAction;
};
std::vector<Visit> visits;

// Detects every image whose path holds "evil", as the scanners do in
// SingleFileMode: FileDetected set, the file left alone.
int RecordingRow(const char*, const char* path) {
  visits.push_back(Visit{path, SingleFileMode, MemoryAction});
  if (!MemoryAction && std::strstr(path, "evil")) {
    FileDetected = 1;
    return 1;
  }
  return 0;
}
const ScannerEntry RecordingTable[] = {{"row", RecordingRow}, {nullptr, nullptr}};

const char kEvil[] = "C:\\WINDOWS\\evil.exe";
const char kClean[] = "C:\\WINDOWS\\clean.exe";
const char kQuestion[] =
    "W32/Murkel.Backdoor found in memory! registry entries created by the worm are removed. "
    "You must restart the computer and run this program to continue scanning.\n\n"
    "Restart the computer now?";

class MemoryScanTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    InstallMainWindow();
    ActionMode = ActionClean;
    visits.clear();
    ActiveScannerTable = RecordingTable;
    WriteFile(kEvil, "evil");
    WriteFile(kClean, "clean");
    SingleFileMode = 1;  // as MemoryScan sets it around the routes
  }
  // A fresh machine for one case of a table, set up as SetUp does.
  void Fresh(emu::Platform platform) {
    emu::ResetMachine();
    emu::MapDrive('C', Root());
    emu::SetPlatform(platform);
    InstallMainWindow();
    ActionMode = ActionClean;
    SingleFileMode = 1;
    visits.clear();
  }
  void TearDown() override {
    ActiveScannerTable = ScannerTable;
    EXPECT_EQ(emu::OpenKernelHandles(), 0) << "process or token handle left open";
    EXPECT_EQ(emu::OpenServiceHandles(), 0) << "service handle left open";
    EXPECT_EQ(emu::OpenRegistryHandles(), 0) << "registry key left open";
    MachineTest::TearDown();
  }
  // Paths walked, "+" marking a walk with MemoryAction set.
  static std::vector<std::string> Walked() {
    std::vector<std::string> out;
    for (const auto& v : visits) out.push_back(v.memoryAction ? "+" + v.path : v.path);
    return out;
  }
  static std::vector<DWORD> Ended() {
    std::vector<DWORD> ids;
    for (const auto& t : emu::Terminations()) ids.push_back(t.id);
    return ids;
  }
  // Runs MemoryScan; true when it ended the program.
  static bool RunMemoryScan() {
    try {
      MemoryScan();
    } catch (const emu::ProgramEnded&) {
      return true;
    }
    return false;
  }
};

TEST_F(MemoryScanTest, CleanProcessesAreWalkedOnceAndLeftRunning) {
  for (auto platform : {emu::Platform::Win98, emu::Platform::WinXP}) {
    SCOPED_TRACE(static_cast<int>(platform));
    Fresh(platform);
    emu::AddProcess(kClean);
    emu::AddProcess("C:\\WINDOWS\\gone.exe");  // image not readable: passed over
    emu::AddProcess(kClean);
    EXPECT_FALSE(RunMemoryScan());
    EXPECT_EQ(Walked(), (std::vector<std::string>{kClean, kClean}));
    EXPECT_EQ(visits[0].singleFileMode, 1);
    EXPECT_TRUE(emu::Terminations().empty());
    EXPECT_EQ(SingleFileMode, 0);
    EXPECT_EQ(InfectedInMemory, 0);
    EXPECT_EQ(FilesScanned, 0);
    EXPECT_TRUE(emu::Prompts().empty());
  }
}

TEST_F(MemoryScanTest, Win9xEndsTheInfectedProcessAndWalksItsImageAgain) {
  emu::SetPlatform(emu::Platform::Win98);
  emu::AddProcess(kClean);
  DWORD evil = emu::AddProcess(kEvil);
  emu::AddProcess(kClean);
  EXPECT_EQ(MemoryScan9x(), 1);
  EXPECT_EQ(Walked(), (std::vector<std::string>{kClean, kEvil, std::string("+") + kEvil, kClean}));
  EXPECT_EQ(visits[2].memoryAction, ActionClean);
  EXPECT_EQ(MemoryAction, 0);
  EXPECT_EQ(Ended(), std::vector<DWORD>{evil});
  EXPECT_TRUE(emu::Sleeps().empty()) << "the 9x listing makes no pauses";
}

TEST_F(MemoryScanTest, Win9xWalksAgainEvenWhenTheProcessResistsButNotInReportMode) {
  emu::SetPlatform(emu::Platform::Win98);
  emu::ProcessOptions unkillable;
  unkillable.canTerminate = false;
  emu::AddProcess(kEvil, unkillable);
  EXPECT_EQ(MemoryScan9x(), 1);
  EXPECT_EQ(Walked(), (std::vector<std::string>{kEvil, std::string("+") + kEvil}));

  visits.clear();
  emu::AddProcess(kEvil);
  ActionMode = ActionReport;
  EXPECT_EQ(MemoryScan9x(), 1) << "a detection left alone still counts";
  EXPECT_EQ(Walked(), (std::vector<std::string>{kEvil, kEvil}));
  EXPECT_TRUE(emu::Terminations().empty());
}

TEST_F(MemoryScanTest, Win9xListingFailuresExamineNothing) {
  const struct {
    const char* op;
    const char* key;
  } faults[] = {
      {"LoadLibraryA", ""},
      {"CreateToolhelp32Snapshot", ""},
      {"GetProcAddress", "Process32First"},
      {"GetProcAddress", "Process32Next"},
  };
  for (const auto& f : faults) {
    SCOPED_TRACE(f.op + std::string(" ") + f.key);
    Fresh(emu::Platform::Win98);
    emu::AddProcess(kEvil);
    emu::FailOperation(f.op, f.key, ERROR_INVALID_PARAMETER);
    EXPECT_EQ(MemoryScan9x(), 0);
    EXPECT_TRUE(visits.empty());
    EXPECT_EQ(emu::OpenKernelHandles(), 0);
  }
}

TEST_F(MemoryScanTest, NtEndsTheProcessWithoutCallingItAFailedService) {
  for (auto platform : {emu::Platform::NT4, emu::Platform::WinXP, emu::Platform::Win7}) {
    SCOPED_TRACE(static_cast<int>(platform));
    Fresh(platform);
    DWORD evil = emu::AddProcess(kEvil);
    emu::AddProcess(kClean);
    EXPECT_FALSE(RunMemoryScan()) << "the drives are scanned after a handled detection";
    EXPECT_EQ(Walked(), (std::vector<std::string>{kEvil, std::string("+") + kEvil, kClean}));
    EXPECT_EQ(Ended(), std::vector<DWORD>{evil});
    EXPECT_EQ(ServiceStopFailed, 0);
    EXPECT_EQ(InfectedInMemory, 1);
    EXPECT_EQ(SingleFileMode, 0);
    EXPECT_TRUE(emu::Prompts().empty());
  }
}

TEST_F(MemoryScanTest, NtStopsAnUnkillableServiceOnVersions4And5Only) {
  const struct {
    emu::Platform platform;
    bool stopped;
  } cases[] = {
      {emu::Platform::NT4, true},
      {emu::Platform::Win2000, true},
      {emu::Platform::WinXP, true},
      {emu::Platform::Win7, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.platform));
    Fresh(c.platform);
    emu::ProcessOptions unkillable;
    unkillable.canTerminate = false;
    DWORD evil = emu::AddProcess(kEvil, unkillable);
    emu::ServiceOptions service;
    service.processId = evil;
    emu::AddService("Evil", service);
    const char* key = "HKLM\\SYSTEM\\ControlSet001\\Services\\Evil";

    EXPECT_FALSE(RunMemoryScan());
    EXPECT_EQ(emu::ServiceControls().size(), c.stopped ? 1u : 0u);
    EXPECT_EQ(emu::ProcessRunning(evil), !c.stopped);
    EXPECT_EQ(emu::RegistryKeyExists(key), !c.stopped);
    std::vector<std::string> walked = {kEvil};
    if (c.stopped) walked.push_back(std::string("+") + kEvil);
    EXPECT_EQ(Walked(), walked) << "NT 6: walked again only when the first attempt ended it";
    EXPECT_EQ(ServiceStopFailed, 0);
    if (c.stopped) {
      EXPECT_EQ(emu::ServiceControls()[0].service, "Evil");
      EXPECT_EQ(emu::Sleeps(), std::vector<DWORD>{1000}) << "one poll while stop-pending";
    }
  }
}

// An unkillable infected image whose file name is a service's name: the
// service is stopped only when its registration runs that image.
TEST_F(MemoryScanTest, OnlyAServiceThatRunsTheImageIsStopped) {
  const char kLong[] = "C:\\Program Files\\Evil Co\\evil.exe";  // short: C:\PROGRA~1\EVILCO~1
  WriteFile(kLong, "evil");
  const struct {
    const char* imagePath;  // the service's "ImagePath"
    bool stopped;
    const char* image;      // the infected process's image
  } cases[] = {
      {"", true, kEvil},  // the image itself, as AddService writes it
      {"\"C:\\WINDOWS\\EVIL.EXE\" -service", true, kEvil},
      {"%SystemRoot%\\evil.exe", true, kEvil},
      {"C:\\WINDOWS\\system32\\mstask.exe", false, kEvil},  // another program
      {"C:\\WINDOWS\\evil.exe.bak", false, kEvil},
      // The short (8.3) form of the running image's path.
      {"C:\\PROGRA~1\\EVILCO~1\\evil.exe", true, kLong},
      {"\"c:\\progra~1\\evilco~1\\EVIL.EXE\" -service", true, kLong},
      {"C:\\PROGRA~1\\EVILCO~1\\EVIL.EXE -k net", true, kLong},
      {"C:\\Program Files\\Evil Co\\evil.exe -k net", true, kLong},
      {"C:\\PROGRA~1\\EVILCO~2\\evil.exe", false, kLong},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.imagePath);
    Fresh(emu::Platform::WinXP);
    emu::ProcessOptions unkillable;
    unkillable.canTerminate = false;
    DWORD evil = emu::AddProcess(c.image, unkillable);
    DWORD host = c.stopped ? evil : emu::AddProcess("C:\\WINDOWS\\system32\\mstask.exe");
    emu::ServiceOptions service;
    service.processId = host;
    service.imagePath = c.imagePath;
    emu::AddService("Evil", service);
    EXPECT_EQ(RunMemoryScan(), !c.stopped) << "the restart question ends the program";
    EXPECT_EQ(emu::ServiceControls().size(), c.stopped ? 1u : 0u);
    EXPECT_EQ(emu::ProcessRunning(evil), !c.stopped);
    if (!c.stopped) {
      EXPECT_TRUE(emu::ProcessRunning(host));
      EXPECT_EQ(emu::ServiceState("Evil"), DWORD(SERVICE_RUNNING));
      EXPECT_EQ(ServiceStopFailed, 1);
    }
  }
}

TEST_F(MemoryScanTest, AProcessNeitherEndedNorStoppedLeadsToTheRestartQuestion) {
  const struct {
    int answer;
    bool restart;
  } cases[] = {{IDOK, true}, {IDCANCEL, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    Fresh(emu::Platform::WinXP);
    WriteFile("C:\\data\\later.txt", "text");
    emu::ProcessOptions unkillable;
    unkillable.canTerminate = false;
    DWORD evil = emu::AddProcess(kEvil, unkillable);  // no such service
    emu::ScriptAnswers({c.answer});

    bool ended = false;
    try {
      ScanRun();
    } catch (const emu::ProgramEnded& end) {
      ended = true;
      EXPECT_EQ(end.code, 0);
    }
    EXPECT_TRUE(ended);
    ASSERT_EQ(emu::Prompts().size(), 1u);
    EXPECT_EQ(emu::Prompts()[0].text, kQuestion);
    EXPECT_EQ(emu::Prompts()[0].title, "Sorvane Ver 1.0");
    EXPECT_EQ(emu::Prompts()[0].style, 0x41u);
    EXPECT_EQ(emu::RestartRequested(), c.restart);
    EXPECT_EQ(ServiceStopFailed, 1);
    EXPECT_EQ(Walked(), std::vector<std::string>{kEvil}) << "no drive is scanned";
    EXPECT_TRUE(emu::ProcessRunning(evil));
  }
}

TEST_F(MemoryScanTest, NtActsOnlyInTheCleaningModes) {
  const struct {
    int mode;
    bool acted;
  } cases[] = {{ActionRename, true}, {ActionDelete, true}, {ActionReport, false}, {0, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    Fresh(emu::Platform::WinXP);
    ActionMode = c.mode;
    DWORD evil = emu::AddProcess(kEvil);
    EXPECT_EQ(MemoryScanNT(), 1);
    EXPECT_EQ(emu::ProcessRunning(evil), !c.acted);
    ASSERT_EQ(visits.size(), c.acted ? 2u : 1u);
    if (c.acted) {
      EXPECT_EQ(visits[1].memoryAction, c.mode);
    }
  }
}

TEST_F(MemoryScanTest, NtListingEnablesTheDebugPrivilegeForRefusedProcesses) {
  emu::ProcessOptions guarded;
  guarded.needsDebugPrivilege = true;
  DWORD id = emu::AddProcess(kClean, guarded);
  EXPECT_EQ(MemoryScanNT(), 0);
  EXPECT_TRUE(emu::PrivilegeEnabled(SE_DEBUG_NAME));
  EXPECT_EQ(Walked(), std::vector<std::string>{kClean});
  ASSERT_GE(emu::ProcessOpens().size(), 2u);
  EXPECT_EQ(emu::ProcessOpens()[0].id, id);
  EXPECT_FALSE(emu::ProcessOpens()[0].granted);
  EXPECT_EQ(emu::ProcessOpens()[0].access, 0x410u);
  EXPECT_TRUE(emu::ProcessOpens()[1].granted);
}

TEST_F(MemoryScanTest, NtListingGoesOnWhenTheOwnTokenCannotBeOpened) {
  emu::ProcessOptions guarded;
  guarded.needsDebugPrivilege = true;
  emu::AddProcess(kEvil, guarded);
  emu::AddProcess(kClean);
  emu::FailOperation("OpenProcessToken", "", ERROR_ACCESS_DENIED);
  EXPECT_EQ(MemoryScanNT(), 0);
  ASSERT_EQ(emu::Prompts().size(), 1u);
  EXPECT_EQ(emu::Prompts()[0].text, "false");
  EXPECT_EQ(emu::Prompts()[0].title, "TEMP");
  EXPECT_EQ(emu::Prompts()[0].style, unsigned(MB_OK));
  EXPECT_EQ(Walked(), std::vector<std::string>{kClean});
}

TEST_F(MemoryScanTest, NtListingDoesNotTrustAStaleAccessDenied) {
  emu::AddProcess(kClean);
  emu::AddProcess(kClean);
  SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_EQ(MemoryScanNT(), 0);
  EXPECT_EQ(emu::CallCount("LookupPrivilegeValueA"), 0);
  EXPECT_EQ(emu::ProcessOpens().size(), 2u) << "one open per process that opens";
}

TEST_F(MemoryScanTest, PsapiIsLoadedFromTheSystemDirectory) {
  for (auto platform : {emu::Platform::NT4, emu::Platform::Win7}) {
    Fresh(platform);
    emu::AddProcess(kClean);
    MemoryScanNT();
    EXPECT_EQ(emu::LoadedLibraries(),
              std::vector<std::string>{"C:\\WINDOWS\\system32\\psapi.dll"});
  }
  emu::SetWindowsDirectory("D:\\WINNT");
  MemoryScanNT();
  EXPECT_EQ(emu::LoadedLibraries().back(), "D:\\WINNT\\system32\\psapi.dll");
}

TEST_F(MemoryScanTest, NtListingFailuresExamineNothing) {
  const struct {
    const char* op;
    const char* key;
  } faults[] = {
      {"LoadLibraryA", ""},
      {"GetProcAddress", "EnumProcesses"},
      {"EnumProcesses", ""},
      {"GetProcAddress", "GetModuleFileNameExA"},
      {"GetModuleFileNameExA", kEvil},  // that one process is not listed
  };
  for (const auto& f : faults) {
    SCOPED_TRACE(f.op + std::string(" ") + f.key);
    Fresh(emu::Platform::WinXP);
    emu::AddProcess(kEvil);
    emu::FailOperation(f.op, f.key, ERROR_INVALID_PARAMETER);
    EXPECT_EQ(MemoryScanNT(), 0);
    EXPECT_TRUE(visits.empty());
  }
}

TEST_F(MemoryScanTest, NtReadsAtMost1024Processes) {
  for (int i = 0; i < 1030; ++i) emu::AddProcess(i == 1025 ? kEvil : kClean);
  EXPECT_EQ(MemoryScanNT(), 0) << "the 1026th process is never listed";
  EXPECT_EQ(visits.size(), 1024u);
}

TEST_F(MemoryScanTest, OtherPlatformsScanNoMemory) {
  emu::SetPlatform(emu::Platform::Other);
  emu::AddProcess(kEvil);
  EXPECT_FALSE(RunMemoryScan());
  EXPECT_TRUE(visits.empty());
  EXPECT_EQ(SingleFileMode, 0);
}

// ---- Through the real scanner table ----

class MemoryScanRealTableTest : public MemoryScanTest {
 protected:
  void SetUp() override {
    MemoryScanTest::SetUp();
    ActiveScannerTable = ScannerTable;
    forge::Bytes sample = forge::BackdoorSample(0);
    WriteFile(kEvil, std::string(sample.begin(), sample.end()));
  }
};

TEST_F(MemoryScanRealTableTest, InfectedImageIsRemovedOnBothFamilies) {
  for (auto platform : {emu::Platform::Win98, emu::Platform::WinXP}) {
    SCOPED_TRACE(static_cast<int>(platform));
    emu::SetPlatform(platform);
    forge::Bytes sample = forge::BackdoorSample(0);
    WriteFile(kEvil, std::string(sample.begin(), sample.end()));
    emu::AddProcess(kEvil);
    emu::AddProcess(kClean);
    const size_t lines = Lines().size();
    EXPECT_FALSE(RunMemoryScan());
    EXPECT_FALSE(Exists(kEvil));
    EXPECT_TRUE(Exists(kClean));
    EXPECT_EQ(std::vector<std::string>(Lines().begin() + lines, Lines().end()),
              (std::vector<std::string>{"System Memory    W32/Murkel.Backdoor removed",
                                        std::string(kEvil) + "     W32/Murkel.Trojan removed"}));
    EXPECT_EQ(InfectedInMemory, 1);
  }
  EXPECT_EQ(FilesInfected, 2);
  EXPECT_EQ(FilesRemoved, 2);
  EXPECT_EQ(FilesScanned, 0);
}

TEST_F(MemoryScanRealTableTest, ScanRunGoesOnWithTheDrivesAfterTheMemoryScan) {
  forge::Bytes sample = forge::BackdoorSample(1);
  WriteFile("C:\\data\\copy.exe", std::string(sample.begin(), sample.end()));
  emu::AddProcess(kEvil);
  ScanRun();
  const std::vector<std::string>& lines = Lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "System Memory    W32/Murkel.Backdoor removed");
  EXPECT_EQ(lines[1], std::string(kEvil) + "     W32/Murkel.Trojan removed");
  EXPECT_EQ(lines[2], std::string("C:\\data\\copy.exe     ") + BackdoorSignatures[1].Name + " removed");
  EXPECT_EQ(Statuses().back(), "Scanning completed");
  EXPECT_FALSE(Exists("C:\\data\\copy.exe"));
  EXPECT_EQ(FilesInfected, 2);
}

// Each row acts on the running images it recognised: a worm-infected
// program is repaired, a worm's text-carrying program removed by the
// script row, each with its own line; every process is ended first.
TEST_F(MemoryScanRealTableTest, TheRowThatRecognisedAnImageActsOnIt) {
  forge::Bytes host = forge::SyntheticHost();
  forge::Bytes worm, script;
  std::string why;
  ASSERT_TRUE(forge::InfectWithWorm(host, "Q", forge::WormOptions{}, &worm, &why)) << why;
  ASSERT_TRUE(forge::ScriptSample(4, forge::ScriptOptions{}, &script, &why)) << why;
  const std::string evil = std::string(kEvil) + "     W32/Murkel.Trojan removed";
  const struct {
    const char* name;
    forge::Bytes bytes;
    std::vector<std::string> lines;
    bool removed;
  } cases[] = {
      {"backdoor", forge::BackdoorSample(0), {"System Memory    W32/Murkel.Backdoor removed", evil}, true},
      {"worm", worm, {std::string(kEvil) + "     W32/Bagle.Q.Worm Virus removed"}, false},
      {"script", script, {std::string(kEvil) + "     W32/Bagle.Aa.Worm Virus removed"}, true},
  };
  for (auto platform : {emu::Platform::Win98, emu::Platform::WinXP}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (platform == emu::Platform::Win98 ? " 9x" : " NT"));
      Fresh(platform);
      ResetSharedState();
      InstallMainWindow();
      ActionMode = ActionClean;
      WriteFile(kEvil, std::string(c.bytes.begin(), c.bytes.end()));
      DWORD id = emu::AddProcess(kEvil);
      const size_t before = Lines().size();
      EXPECT_FALSE(RunMemoryScan());
      EXPECT_EQ(std::vector<std::string>(Lines().begin() + before, Lines().end()), c.lines);
      EXPECT_FALSE(emu::ProcessRunning(id));
      EXPECT_EQ(Exists(kEvil), !c.removed);
      if (!c.removed) {
        EXPECT_TRUE(ReadFile(kEvil) == std::string(host.begin(), host.end())) << "not the host";
      }
      EXPECT_EQ(FilesInfected, 1);
      EXPECT_EQ(FilesRemoved + FilesDisinfected, 1);
    }
  }
}

}  // namespace
