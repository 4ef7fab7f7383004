// Process termination on the real platform: sleeper processes started by
// the test are ended, on the NT family only where they run the file named,
// through the NT route's real performance data (from a test-only provider
// registered in the prefix), through its Toolhelp fallback without that
// provider, and through the 9x route in a copy of this exe that Wine runs
// as Windows 98.
#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>
#include <cstdlib>
#include <string>

#include "cleanup/perf_task_table.h"
#include "cleanup/platform_kind.h"
#include "cleanup/process_termination.h"
#include "support/process_helpers.h"

extern const unsigned char Sleeper[];
extern const size_t Sleeper_size;
extern const unsigned char PerfProvider[];
extern const size_t PerfProvider_size;

namespace {

const char kDir[] = "C:\\sorvane-tests\\term";
const char kProviderKey[] = "System\\CurrentControlSet\\Services\\SorvaneTestPerf";
const char kChildFlag[] = "SORVANE_WIN98_CHILD";

std::string SleeperAt(const std::string& relative) {
  std::string path = std::string(kDir) + "\\" + relative;
  EXPECT_TRUE(WriteBytes(path, Sleeper, Sleeper_size)) << path;
  return path;
}

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

// Registers the provider DLL for this prefix's performance data.
class ProviderRegistration {
 public:
  ProviderRegistration() {
    const std::string dll = std::string(kDir) + "\\sorvane_test_perf.dll";
    ok_ = WriteBytes(dll, PerfProvider, PerfProvider_size);
    HKEY key;
    std::string performance = std::string(kProviderKey) + "\\Performance";
    if (ok_ && RegCreateKeyExA(HKEY_LOCAL_MACHINE, performance.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                               nullptr, &key, nullptr) == ERROR_SUCCESS) {
      Set(key, "Library", dll);
      Set(key, "Open", "OpenPerfData");
      Set(key, "Collect", "CollectPerfData");
      Set(key, "Close", "ClosePerfData");
      RegCloseKey(key);
    } else {
      ok_ = false;
    }
  }
  ~ProviderRegistration() {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, (std::string(kProviderKey) + "\\Performance").c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kProviderKey);
  }
  bool Ok() const { return ok_; }

 private:
  static void Set(HKEY key, const char* name, const std::string& text) {
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>(text.size() + 1));
  }
  bool ok_;
};

// Row of the performance-data table for a process id, or -1.
int RowOf(int rows, DWORD id) {
  for (int i = 0; i < rows; ++i) {
    if (PerfTaskTable[i].ProcessId == id) return i;
  }
  return -1;
}

// Two processes named bad.exe in different folders: only the one whose
// file is being removed ends, its image path confirmed through psapi.
TEST(Termination, TheNtRouteEndsOnlyTheFilesProcessFromRealPerformanceData) {
  ASSERT_EQ(GetPlatformKind(), PlatformNT);
  ProviderRegistration provider;
  ASSERT_TRUE(provider.Ok());
  const std::string file = SleeperAt("a\\bad.exe");
  StartedProcess first(Quoted(file));
  StartedProcess second(Quoted(SleeperAt("b\\BAD.EXE")));
  StartedProcess badger(Quoted(SleeperAt("a\\badger.exe")));
  ASSERT_TRUE(first.Started() && second.Started() && badger.Started());
  Sleep(200);

  const int rows = ReadPerfTaskTable();
  ASSERT_GT(rows, 3) << "the provider's Process object was not read";
  int a = RowOf(rows, first.Id()), b = RowOf(rows, second.Id()), c = RowOf(rows, badger.Id());
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  ASSERT_GE(c, 0);
  // The second of a name in the snapshot's order carries "#1".
  const std::string na = PerfTaskTable[a].Name, nb = PerfTaskTable[b].Name;
  EXPECT_TRUE((na == "bad" && nb == "BAD#1") || (na == "bad#1" && nb == "BAD")) << na << ", " << nb;
  EXPECT_STREQ(PerfTaskTable[c].Name, "badger");

  EXPECT_EQ(TerminateProcessByPath("C:\\WINDOWS\\SYSTEM32\\BAD.EXE"), 0) << "no process runs that file";
  EXPECT_EQ(TerminateProcessByPath(file.c_str()), 1);
  DWORD code = 1;
  EXPECT_TRUE(first.Ended(5000, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_FALSE(second.Ended(500)) << "a process of the same name in another folder was ended";
  EXPECT_FALSE(badger.Ended(0));
}

TEST(Termination, WithoutProcessDataTheNtRouteFallsBackToTheSnapshot) {
  ASSERT_EQ(ReadPerfTaskTable(), 0) << "this prefix has a Process object of its own";
  const std::string file = SleeperAt("c\\evil.exe");
  StartedProcess first(Quoted(file));
  StartedProcess second(Quoted(SleeperAt("d\\Evil.Exe")));
  StartedProcess other(Quoted(SleeperAt("c\\evil2.exe")));
  ASSERT_TRUE(first.Started() && second.Started() && other.Started());
  Sleep(200);
  EXPECT_EQ(TerminateProcessByPath("C:\\ANYWHERE\\EVIL.EXE"), 0) << "no process runs that file";
  std::string upper = file;
  for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(TerminateProcessByPath(upper.c_str()), 1);
  EXPECT_TRUE(first.Ended(5000));
  EXPECT_FALSE(second.Ended(500)) << "a process of the same name in another folder was ended";
  EXPECT_FALSE(other.Ended(0));
  EXPECT_EQ(TerminateProcessByPath("C:\\ANYWHERE\\NOTHING.EXE"), 0);
}

// Runs the Win98Only tests in a copy of this exe that Wine reports as
// Windows 98 (the version is set per exe name).
TEST(Termination, The9xRoutesRunInAWindows98Copy) {
  char self[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(nullptr, self, sizeof self), 0u);
  const std::string copy = std::string(kDir) + "\\sorvane_win98.exe";
  ASSERT_TRUE(WriteBytes(copy, "", 0));
  ASSERT_TRUE(CopyFileA(self, copy.c_str(), FALSE));
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\sorvane_win98.exe", 0,
                            nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>("win98"), 6);
  RegCloseKey(key);
  SetEnvironmentVariableA(kChildFlag, "1");
  long code = RunAndWait(Quoted(copy) + " --gtest_brief=1 --gtest_filter=Win98Only*", 120000);
  SetEnvironmentVariableA(kChildFlag, nullptr);
  EXPECT_EQ(code, 0) << "the Windows 98 copy reported failures (see its output above)";
}

// ---- run only inside the Windows 98 copy ----

class Win98Only : public testing::Test {
 protected:
  void SetUp() override {
    if (!getenv(kChildFlag)) GTEST_SKIP() << "runs in the Windows 98 copy";
    ASSERT_EQ(GetPlatformKind(), PlatformWin9x) << "the copy does not run as Windows 98";
  }
};

TEST_F(Win98Only, TheToolhelpRouteEndsOnlyTheFirstMatchingProcess) {
  StartedProcess first(Quoted(SleeperAt("e\\bad.exe")));
  StartedProcess second(Quoted(SleeperAt("f\\BAD.EXE")));
  StartedProcess other(Quoted(SleeperAt("e\\badger.exe")));
  ASSERT_TRUE(first.Started() && second.Started() && other.Started());
  Sleep(200);
  EXPECT_EQ(TerminateProcessByPath("C:\\WINDOWS\\SYSTEM\\BAD.EXE"), 1);
  Sleep(200);
  bool a = first.Ended(0), b = second.Ended(0);
  EXPECT_NE(a, b) << "exactly one of the two must have ended";
  EXPECT_FALSE(other.Ended(0));
}

}  // namespace
