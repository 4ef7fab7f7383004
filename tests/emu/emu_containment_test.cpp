// The emulated file system acts only inside its drives: no call reaches a
// file through a link or another hard link, special files are never
// opened, read-only drives stay unwritten, and what the walk cannot
// examine is noted.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <algorithm>
#include <vector>

#include "tests/support/machine_fixture.h"

namespace {

namespace fs = std::filesystem;

class EmuContainmentTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    outside_ = NewHostDir();
    std::ofstream(outside_ + "/secret", std::ios::binary) << "outside";
    std::ofstream(outside_ + "/shared", std::ios::binary) << "shared";
    fs::create_directory_symlink(outside_, Root() + "/out");
    fs::create_symlink(outside_ + "/secret", Root() + "/link.exe");
    fs::create_hard_link(outside_ + "/shared", Root() + "/hard.exe");
    WriteFile("C:\\inside.txt", "inside");
    emu::OnFileNote([this](emu::FileNote kind, const std::string& path, const std::string& detail) {
      notes_.push_back(std::to_string(static_cast<int>(kind)) + " " + path + ": " + detail);
    });
  }

  // Every file outside, by name and content.
  std::string Outside() const {
    std::string all;
    for (const auto& e : fs::directory_iterator(outside_)) {
      std::ifstream in(e.path(), std::ios::binary);
      std::stringstream content;
      content << in.rdbuf();
      all += e.path().filename().string() + "=" + content.str() + ";";
    }
    return all;
  }

  std::string outside_;
  // Each note as "KIND PATH: DETAIL".
  bool Noted(const std::string& text) const {
    return std::find(notes_.begin(), notes_.end(), text) != notes_.end();
  }
  std::vector<std::string> notes_;
};

int OpenAndClose(const char* path, int flags) {
  int fd = _open(path, flags | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd >= 0) _close(fd);
  return fd >= 0 ? 0 : -1;
}

TEST_F(EmuContainmentTest, NoCallReachesThroughALinkOrAnotherHardLink) {
  const std::string before = Outside();
  char shortPath[MAX_PATH];
  WIN32_FIND_DATAA data;
  const struct {
    const char* what;
    std::function<bool()> refused;
  } cases[] = {
      {"read through a folder link", [] { return OpenAndClose("C:\\out\\secret", _O_RDONLY) < 0; }},
      {"read a file link", [] { return OpenAndClose("C:\\link.exe", _O_RDONLY) < 0; }},
      {"truncate a file link", [] { return OpenAndClose("C:\\link.exe", _O_WRONLY | _O_TRUNC) < 0; }},
      {"create through a folder link",
       [] { return OpenAndClose("C:\\out\\new.txt", _O_WRONLY | _O_CREAT) < 0; }},
      {"write a file with another name", [] { return OpenAndClose("C:\\hard.exe", _O_RDWR) < 0; }},
      {"delete through a folder link", [] { return !DeleteFileA("C:\\out\\secret"); }},
      {"rename out of a folder link", [] { return !MoveFileA("C:\\out\\secret", "C:\\got"); }},
      {"rename into a folder link", [] { return !MoveFileA("C:\\inside.txt", "C:\\out\\inside.txt"); }},
      {"copy over a file link", [] { return !CopyFileA("C:\\inside.txt", "C:\\link.exe", FALSE); }},
      {"copy over another name", [] { return !CopyFileA("C:\\inside.txt", "C:\\hard.exe", FALSE); }},
      {"copy from a file link", [] { return !CopyFileA("C:\\link.exe", "C:\\copy.exe", FALSE); }},
      {"attributes through a link",
       [] { return GetFileAttributesA("C:\\out\\secret") == INVALID_FILE_ATTRIBUTES; }},
      {"search through a link", [&] { return FindFirstFileA("C:\\out\\*", &data) == INVALID_HANDLE_VALUE; }},
      {"short name through a link",
       [&] { return GetShortPathNameA("C:\\out\\secret", shortPath, sizeof shortPath) == 0; }},
      {"access a link", [] { return _access("C:\\out", 0) != 0 && _access("C:\\link.exe", 0) != 0; }},
  };
  for (const auto& c : cases) EXPECT_TRUE(c.refused()) << c.what;
  EXPECT_EQ(Outside(), before);
  EXPECT_FALSE(Exists("C:\\copy.exe"));
  EXPECT_EQ(emu::OpenDescriptors(), 0u);
  EXPECT_EQ(emu::OpenSearches(), 0u);

  // A file with another name is still read.
  EXPECT_EQ(OpenAndClose("C:\\hard.exe", _O_RDONLY), 0);
}

TEST_F(EmuContainmentTest, LinksAreReparsePointsAndDeletingOneLeavesWhatItPointsTo) {
  const DWORD junction = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  EXPECT_EQ(GetFileAttributesA("C:\\out"), junction);
  EXPECT_EQ(GetFileAttributesA("C:\\link.exe"), junction);
  EXPECT_EQ(List("C:\\*"), (std::vector<std::string>{"hard.exe", "inside.txt", "link.exe", "out"}));
  EXPECT_EQ(emu::FileNoteCount(emu::FileNote::NotScanned), 2);

  const std::string before = Outside();
  EXPECT_TRUE(DeleteFileA("C:\\link.exe"));
  EXPECT_FALSE(fs::is_symlink(Root() + "/link.exe"));
  EXPECT_EQ(Outside(), before);
  EXPECT_EQ(emu::FileNoteCount(emu::FileNote::LinkRemoved), 1);
}

TEST_F(EmuContainmentTest, SpecialFilesAreLeftOutAndNeverOpened) {
  ASSERT_EQ(mkfifo((Root() + "/pipe.exe").c_str(), 0644), 0);
  EXPECT_EQ(List("C:\\p*"), std::vector<std::string>{});
  EXPECT_EQ(OpenAndClose("C:\\pipe.exe", _O_RDONLY), -1);  // would block for ever if opened
  EXPECT_EQ(errno, EACCES);
  EXPECT_TRUE(Noted("0 C:\\pipe.exe: not a regular file (FIFO)"));
}

// The walk holds a path in 260 bytes, a folder's with its "\\*.*".
TEST_F(EmuContainmentTest, PathsTheWalkCannotHoldAreNoted) {
  const std::string dir = "C:\\" + std::string(200, 'd');
  WriteFile(dir + "\\" + std::string(56, 'f'));  // 260 bytes
  WriteFile(dir + "\\" + std::string(55, 'f'));
  MakeDir(dir + "\\" + std::string(52, 's'));    // 256 bytes, 260 with "\\*.*"
  MakeDir(dir + "\\" + std::string(51, 's'));
  List((dir + "\\*.*").c_str());
  EXPECT_EQ(notes_, (std::vector<std::string>{"0 " + dir + "\\" + std::string(56, 'f') + ": path longer than 260 bytes",
                                             "0 " + dir + "\\" + std::string(52, 's') + ": path longer than 260 bytes"}));
}

TEST_F(EmuContainmentTest, ReadOnlyDrivesAreNotWrittenAndRemovalsAtRestartNotRecorded) {
  WriteFile("C:\\WINDOWS\\evil.exe", "evil");
  WriteFile("C:\\WINDOWS\\other.exe", "other");
  emu::SetDriveReadOnly('C');
  EXPECT_EQ(OpenAndClose("C:\\WINDOWS\\evil.exe", _O_RDWR), -1);
  EXPECT_EQ(OpenAndClose("C:\\WINDOWS\\new.txt", _O_WRONLY | _O_CREAT), -1);
  EXPECT_FALSE(DeleteFileA("C:\\WINDOWS\\evil.exe"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WRITE_PROTECT));
  EXPECT_FALSE(MoveFileA("C:\\WINDOWS\\evil.exe", "C:\\WINDOWS\\evil.exV"));
  EXPECT_FALSE(MoveFileExA("C:\\WINDOWS\\evil.exe", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  EXPECT_TRUE(emu::PendingRenames().empty());
  EXPECT_EQ(OpenAndClose("C:\\WINDOWS\\evil.exe", _O_RDONLY), 0);

  // The 9x route: the short name is asked, then wininit.ini is refused.
  char shortPath[MAX_PATH];
  ASSERT_GT(GetShortPathNameA("C:\\WINDOWS\\other.exe", shortPath, sizeof shortPath), 0u);
  EXPECT_EQ(OpenAndClose("C:\\WINDOWS\\wininit.ini", _O_WRONLY | _O_CREAT | _O_APPEND), -1);
  EXPECT_EQ(ReadFile("C:\\WINDOWS\\evil.exe"), "evil");
  EXPECT_FALSE(Exists("C:\\WINDOWS\\new.txt"));
  EXPECT_FALSE(Exists("C:\\WINDOWS\\wininit.ini"));
  EXPECT_EQ(notes_, (std::vector<std::string>{"2 C:\\WINDOWS\\evil.exe: drive is read-only",
                                             "2 C:\\WINDOWS\\other.exe: drive is read-only"}));
}

TEST_F(EmuContainmentTest, RenamedFoldersAreResolvedAnew) {
  WriteFile("C:\\dir\\a.txt", "a");
  ASSERT_NE(GetFileAttributesA("C:\\dir\\a.txt"), INVALID_FILE_ATTRIBUTES);
  ASSERT_TRUE(MoveFileA("C:\\dir", "C:\\moved"));
  EXPECT_EQ(GetFileAttributesA("C:\\dir\\a.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(ReadFile("C:\\moved\\a.txt"), "a");
  EXPECT_NE(GetFileAttributesA("C:\\MOVED\\A.TXT"), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
