// What the emulated machine keeps between calls to spare host calls (the
// descriptor's position and blocks, a closed descriptor kept for the next
// scanner, a directory's listing for the walk's second pass) must never
// show a file other than it is now.
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/machine_fixture.h"

namespace {

class EmuFileCacheTest : public MachineTest {};

std::string Pattern(size_t n) {
  std::string s(n, 0);
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i % 251);
  return s;
}

std::string ReadAt(int fd, long offset, unsigned count) {
  if (_lseek(fd, offset, SEEK_SET) != offset) return "<seek failed>";
  std::string out(count, 0);
  int n = _read(fd, &out[0], count);
  out.resize(n > 0 ? size_t(n) : 0);
  return out;
}

TEST_F(EmuFileCacheTest, ReadsAtAnyOffsetGiveTheFilesBytes) {
  const std::string content = Pattern(10000);
  WriteFile("C:\\f.bin", content);
  int fd = _open("C:\\f.bin", _O_RDONLY | _O_BINARY);
  ASSERT_GE(fd, 0);
  const struct {
    long offset;
    unsigned count;
  } reads[] = {{0, 2},    {60, 4},      {4090, 20},  {8190, 4096}, {9900, 100}, {9990, 100},
               {5904, 4096}, {10000, 5}, {20000, 8}, {0, 10000},   {1, 4096},   {4096, 4096}};
  for (const auto& r : reads) {
    SCOPED_TRACE(std::to_string(r.offset) + "+" + std::to_string(r.count));
    std::string expected = r.offset < 10000 ? content.substr(size_t(r.offset), r.count) : "";
    EXPECT_EQ(ReadAt(fd, r.offset, r.count), expected);
    EXPECT_EQ(_lseek(fd, 0, SEEK_CUR), r.offset + long(expected.size()));
  }
  EXPECT_EQ(_filelength(fd), 10000);
  _close(fd);
  // The scanners' orders at the end of files of other lengths: a block then
  // the one after it, a read across two blocks of which one is held, the
  // last bytes alone, the last 4 KiB.
  for (size_t length : {4097u, 8192u, 8193u, 12300u}) {
    const std::string other = Pattern(length);
    WriteFile("C:\\g.bin", other);
    fd = _open("C:\\g.bin", _O_RDONLY | _O_BINARY);
    ASSERT_GE(fd, 0);
    const long end = long(length);
    for (long offset : {end - 5000, end - 4100, end - 3, end - 4096, 0L, 4000L, end - 4096}) {
      if (offset < 0) continue;
      SCOPED_TRACE(std::to_string(length) + " at " + std::to_string(offset));
      EXPECT_EQ(ReadAt(fd, offset, 4096), other.substr(size_t(offset), 4096));
    }
    _close(fd);
  }
}

TEST_F(EmuFileCacheTest, ChangesThroughTheEmulationReachOpenAndLaterDescriptors) {
  WriteFile("C:\\f.bin", Pattern(9000));
  int reader = _open("C:\\f.bin", _O_RDONLY | _O_BINARY);
  ASSERT_GE(reader, 0);
  EXPECT_EQ(ReadAt(reader, 8990, 10), Pattern(9000).substr(8990));
  int writer = _open("C:\\f.bin", _O_RDWR | _O_BINARY);
  ASSERT_GE(writer, 0);
  ASSERT_EQ(_lseek(writer, 8990, SEEK_SET), 8990);
  ASSERT_EQ(_write(writer, "ABCDEFGHIJ", 10), 10);
  EXPECT_EQ(ReadAt(reader, 8990, 10), "ABCDEFGHIJ");
  ASSERT_EQ(_chsize(writer, 8995), 0);
  EXPECT_EQ(_filelength(reader), 8995);
  EXPECT_EQ(_lseek(reader, -3, SEEK_END), 8992);
  EXPECT_EQ(ReadAt(reader, 8990, 10), "ABCDE");
  _close(writer);
  _close(reader);

  // Deleted and written anew between two opens of the same entry.
  int fd = _open("C:\\f.bin", _O_RDONLY | _O_BINARY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(ReadAt(fd, 0, 3), Pattern(3));
  _close(fd);
  ASSERT_TRUE(DeleteFileA("C:\\f.bin"));
  fd = _open("C:\\f.bin", _O_WRONLY | _O_CREAT | _O_BINARY, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(_write(fd, "new", 3), 3);
  _close(fd);
  fd = _open("C:\\f.bin", _O_RDONLY | _O_BINARY);
  EXPECT_EQ(ReadAt(fd, 0, 10), "new");
  _close(fd);
  EXPECT_EQ(emu::OpenDescriptors(), 0u);
}

TEST_F(EmuFileCacheTest, AFileReplacedOnTheHostIsReadAnew) {
  WriteFile("C:\\d\\f.txt", "first version");
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA("C:\\d\\f.txt", &data);  // the walk's view of one entry
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  int fd = _open("C:\\d\\f.txt", _O_RDONLY | _O_BINARY);
  EXPECT_EQ(ReadAt(fd, 0, 64), "first version");
  _close(fd);
  WriteFile("C:\\d\\f.txt", "second");  // behind the emulation's back
  fd = _open("C:\\d\\f.txt", _O_RDONLY | _O_BINARY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(ReadAt(fd, 0, 64), "second");
  EXPECT_EQ(_filelength(fd), 6);
  _close(fd);
  FindClose(h);
  WriteFile("C:\\d\\f.txt", "third one");
  EXPECT_EQ(List("C:\\d\\f.txt").size(), 1u);
  fd = _open("C:\\d\\f.txt", _O_RDONLY | _O_BINARY);
  EXPECT_EQ(ReadAt(fd, 0, 64), "third one");
  _close(fd);
}

// Descriptors of this process that still hold a deleted file.
int DeletedFilesHeldOpen() {
  int held = 0;
  DIR* d = opendir("/proc/self/fd");
  if (!d) return -1;
  while (dirent* e = readdir(d)) {
    char target[4096];
    const std::string link = std::string("/proc/self/fd/") + e->d_name;
    ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0) continue;
    target[n] = 0;
    if (std::string(target).find(" (deleted)") != std::string::npos) ++held;
  }
  closedir(d);
  return held;
}

TEST_F(EmuFileCacheTest, NothingHoldsAFileTheScanDeletesOrRenames) {
  // The descriptor kept for the next scanner must not outlive the file's
  // name: on a FUSE volume an open deleted file stays as a hidden file.
  for (const bool rename : {false, true}) {
    SCOPED_TRACE(rename ? "renamed" : "deleted");
    WriteFile("C:\\d\\f.exe", "content");
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA("C:\\d\\f.exe", &data);  // the walk at this entry
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    int fd = _open("C:\\d\\f.exe", _O_RDONLY | _O_BINARY);
    ASSERT_GE(fd, 0);
    _close(fd);
    const int before = DeletedFilesHeldOpen();
    if (rename) {
      ASSERT_TRUE(MoveFileA("C:\\d\\f.exe", "C:\\d\\f.vxe"));
      ASSERT_TRUE(DeleteFileA("C:\\d\\f.vxe"));
    } else {
      ASSERT_TRUE(DeleteFileA("C:\\d\\f.exe"));
    }
    EXPECT_EQ(DeletedFilesHeldOpen(), before);
    FindClose(h);
  }
}

TEST_F(EmuFileCacheTest, ASecondListingOfAnOldDirectorySeesEveryChange) {
  WriteFile("C:\\d\\a.txt");
  WriteFile("C:\\d\\b.txt");
  MakeDir("C:\\d\\Sub");
  sleep(2);  // only a directory unchanged for a while has its listing kept
  const std::vector<std::string> all = {".", "..", "a.txt", "b.txt", "Sub"};
  EXPECT_EQ(List("C:\\d\\*.*"), all);
  EXPECT_EQ(List("C:\\d\\*"), all);  // from the kept listing
  EXPECT_EQ(List("C:\\d\\*.*"), all);
  ASSERT_TRUE(DeleteFileA("C:\\d\\a.txt"));
  EXPECT_EQ(List("C:\\d\\*"), (std::vector<std::string>{".", "..", "b.txt", "Sub"}));
  sleep(2);
  EXPECT_EQ(List("C:\\d\\*.*"), (std::vector<std::string>{".", "..", "b.txt", "Sub"}));
  WriteFile("C:\\d\\c.txt");  // on the host: the directory's times move
  EXPECT_EQ(List("C:\\d\\*"), (std::vector<std::string>{".", "..", "b.txt", "c.txt", "Sub"}));
  EXPECT_EQ(List("C:\\d\\*.txt"), (std::vector<std::string>{"b.txt", "c.txt"}));
  EXPECT_EQ(emu::OpenSearches(), 0u);
}

}  // namespace
