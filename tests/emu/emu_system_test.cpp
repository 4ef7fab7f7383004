// The emulated system information and process views: versions per
// platform, environment expansion, short path names, the Toolhelp snapshot
// per family and the shape of the performance data.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/emu/machine.h"
#include "tests/support/machine_fixture.h"

namespace {

class EmuSystemTest : public MachineTest {};

TEST_F(EmuSystemTest, VersionsFollowThePlatform) {
  const struct {
    const char* name;
    DWORD platformId, major, minor;
  } cases[] = {
      {"9x", VER_PLATFORM_WIN32_WINDOWS, 4, 10}, {"nt4", VER_PLATFORM_WIN32_NT, 4, 0},
      {"nt5", VER_PLATFORM_WIN32_NT, 5, 1},      {"nt6", VER_PLATFORM_WIN32_NT, 6, 1},
      {"other", VER_PLATFORM_WIN32s, 3, 10},
  };
  for (const auto& c : cases) {
    emu::Platform p;
    ASSERT_TRUE(emu::ParsePlatform(c.name, &p));
    emu::SetPlatform(p);
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_TRUE(GetVersionExA(&info));
    EXPECT_EQ(info.dwPlatformId, c.platformId) << c.name;
    EXPECT_EQ(info.dwMajorVersion, c.major) << c.name;
    EXPECT_EQ(info.dwMinorVersion, c.minor) << c.name;
  }
  emu::Platform p;
  EXPECT_FALSE(emu::ParsePlatform("win10", &p));
  OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = 100;
  EXPECT_FALSE(GetVersionExA(&info));
}

TEST_F(EmuSystemTest, DirectoriesFollowTheWindowsDirectoryAndFamily) {
  char buffer[MAX_PATH];
  EXPECT_EQ(GetWindowsDirectoryA(buffer, sizeof buffer), 10u);
  EXPECT_STREQ(buffer, "C:\\WINDOWS");
  EXPECT_EQ(GetWindowsDirectoryA(buffer, 10), 11u);  // too small: the size needed
  emu::SetWindowsDirectory("D:\\WINNT\\");
  EXPECT_EQ(emu::SystemDirectory(), "D:\\WINNT\\system32");
  emu::SetPlatform(emu::Platform::Win98);
  EXPECT_EQ(emu::SystemDirectory(), "D:\\WINNT\\SYSTEM");
  ASSERT_GT(ExpandEnvironmentStringsA("%windir%", buffer, sizeof buffer), 0u);
  EXPECT_STREQ(buffer, "D:\\WINNT");
  GetTempPathA(sizeof buffer, buffer);
  EXPECT_STREQ(buffer, "C:\\WINDOWS\\TEMP\\");
  emu::UnsetEnvironmentVariable("TMP");
  emu::SetEnvironmentVariable("TEMP", "C:\\T");
  GetTempPathA(sizeof buffer, buffer);
  EXPECT_STREQ(buffer, "C:\\T\\");
}

TEST_F(EmuSystemTest, ExpansionReplacesKnownVariablesOnly) {
  emu::SetEnvironmentVariable("A", "x");
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"%A%\\b", "x\\b"}, {"%a%%A%", "xx"},   {"%B%\\c", "%B%\\c"}, {"100%", "100%"},
      {"%%A%", "%x"},     {"%B%A%", "%Bx"},   {"", ""},
  };
  for (const auto& c : cases) {
    char out[64];
    DWORD n = ExpandEnvironmentStringsA(c.in, out, sizeof out);
    EXPECT_STREQ(out, c.out) << c.in;
    EXPECT_EQ(n, strlen(c.out) + 1) << c.in;
  }
  char tiny[3];
  EXPECT_EQ(ExpandEnvironmentStringsA("%A%yz", tiny, sizeof tiny), 4u);
}

TEST_F(EmuSystemTest, ShortPathsNumberLongNamesInNameOrder) {
  WriteFile("C:\\Program Files\\Common Files\\Evil File.exe");
  MakeDir("C:\\Programs and more");
  WriteFile("C:\\dir\\readme.txt");
  WriteFile("C:\\dir\\a.b.c");
  WriteFile("C:\\dir\\LONGNAME1.TXT");
  WriteFile("C:\\dir\\longname2.txt");
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"C:\\Program Files\\Common Files\\Evil File.exe", "C:\\PROGRA~1\\COMMON~1\\EVILFI~1.EXE"},
      {"c:\\programs and more", "c:\\PROGRA~2"},
      {"C:\\DIR\\README.TXT", "C:\\dir\\readme.txt"},
      {"C:\\dir\\a.b.c", "C:\\dir\\AB~1.C"},
      {"C:\\dir\\longname2.txt", "C:\\dir\\LONGNA~2.TXT"},
  };
  for (const auto& c : cases) {
    char out[MAX_PATH];
    DWORD n = GetShortPathNameA(c.in, out, sizeof out);
    EXPECT_EQ(n, strlen(c.out)) << c.in;
    EXPECT_STREQ(out, c.out) << c.in;
  }
  char out[MAX_PATH];
  EXPECT_EQ(GetShortPathNameA("C:\\dir\\missing.txt", out, sizeof out), 0u);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(GetShortPathNameA("C:\\dir\\readme.txt", out, 5), 18u);
}

TEST_F(EmuSystemTest, SnapshotsNameImagesAsTheFamilyDoes) {
  emu::AddProcess("C:\\WINDOWS\\notepad.exe");
  HMODULE kernel = LoadLibraryA("Kernel32.dll");
  ASSERT_NE(kernel, nullptr);
  ASSERT_NE(GetProcAddress(kernel, "CreateToolhelp32Snapshot"), nullptr);
  for (emu::Platform p : {emu::Platform::WinXP, emu::Platform::Win98}) {
    emu::SetPlatform(p);
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 e = {};
    e.dwSize = sizeof e;
    std::vector<std::string> names;
    for (BOOL ok = Process32First(snap, &e); ok; ok = Process32Next(snap, &e)) names.push_back(e.szExeFile);
    CloseHandle(snap);
    if (p == emu::Platform::WinXP) {
      EXPECT_EQ(names, (std::vector<std::string>{"[System Process]", "notepad.exe"}));
    } else {
      EXPECT_EQ(names, std::vector<std::string>{"C:\\WINDOWS\\notepad.exe"});
    }
  }
  emu::SetPlatform(emu::Platform::NT4);
  EXPECT_EQ(GetProcAddress(kernel, "CreateToolhelp32Snapshot"), nullptr);
  EXPECT_EQ(emu::OpenKernelHandles(), 0);
}

TEST_F(EmuSystemTest, PerformanceDataNamesDuplicatesWithANumber) {
  emu::AddProcess("C:\\a\\svchost.exe");
  emu::AddProcess("C:\\b\\SVCHOST.EXE");
  emu::AddProcess("C:\\c\\svchost.exe");
  emu::AddProcess("C:\\c\\tool");
  DWORD size = 1 << 16;
  std::vector<BYTE> data(size);
  ASSERT_EQ(RegQueryValueExA(HKEY_PERFORMANCE_DATA, "230", nullptr, nullptr, data.data(), &size),
            ERROR_SUCCESS);
  PERF_DATA_BLOCK block;
  memcpy(&block, data.data(), sizeof block);
  EXPECT_EQ(block.Signature[0], 'P');
  EXPECT_EQ(block.TotalByteLength, size);
  ASSERT_EQ(block.NumObjectTypes, 1u);
  PERF_OBJECT_TYPE object;
  memcpy(&object, &data[block.HeaderLength], sizeof object);
  EXPECT_EQ(object.ObjectNameTitleIndex, 230u);
  ASSERT_EQ(object.NumInstances, 6);
  EXPECT_EQ(object.TotalByteLength, size - block.HeaderLength);
  std::vector<std::string> names;
  DWORD at = block.HeaderLength + object.DefinitionLength;
  for (int i = 0; i < object.NumInstances; ++i) {
    PERF_INSTANCE_DEFINITION inst;
    memcpy(&inst, &data[at], sizeof inst);
    std::string name;
    for (DWORD k = 0; k + 2 < inst.NameLength; k += 2) name += char(data[at + inst.NameOffset + k]);
    names.push_back(name);
    PERF_COUNTER_BLOCK counters;
    memcpy(&counters, &data[at + inst.ByteLength], sizeof counters);
    at += inst.ByteLength + counters.ByteLength;
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Idle", "svchost", "SVCHOST#1", "svchost#2", "tool", "_Total"}));

  DWORD small = 100;
  EXPECT_EQ(RegQueryValueExA(HKEY_PERFORMANCE_DATA, "230", nullptr, nullptr, data.data(), &small),
            ERROR_MORE_DATA);
  EXPECT_EQ(small, 100u);  // Windows reports no size for performance data
  size = 1 << 16;
  ASSERT_EQ(RegQueryValueExA(HKEY_PERFORMANCE_DATA, "238", nullptr, nullptr, data.data(), &size),
            ERROR_SUCCESS);
  memcpy(&block, data.data(), sizeof block);
  EXPECT_EQ(block.NumObjectTypes, 0u);
}

TEST_F(EmuSystemTest, OpensNeedingTheDebugPrivilegeSucceedOnceItIsEnabled) {
  DWORD id = emu::AddProcess("C:\\svc.exe", emu::ProcessOptions{true, true, true});
  EXPECT_EQ(OpenProcess(PROCESS_TERMINATE, FALSE, id), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
  HANDLE token;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token));
  TOKEN_PRIVILEGES tp = {};
  tp.PrivilegeCount = 1;
  ASSERT_TRUE(LookupPrivilegeValueA(nullptr, SE_DEBUG_NAME, &tp.Privileges[0].Luid));
  tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  ASSERT_TRUE(AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
  CloseHandle(token);
  HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, id);
  ASSERT_NE(process, nullptr);
  EXPECT_TRUE(TerminateProcess(process, 3));
  CloseHandle(process);
  ASSERT_EQ(emu::Terminations().size(), 1u);
  EXPECT_EQ(emu::Terminations()[0].exitCode, 3u);
  EXPECT_FALSE(emu::IsImageRunning("c:\\SVC.EXE"));
}

}  // namespace
