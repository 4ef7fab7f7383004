// .reg files through the emulated registry without loss: every value type,
// names outside the ANSI code page, odd-length hex, each encoding of a
// version 5.00 file and REGEDIT4 read and written back to the same bytes;
// the ANSI view of such names; removals written as a .reg file; depth.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/emu/machine.h"
#include "platform/emu/text_codec.h"
#include "platform/system.h"

namespace {

std::string Utf16File(const std::string& utf8) {
  std::u16string text;
  EXPECT_TRUE(emu::DecodeUtf8(utf8, &text));
  return "\xFF\xFE" + emu::Utf16Bytes(text);
}

class EmuRegFileTest : public ::testing::Test {
 protected:
  void SetUp() override { emu::ResetMachine(); }
  void TearDown() override { emu::ResetMachine(); }
  static void Load(const std::string& bytes) {
    std::string error;
    ASSERT_TRUE(emu::LoadRegistryText(bytes, &error)) << error;
  }
};

// Saved in canonical form (keys in name order, values in file order, hex
// lower case and wrapped at 80 columns), so a load and save gives it back.
const char* const Version5Text =
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Дом]\r\n"
    "\"имя\"=\"один\"\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\Кот]\r\n"
    "\"имя\"=\"два\"\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\日本語]\r\n"
    "\"名前\"=\"値 \\\"quoted\\\" \\\\ back\"\r\n"
    "@=\"\"\r\n"
    "\"expand\"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,5c,00,e5,65,2c,67,00,00\r\n"
    "\"multi\"=hex(7):61,00,00,00,3d,04,00,00,00,00\r\n"
    "\"odd expand\"=hex(2):61,00,62\r\n"
    "\"odd binary\"=hex:01,02,03\r\n"
    "\"dword\"=dword:deadbeef\r\n"
    "\"qword\"=hex(b):01,02,03,04,05,06,07,08\r\n"
    "\"none\"=hex(0):\r\n"
    "\"none with data\"=hex(0):ff\r\n"
    "\"unknown\"=hex(123):00,01\r\n"
    "\"sz as hex\"=hex(1):61,00,0a,00,62,00,00,00\r\n"
    "\"long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\r\n"
    "  16,17,18,19,1a\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Vendor]\r\n"
    "\"a\"=\"b\"\r\n"
    "\r\n";

TEST_F(EmuRegFileTest, FilesReadAndWrittenBackAreTheSameBytes) {
  const std::string v5(Version5Text);
  const struct {
    const char* what;
    std::string file;
    emu::RegFormat format;
  } cases[] = {
      {"UTF-16LE with a BOM", Utf16File(v5), emu::RegFormat::Regedit5},
      {"UTF-8 without a BOM", v5, emu::RegFormat::Regedit5Utf8},
      {"UTF-8 with a BOM", "\xEF\xBB\xBF" + v5, emu::RegFormat::Regedit5Utf8Bom},
      {"REGEDIT4 in Windows-1252",
       "REGEDIT4\r\n\r\n"
       "[HKEY_CURRENT_USER\\Software\\Caf\xe9 \x80]\r\n"
       "\"na\xefve\"=\"\x93quoted\x94\"\r\n"
       "\"expand\"=hex(2):25,54,25,5c,e9,80,00\r\n"
       "\"odd multi\"=hex(7):61,00,62\r\n"
       "\"undefined bytes\"=\"\x81\x8d\x8f\x90\x9d\"\r\n"
       "\r\n",
       emu::RegFormat::Regedit4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    emu::ResetMachine();
    Load(c.file);
    EXPECT_EQ(emu::LoadedRegistryFormat(), c.format);
    EXPECT_EQ(emu::RegistryText(c.format), c.file);
  }
}

// The ANSI calls see what the code page can show and "?" for the rest;
// distinct names stay distinct keys, and case is ignored beyond ASCII.
TEST_F(EmuRegFileTest, AnsiCallsSeeQuestionMarksButNamesNeverMerge) {
  Load(Utf16File(Version5Text));
  Load(
      Utf16File("Windows Registry Editor Version 5.00\r\n\r\n"
                "[HKEY_CURRENT_USER\\Software\\ДОМ]\r\n\"новое\"=dword:00000001\r\n"
                "[HKEY_CURRENT_USER\\Plain]\r\n\"v\"=\"Жук €\"\r\n"));
  HKEY software;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &software), ERROR_SUCCESS);
  std::vector<std::string> names;
  char name[64];
  for (DWORD i = 0;; ++i) {
    DWORD size = sizeof name;
    if (RegEnumKeyExA(software, i, name, &size, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    names.push_back(name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"???", "???", "???"}));
  HKEY key;
  EXPECT_EQ(RegOpenKeyExA(software, "???", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  RegCloseKey(software);
  std::string data;
  ASSERT_TRUE(emu::GetRegistryValue("HKCU\\Plain", "v", nullptr, &data));
  EXPECT_EQ(data, std::string("??? \x80\0", 6));
  // "ДОМ" is the key "Дом": its value joins the two already there.
  std::string saved = emu::RegistryText(emu::RegFormat::Regedit5Utf8);
  EXPECT_NE(saved.find("[HKEY_CURRENT_USER\\Software\\Дом]\r\n\"имя\"=\"один\"\r\n"
                       "\"новое\"=dword:00000001\r\n"),
            std::string::npos)
      << saved;
}

TEST_F(EmuRegFileTest, RemovalsAreWrittenAsDeletionsInTheLoadedFormat) {
  Load(Utf16File(Version5Text));
  emu::MarkRegistryBaseline();
  // A key the ANSI calls cannot name, removed whole.
  Load(
      Utf16File("Windows Registry Editor Version 5.00\r\n[-HKEY_CURRENT_USER\\Software\\Кот]\r\n"));
  HKEY key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor", 0, KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(key, "a"), ERROR_SUCCESS);
  RegCloseKey(key);
  ASSERT_TRUE(MoveFileExA("C:\\x.exe", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));  // an addition
  EXPECT_EQ(emu::RegistryChangesText(emu::RegFormat::Regedit5),
            Utf16File("Windows Registry Editor Version 5.00\r\n\r\n"
                      "[-HKEY_CURRENT_USER\\Software\\Кот]\r\n\r\n"
                      "[HKEY_LOCAL_MACHINE\\Software\\Vendor]\r\n\"a\"=-\r\n\r\n"));
}

// Keys far deeper than any stack would allow recursion for load, save,
// compare and free.
TEST_F(EmuRegFileTest, DeepNestingLoadsSavesAndFrees) {
  const int depth = 50000;
  std::string path = "HKEY_CURRENT_USER";
  for (int i = 0; i < depth; ++i) path += "\\k";
  const std::string file = "REGEDIT4\r\n\r\n[" + path + "]\r\n\"v\"=\"x\"\r\n\r\n";
  Load(file);
  emu::MarkRegistryBaseline();
  EXPECT_EQ(emu::RegistryText(emu::RegFormat::Regedit4), file);
  emu::DeleteRegistryTree("HKCU\\k");
  EXPECT_EQ(emu::RegistryChangesText(emu::RegFormat::Regedit4),
            "REGEDIT4\r\n\r\n[-HKEY_CURRENT_USER\\k]\r\n\r\n");
}

}  // namespace
