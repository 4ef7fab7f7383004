// The worm registry sweep on the real registry: the offline test's seeded
// registry imported with the prefix's regedit, three detections swept, and
// the keys and values left compared with what the offline test expects.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cleanup/registry_cleanup.h"
#include "engine/shared_state.h"
#include "support/process_helpers.h"
#include "support/recording_window.h"

extern const unsigned char SeededRegistry[];
extern const size_t SeededRegistry_size;
extern const unsigned char SweepLines[];
extern const size_t SweepLines_size;

namespace {

const char kHkcuRun[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kRu1n[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Ru1n";
const char kParams[] = "Software\\Microsoft\\Params";

using Names = std::vector<std::string>;

Names Sorted(Names names, const Names& more) {
  names.insert(names.end(), more.begin(), more.end());
  std::sort(names.begin(), names.end());
  return names;
}

Names Lines(const unsigned char* bytes, size_t size) {
  Names lines;
  std::string text(reinterpret_cast<const char*>(bytes), size), line;
  for (char c : text) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else if (c != '\r') {
      line += c;
    }
  }
  return lines;
}

class RegistrySweep : public testing::Test {
 protected:
  void SetUp() override {
    ResetSharedState();
    MainWindow = window.Handle();
  }
  void TearDown() override {
    DrainMessages();
    // What the seed left behind goes, so other tests meet the prefix's own registry.
    for (const char* name : {"ctfmon.exe", "erthgdr", "old", "near", "Count"}) {
      DeleteValue(HKEY_CURRENT_USER, kHkcuRun, name);
    }
    DeleteValue(HKEY_LOCAL_MACHINE, kHkcuRun, "rate.exe");
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
      RegDeleteKeyA(root, kRu1n);
      RegDeleteKeyA(root, "Software\\Tarvel\\Kelvora 2000");
      RegDeleteKeyA(root, "Software\\Tarvel");
    }
    DeleteValue(HKEY_CURRENT_USER, kParams, "Other");
    RegDeleteKeyA(HKEY_CURRENT_USER, kParams);
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\DateTime4");
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\DateTime5");
  }
  static void DeleteValue(HKEY root, const char* key, const char* name) {
    HKEY k;
    if (RegOpenKeyExA(root, key, 0, KEY_ALL_ACCESS, &k) != ERROR_SUCCESS) return;
    RegDeleteValueA(k, name);
    RegCloseKey(k);
  }
  RecordingWindow window;
};

TEST_F(RegistrySweep, SeededWormEntriesGoAndEverythingElseStays) {
  const Names hkcuBefore = ValueNames(HKEY_CURRENT_USER, kHkcuRun);
  const Names hklmBefore = ValueNames(HKEY_LOCAL_MACHINE, kHkcuRun);
  const std::string seed = "C:\\sorvane-tests\\seeded.reg";
  ASSERT_TRUE(WriteBytes(seed, SeededRegistry, SeededRegistry_size));
  ASSERT_EQ(RunAndWait("regedit.exe /s " + seed), 0);
  const Names seeded = ValueNames(HKEY_CURRENT_USER, kHkcuRun);
  ASSERT_NE(std::find(seeded.begin(), seeded.end(), "au.exe"), seeded.end())
      << "regedit did not import the seed";

  for (const char* file : {"C:\\Temp\\Evil Two.exe", "C:\\WINDOWS\\system32\\evil1.exe",
                           "C:\\WINDOWS\\x.exe"}) {
    snprintf(CurrentScanFile, sizeof CurrentScanFile, "%s", file);
    EXPECT_EQ(CleanWormRegistry(), 1);
  }
  EXPECT_EQ(window.lines, Lines(SweepLines, SweepLines_size));

  EXPECT_EQ(ValueNames(HKEY_CURRENT_USER, kHkcuRun),
            Sorted(hkcuBefore, {"ctfmon.exe", "erthgdr", "old", "near", "Count"}));
  EXPECT_EQ(ValueNames(HKEY_LOCAL_MACHINE, kHkcuRun), Sorted(hklmBefore, {"rate.exe"}));
  EXPECT_EQ(ValueNames(HKEY_CURRENT_USER, kParams), Names{"Other"});
  EXPECT_TRUE(ValueNames(HKEY_CURRENT_USER, kRu1n).empty());
  EXPECT_TRUE(ValueNames(HKEY_LOCAL_MACHINE, kRu1n).empty());
  for (const char* gone : {"DateTime2", "DateTime3", "winword", "Windows2004", "Windows2005"}) {
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, (std::string("Software\\") + gone).c_str())) << gone;
  }
  for (const char* kept : {"Software\\DateTime4", "Software\\DateTime5", "Software\\Tarvel\\Kelvora 2000"}) {
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kept)) << kept;
  }
  EXPECT_EQ(ValueNames(HKEY_LOCAL_MACHINE, "Software\\Tarvel\\Kelvora 2000"), Names{"Installed Folder"});
}

TEST_F(RegistrySweep, AMarkerKeyWithASubkeyIsRefusedAndTheSweepGoesOn) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\DateTime4\\Sub", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kHkcuRun, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  const char data[] = "C:\\WINDOWS\\System32\\I1RU74N4.EXE";
  RegSetValueExA(key, "rate.exe", 0, REG_SZ, reinterpret_cast<const BYTE*>(data), sizeof data);
  RegCloseKey(key);
  CleanWormRegistry();
  EXPECT_EQ(window.lines, Names{"System Registry     W32/Bagle.E.Worm removed"});
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software\\DateTime4"));
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\DateTime4\\Sub");
}

}  // namespace
