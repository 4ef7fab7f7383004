// The emulated registry: Windows' size and error rules, access per key,
// key deletion per family, and .reg files in both formats read and written
// back unchanged.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/emu/machine.h"
#include "platform/system.h"

namespace {

class EmuRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { emu::ResetMachine(); }
  void TearDown() override {
    EXPECT_EQ(emu::OpenRegistryHandles(), 0);
    emu::ResetMachine();
  }
  static std::string Load(const std::string& text) {
    std::string error;
    EXPECT_TRUE(emu::LoadRegistryText(text, &error)) << error;
    return error;
  }
};

TEST_F(EmuRegistryTest, QueriesFollowWindowsSizeRules) {
  emu::SetRegistryString("HKCU\\Software\\A", "v", "hello");
  HKEY key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "software\\a", 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD type = 0, size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "V", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(type, DWORD(REG_SZ));
  char small[3] = {'#', '#', '#'};
  size = 2;
  EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, nullptr, reinterpret_cast<BYTE*>(small), &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(small[0], '#');
  EXPECT_EQ(RegQueryValueExA(key, "none", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\B", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

TEST_F(EmuRegistryTest, EnumerationKeepsCreationOrderAndRefusesShortNameBuffers) {
  emu::SetRegistryString("HKLM\\K", "zeta", "1");
  emu::SetRegistryString("HKLM\\K", "Alpha", "2");
  HKEY key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K", 0, KEY_READ, &key), ERROR_SUCCESS);
  char name[8];
  DWORD size = sizeof name;
  EXPECT_EQ(RegEnumValueA(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_STREQ(name, "zeta");
  EXPECT_EQ(size, 4u);
  size = 5;  // "Alpha" needs six with its terminator
  EXPECT_EQ(RegEnumValueA(key, 1, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  size = sizeof name;
  EXPECT_EQ(RegEnumValueA(key, 2, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
  DWORD values = 0;
  EXPECT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                             nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(values, 2u);
  RegCloseKey(key);
}

TEST_F(EmuRegistryTest, AccessIsLimitedPerKeyAndInherited) {
  emu::SetRegistryString("HKLM\\Software\\Run", "v", "x");
  emu::SetKeyAccess("HKLM\\Software", emu::KeyAccess::ReadOnly);
  emu::SetKeyAccess("HKLM\\Software\\Hidden", emu::KeyAccess::None);
  emu::CreateRegistryKey("HKLM\\Software\\Hidden");
  HKEY key;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Run", 0, KEY_ALL_ACCESS, &key), ERROR_ACCESS_DENIED);
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Run", 0, KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(key, "v"), ERROR_ACCESS_DENIED);  // opened without KEY_SET_VALUE
  RegCloseKey(key);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Hidden", 0, KEY_READ, &key), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Run"), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(emu::RegistryKeyExists("HKLM\\Software\\Other"));  // setting access creates nothing
}

TEST_F(EmuRegistryTest, KeysWithSubkeysSurviveDeletionOnNtOnly) {
  emu::CreateRegistryKey("HKCU\\Software\\T\\Sub");
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\T"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\T\\Sub"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\T"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\T"), ERROR_FILE_NOT_FOUND);
  emu::SetPlatform(emu::Platform::Win98);
  emu::CreateRegistryKey("HKCU\\Software\\T\\Sub\\Deeper");
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\T"), ERROR_SUCCESS);
  EXPECT_FALSE(emu::RegistryKeyExists("HKCU\\Software\\T\\Sub"));
}

TEST_F(EmuRegistryTest, AHandleToADeletedKeyReportsIt) {
  emu::CreateRegistryKey("HKCU\\Gone");
  HKEY key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Gone", 0, KEY_READ, &key), ERROR_SUCCESS);
  emu::DeleteRegistryTree("HKCU\\Gone");
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
  RegCloseKey(key);
}

// Handles to a deleted key and to a key below it, whichever way the tree
// went, answer ERROR_KEY_DELETED and close, also after the keys between them
// are freed (the ASan build checks that no freed key is read).
TEST_F(EmuRegistryTest, HandlesInsideADeletedTreeReportItAndClose) {
  struct Route {
    const char* name;
    void (*remove)();
  };
  const Route routes[] = {
      {"RegDeleteKeyA on 9x", [] {
         emu::SetPlatform(emu::Platform::Win98);
         EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "T"), ERROR_SUCCESS);
       }},
      {"RegDeleteKeyA leaf by leaf", [] {
         for (const char* k : {"T\\Sub\\Deeper", "T\\Sub", "T"})
           EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, k), ERROR_SUCCESS);
       }},
      {"control API", [] { emu::DeleteRegistryTree("HKCU\\T"); }},
      {".reg file", [] { Load("REGEDIT4\r\n\r\n[-HKEY_CURRENT_USER\\T]\r\n"); }},
  };
  for (const auto& route : routes) {
    SCOPED_TRACE(route.name);
    emu::ResetMachine();
    emu::SetRegistryString("HKCU\\T\\Sub\\Deeper", "v", "x");
    // Nothing holds T\\Sub: once T's handle is closed, only Deeper's remains.
    HKEY keys[2];
    const char* paths[] = {"T", "T\\Sub\\Deeper"};
    for (int i = 0; i < 2; ++i)
      ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, paths[i], 0, KEY_ALL_ACCESS, &keys[i]), ERROR_SUCCESS);
    route.remove();
    EXPECT_FALSE(emu::RegistryKeyExists("HKCU\\T"));
    for (HKEY key : keys) {
      char name[16];
      DWORD size = sizeof name, infoValues = 0;
      HKEY sub;
      EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
      EXPECT_EQ(RegEnumValueA(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
      EXPECT_EQ(RegEnumKeyExA(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
      EXPECT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &infoValues,
                                 nullptr, nullptr, nullptr, nullptr),
                ERROR_KEY_DELETED);
      EXPECT_EQ(RegSetValueExA(key, "w", 0, REG_SZ, reinterpret_cast<const BYTE*>("y"), 2), ERROR_KEY_DELETED);
      EXPECT_EQ(RegDeleteValueA(key, "v"), ERROR_KEY_DELETED);
      EXPECT_EQ(RegOpenKeyExA(key, "", 0, KEY_READ, &sub), ERROR_KEY_DELETED);
      EXPECT_EQ(RegCreateKeyExA(key, "New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr),
                ERROR_KEY_DELETED);
      EXPECT_EQ(RegDeleteKeyA(key, "Sub"), ERROR_KEY_DELETED);
      EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    }
    EXPECT_FALSE(emu::RegistryKeyExists("HKCU\\T"));
  }
}

TEST_F(EmuRegistryTest, FaultsAreKeyedByKeyPathOrValuePath) {
  emu::SetRegistryString("HKCU\\K", "a", "1");
  emu::SetRegistryString("HKCU\\K", "b", "2");
  emu::FailOperation("RegQueryValueExA", "hkcu\\k\\b", ERROR_ACCESS_DENIED);
  emu::FailOperation("RegOpenKeyExA", "HKCU\\Locked", ERROR_ACCESS_DENIED);
  emu::CreateRegistryKey("HKCU\\Locked");
  HKEY key;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Locked", 0, KEY_READ, &key), ERROR_ACCESS_DENIED);
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "K", 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "a", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExA(key, "b", nullptr, nullptr, nullptr, &size), ERROR_ACCESS_DENIED);
  RegCloseKey(key);
}

// A file in the form this registry writes reads back to the same bytes
// (keys in name order; HKLM\SOFTWARE keeps the spelling the machine has).
TEST_F(EmuRegistryTest, Regedit4FilesRoundTrip) {
  const std::string file =
      "REGEDIT4\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\Empty]\r\n"
      "\r\n"
      "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]\r\n"
      "\"a \\\"quoted\\\" name\"=\"C:\\\\WINDOWS\\\\a.exe /x\"\r\n"
      "@=\"default\"\r\n"
      "\"count\"=dword:0000002a\r\n"
      "\"expand\"=hex(2):25,53,79,73,74,65,6d,52,6f,6f,74,25,5c,61,2e,65,78,65,00\r\n"
      "\"multi\"=hex(7):61,00,62,00,00\r\n"
      "\"raw\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\\r\n"
      "  17,18,19,1a,1b,1c,1d,1e,1f\r\n"
      "\"unterminated\"=hex(1):61,62\r\n"
      "\"none\"=hex(0):\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\X]\r\n"
      "\"q\"=hex(b):01,00,00,00,00,00,00,00\r\n"
      "\r\n";
  Load(file);
  EXPECT_EQ(emu::RegistryText(emu::RegFormat::Regedit4), file);
  DWORD type;
  std::string data;
  ASSERT_TRUE(emu::GetRegistryValue("HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                                    "a \"quoted\" name", &type, &data));
  EXPECT_EQ(data, std::string("C:\\WINDOWS\\a.exe /x\0", 20));
  ASSERT_TRUE(emu::GetRegistryValue("HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                                    "count", &type, &data));
  EXPECT_EQ(type, DWORD(REG_DWORD));
  EXPECT_EQ(data, std::string("\x2a\0\0\0", 4));
  EXPECT_EQ(emu::LoadedRegistryFormat(), emu::RegFormat::Regedit4);
}

TEST_F(EmuRegistryTest, Version5FilesAreUtf16WithWideStringData) {
  const std::string text =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\W]\r\n"
      "\"s\"=\"caf\xe9\"\r\n"
      "\"e\"=hex(2):25,00,54,00,25,00,00,00\r\n"
      "\r\n";
  std::string file = "\xFF\xFE";
  for (char c : text) {
    file += c;
    file += '\0';
  }
  Load(file);
  std::string data;
  ASSERT_TRUE(emu::GetRegistryValue("HKCU\\Software\\W", "e", nullptr, &data));
  EXPECT_EQ(data, std::string("%T%\0", 4));
  ASSERT_TRUE(emu::GetRegistryValue("HKCU\\Software\\W", "s", nullptr, &data));
  EXPECT_EQ(data, std::string("caf\xe9\0", 5));
  EXPECT_EQ(emu::LoadedRegistryFormat(), emu::RegFormat::Regedit5);
  EXPECT_EQ(emu::RegistryText(emu::RegFormat::Regedit5), file);
}

TEST_F(EmuRegistryTest, FilesDeleteKeysAndValuesAndMergeWithWhatIsThere) {
  emu::SetRegistryString("HKCU\\A", "keep", "1");
  emu::SetRegistryString("HKCU\\A", "drop", "2");
  emu::CreateRegistryKey("HKCU\\B\\C");
  Load("REGEDIT4\n\n; a comment\n[HKEY_CURRENT_USER\\A]\n\"drop\"=-\n\"new\"=\"3\"\n"
       "[-HKEY_CURRENT_USER\\B]\n\"ignored\"=\"x\"\n");
  EXPECT_EQ(emu::RegistryValueNames("HKCU\\A"), (std::vector<std::string>{"keep", "new"}));
  EXPECT_FALSE(emu::RegistryKeyExists("HKCU\\B"));
}

TEST_F(EmuRegistryTest, MalformedFilesAreRefusedWithTheirLine) {
  const struct {
    std::string text;
    const char* error;
  } cases[] = {
      {"not a registry file\n", "line 1"},
      {"REGEDIT4\n\"v\"=\"outside\"\n", "line 2"},
      {"REGEDIT4\n[HKEY_NOWHERE\\X]\n", "line 2"},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\X]\n\"v\"=dword:123456789\n", "line 3"},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\X]\n\"v\"=hex:0g\n", "line 3"},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\X]\n\"v\"=hex:01,\\\n", "line 3"},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\X]\n\"v=\"x\"\n", "line 3"},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\X\n", "line 2"},
      {"REGEDIT4\n\n[HKEY_CURRENT_USER\\X]\n\"v\"=hex(fffffffffffffffffff):00\n", "line 4"},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\X]\n\"v\"=hex(1ffffffff):00\n", "line 3"},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\X]\n\"v\"=dword:\n", "line 3"},
      {"Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\X]\n\"\xff\"=\"\"\n", "line 3"},
      {"\xEF\xBB\xBFREGEDIT4\n", "line 1"},
      {std::string("\xFF\xFER\0E\0G\0E\0D\0I\0T\0" "4\0", 18), "line 1"},
      {std::string("\xFF\xFEW\0\n\0x", 7), "line 2"},
      {"\xFE\xFF\0W", "line 1"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(emu::LoadRegistryText(c.text, &error)) << c.text;
    EXPECT_EQ(error.compare(0, strlen(c.error), c.error), 0) << c.text << " -> " << error;
  }
}

TEST_F(EmuRegistryTest, MachineProvidedKeysAreNotSavedUntilTheyHoldValues) {
  EXPECT_EQ(emu::RegistryText(emu::RegFormat::Regedit4), "REGEDIT4\r\n\r\n");
  EXPECT_TRUE(emu::RegistryValueExists(
      "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\009", "Counters"));
  ASSERT_TRUE(MoveFileExA("C:\\x.exe", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  EXPECT_EQ(emu::RegistryText(emu::RegFormat::Regedit4),
            "REGEDIT4\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager]\r\n"
            "\"PendingFileRenameOperations\"=hex(7):5c,3f,3f,5c,43,3a,5c,78,2e,65,78,65,00,00,\\\r\n"
            "  00\r\n\r\n");
}

}  // namespace
