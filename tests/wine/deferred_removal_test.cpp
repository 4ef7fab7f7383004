// Deferred removal on the real platform: the NT family's pending-rename
// list written by the real MoveFileExA, and "wininit.ini" written in the
// Windows directory by the copy of this exe that runs as Windows 98.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>

#include "cleanup/deferred_removal.h"
#include "cleanup/platform_kind.h"
#include "support/process_helpers.h"

namespace {

const char kSessionManager[] = "System\\CurrentControlSet\\Control\\Session Manager";
const char kPending[] = "PendingFileRenameOperations";

// The pending list as text with its terminators; empty when absent.
std::string PendingList() {
  HKEY key;
  std::string data;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_READ, &key) != ERROR_SUCCESS) return data;
  DWORD size = 0;
  if (RegQueryValueExA(key, kPending, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS && size) {
    data.resize(size);
    if (RegQueryValueExA(key, kPending, nullptr, nullptr, reinterpret_cast<BYTE*>(&data[0]), &size) !=
        ERROR_SUCCESS) {
      size = 0;
    }
    data.resize(size);
  }
  RegCloseKey(key);
  return data;
}

TEST(DeferredRemoval, TheNtFamilyRecordsTheDeletionInThePendingList) {
  ASSERT_EQ(GetPlatformKind(), PlatformNT);
  const std::string path = "C:\\sorvane-tests\\pending\\held file.exe";
  ASSERT_TRUE(WriteBytes(path, "x", 1));
  const std::string before = PendingList();
  EXPECT_EQ(ScheduleDeleteAtRestart(path.c_str()), 1);
  const std::string after = PendingList();
  const std::string entry = std::string("\\??\\") + path + std::string(1, '\0') + std::string(1, '\0');
  EXPECT_NE(after.find(entry), std::string::npos) << "pending list: " << after.size() << " bytes";
  // Put the list back, so a later start of this prefix deletes nothing.
  HKEY key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  if (before.empty()) {
    RegDeleteValueA(key, kPending);
  } else {
    RegSetValueExA(key, kPending, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(before.data()),
                   static_cast<DWORD>(before.size()));
  }
  RegCloseKey(key);
}

// ---- run only inside the Windows 98 copy (see termination_test.cpp) ----

class Win98OnlyRemoval : public testing::Test {
 protected:
  void SetUp() override {
    if (!getenv("SORVANE_WIN98_CHILD")) GTEST_SKIP() << "runs in the Windows 98 copy";
    ASSERT_EQ(GetPlatformKind(), PlatformWin9x) << "the copy does not run as Windows 98";
    char dir[MAX_PATH];
    ASSERT_GT(GetWindowsDirectoryA(dir, sizeof dir), 0u);
    ini_ = std::string(dir) + "\\wininit.ini";
    DeleteFileA(ini_.c_str());
    char temp[MAX_PATH];
    ASSERT_GT(GetTempPathA(sizeof temp, temp), 0u);
    CreateDirectoryA(temp, nullptr);
  }
  void TearDown() override {
    if (!ini_.empty()) DeleteFileA(ini_.c_str());
  }
  static std::string ShortPath(const std::string& path) {
    char out[MAX_PATH];
    DWORD n = GetShortPathNameA(path.c_str(), out, sizeof out);
    return n && n < sizeof out ? out : "";
  }
  std::string ini_;
};

TEST_F(Win98OnlyRemoval, WininitIniGetsARenameSectionWithShortPaths) {
  const std::string first = "C:\\sorvane-tests\\w98\\Long File Name.exe";
  const std::string second = "C:\\sorvane-tests\\w98\\another long one.exe";
  ASSERT_TRUE(WriteBytes(first, "x", 1));
  ASSERT_TRUE(WriteBytes(second, "x", 1));
  const std::string s1 = ShortPath(first), s2 = ShortPath(second);
  ASSERT_FALSE(s1.empty());
  ASSERT_NE(s1, first);
  EXPECT_EQ(ScheduleDeleteAtRestart(first.c_str()), 1);
  EXPECT_EQ(ReadText(ini_), "[rename]\r\nNUL=" + s1 + "\r\n");
  EXPECT_EQ(ScheduleDeleteAtRestart(second.c_str()), 1);
  EXPECT_EQ(ReadText(ini_), "[rename]\nNUL=" + s1 + "\nNUL=" + s2 + "\r\n");
}

TEST_F(Win98OnlyRemoval, TheEntryJoinsAnExistingSectionBeforeTheNextOne) {
  const std::string path = "C:\\sorvane-tests\\w98\\x.exe";
  ASSERT_TRUE(WriteBytes(path, "x", 1));
  const std::string old = "[boot]\r\na=1\r\n[rename]\r\nNUL=C:\\OLD.EXE\r\n[other]\r\nb=2\r\n";
  ASSERT_TRUE(WriteBytes(ini_, old.data(), old.size()));
  EXPECT_EQ(ScheduleDeleteAtRestart(path.c_str()), 1);
  EXPECT_EQ(ReadText(ini_), "[boot]\na=1\n[rename]\nNUL=C:\\OLD.EXE\nNUL=" + ShortPath(path) +
                                "\r\n[other]\nb=2\n");
}

}  // namespace
