// The emulated machine's Windows file rules, which every scanner test
// relies on: lookup ignoring case, search order and masks, attributes,
// delete and rename refusals, 32-bit seeks and injected faults.
#include <gtest/gtest.h>

#include <cerrno>

#include "tests/support/machine_fixture.h"

namespace {

class EmuFilesTest : public MachineTest {};

TEST_F(EmuFilesTest, PathsAreFoundIgnoringCaseWithEitherSeparator) {
  WriteFile("C:\\Dir\\Sub\\File.TXT", "hello");
  EXPECT_NE(GetFileAttributesA("c:\\dir\\SUB\\file.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(GetFileAttributesA("C:/DIR/sub/./../sub/FILE.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesA("C:\\dir\\nope\\file.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(GetFileAttributesA("C:\\dir\\sub\\nope.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(_access("C:\\DIR\\SUB\\FILE.TXT", 0), 0);
  EXPECT_EQ(_access("D:\\x", 0), -1);
}

TEST_F(EmuFilesTest, SearchListsDotsFirstExceptAtTheRootAndSortsIgnoringCase) {
  WriteFile("C:\\d\\b.txt");
  WriteFile("C:\\d\\A.txt");
  WriteFile("C:\\d\\c");
  MakeDir("C:\\d\\Sub");
  EXPECT_EQ(List("C:\\d\\*.*"), (std::vector<std::string>{".", "..", "A.txt", "b.txt", "c", "Sub"}));
  EXPECT_EQ(List("C:\\d\\*"), (std::vector<std::string>{".", "..", "A.txt", "b.txt", "c", "Sub"}));
  EXPECT_EQ(List("C:\\*.*"), (std::vector<std::string>{"d"}));
  EXPECT_EQ(List("C:\\d\\c.*"), (std::vector<std::string>{"c"}));  // ".*" also matches no extension
  EXPECT_EQ(List("C:\\d\\?.txt"), (std::vector<std::string>{"A.txt", "b.txt"}));
  EXPECT_EQ(List("C:\\d\\B.TXT"), (std::vector<std::string>{"b.txt"}));
  EXPECT_TRUE(List("C:\\d\\none.*").empty());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(emu::OpenSearches(), 0u);
}

TEST_F(EmuFilesTest, AttributesGovernDeletionAndWriting) {
  WriteFile("C:\\ro.exe");
  EXPECT_EQ(GetFileAttributesA("C:\\ro.exe"), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  ASSERT_TRUE(SetFileAttributesA("C:\\ro.exe", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(GetFileAttributesA("C:\\ro.exe"), static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  EXPECT_FALSE(DeleteFileA("C:\\ro.exe"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(_open("C:\\ro.exe", _O_RDWR | _O_BINARY), -1);
  EXPECT_EQ(errno, EACCES);
  int fd = _open("C:\\ro.exe", _O_RDONLY | _O_BINARY);
  EXPECT_GE(fd, 0);
  _close(fd);
  ASSERT_TRUE(SetFileAttributesA("C:\\ro.exe", FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetFileAttributesA("C:\\ro.exe"), static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(DeleteFileA("C:\\RO.EXE"));
  EXPECT_FALSE(Exists("C:\\ro.exe"));
  MakeDir("C:\\dir");
  EXPECT_FALSE(DeleteFileA("C:\\dir"));
  EXPECT_EQ(_open("C:\\dir", _O_RDONLY), -1);
}

TEST_F(EmuFilesTest, TheImageOfARunningProcessCanBeReadButNotDeletedOrWritten) {
  WriteFile("C:\\run\\app.exe", "MZ");
  DWORD id = emu::AddProcess("C:\\RUN\\APP.EXE");
  EXPECT_FALSE(DeleteFileA("C:\\run\\app.exe"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(_open("C:\\run\\app.exe", _O_RDWR | _O_BINARY), -1);
  int fd = _open("C:\\run\\app.exe", _O_RDONLY | _O_BINARY);
  EXPECT_GE(fd, 0);
  _close(fd);
  emu::RemoveProcess(id);
  EXPECT_TRUE(DeleteFileA("C:\\run\\app.exe"));
}

TEST_F(EmuFilesTest, RenameNeverReplacesAndCarriesAttributes) {
  WriteFile("C:\\a.exe", "A");
  WriteFile("C:\\b.exe", "B");
  SetFileAttributesA("C:\\a.exe", FILE_ATTRIBUTE_HIDDEN);
  EXPECT_FALSE(MoveFileA("C:\\a.exe", "C:\\b.exe"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_FALSE(MoveFileA("C:\\a.exe", "C:\\missing\\a.exe"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  ASSERT_TRUE(MoveFileA("C:\\a.exe", "C:\\a.Vxe"));
  EXPECT_EQ(ReadFile("C:\\a.Vxe"), "A");
  EXPECT_EQ(GetFileAttributesA("C:\\a.Vxe"), static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
}

TEST_F(EmuFilesTest, SeeksUseWindowsThirtyTwoBitOffsets) {
  WriteFile("C:\\f", std::string(100, 'z'));
  int fd = _open("C:\\f", _O_RDONLY | _O_BINARY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(_filelength(fd), 100);
  EXPECT_EQ(_lseek(fd, 0xFFFFFFF0L, SEEK_SET), -1);  // negative as a 32-bit long
  EXPECT_EQ(_lseek(fd, 0x7FFFFFFFL, SEEK_SET), 0x7FFFFFFFL);
  char buf[8];
  EXPECT_EQ(_read(fd, buf, sizeof buf), 0);
  EXPECT_EQ(_lseek(fd, -4, SEEK_END), 96);
  EXPECT_EQ(_read(fd, buf, sizeof buf), 4);
  EXPECT_EQ(emu::BytesRead(), 4);
  _close(fd);
  EXPECT_EQ(emu::OpenDescriptors(), 0u);
}

TEST_F(EmuFilesTest, FaultsFailOnceAlwaysOrAfterSkippedCalls) {
  WriteFile("C:\\x");
  emu::FailOperation("DeleteFileA", "c:\\X", ERROR_SHARING_VIOLATION, 1);
  EXPECT_FALSE(DeleteFileA("C:\\x"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_TRUE(Exists("C:\\x"));

  WriteFile("C:\\y", "12345678");
  emu::FailOperation("_read", "", ERROR_ACCESS_DENIED, -1, 2);
  int fd = _open("C:\\y", _O_RDONLY | _O_BINARY);
  char b[2];
  EXPECT_EQ(_read(fd, b, 2), 2);
  EXPECT_EQ(_read(fd, b, 2), 2);
  EXPECT_EQ(_read(fd, b, 2), -1);
  EXPECT_EQ(_read(fd, b, 2), -1);
  EXPECT_EQ(emu::CallCount("_read"), 4);
  _close(fd);
  EXPECT_TRUE(DeleteFileA("C:\\x"));
}

TEST_F(EmuFilesTest, DriveTypesAndTooLongPaths) {
  emu::MapDrive('E', NewHostDir(), DRIVE_CDROM);
  EXPECT_EQ(GetDriveTypeA("C:\\"), static_cast<UINT>(DRIVE_FIXED));
  EXPECT_EQ(GetDriveTypeA("e:\\"), static_cast<UINT>(DRIVE_CDROM));
  EXPECT_EQ(GetDriveTypeA("F:\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR));
  std::string longPath = "C:\\" + std::string(MAX_PATH, 'a');
  EXPECT_EQ(GetFileAttributesA(longPath.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
}

}  // namespace
