// The read-ahead pool hands the walk only what the walk itself would get:
// each entry's status as lstat shows it, descriptors of regular files only
// (never through a link, never of a FIFO), and nothing once the emulation
// has changed a host file since the listing.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/emu/fs.h"
#include "platform/host/read_ahead.h"
#include "tests/support/machine_fixture.h"

namespace {

class EmuReadAheadTest : public MachineTest {
 protected:
  // Starts the pool on `names` of C:\d (or another folder of C:).
  uint64_t List(const std::vector<std::string>& names, const std::string& dir = "d") {
    int fd = open((Root() + "/" + dir).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    EXPECT_GE(fd, 0);
    uint64_t id = host::ReadAheadListing(fd, Root() + "/" + dir, names, emu::HostGeneration());
    close(fd);
    return id;
  }
  void HandOverCases(const std::string& dir);
  // Lets the pool read 80 files in memory: it then works as over a warm tree.
  void WarmUp() {
    std::vector<std::string> cached;
    for (int i = 0; i < 80; ++i) {
      cached.push_back("c" + std::to_string(i) + ".txt");
      WriteFile("C:\\d\\" + cached.back(), std::string(5000, 'c'));
    }
    const uint64_t id = List(cached);
    struct stat st;
    for (size_t i = 0; i < cached.size(); ++i) {
      ASSERT_TRUE(Ready(id, i, &st));
      host::ReadAheadReached(id, i);
    }
  }
  // Waits (up to 5 s) for the status the pool took of entry `index`.
  static bool Ready(uint64_t id, size_t index, struct stat* st) {
    for (int i = 0; i < 5000; ++i) {
      if (host::ReadAheadStatus(id, index, emu::HostGeneration(), st)) return true;
      usleep(1000);
    }
    return false;
  }
};

// Cold, and over a tree in memory (after enough cached files in a row the
// pool only opens, and one thread at a time).
TEST_F(EmuReadAheadTest, HandsOverDescriptorsOfRegularFilesOnly) {
  for (bool warm : {false, true}) {
    SCOPED_TRACE(warm ? "warm" : "cold");
    if (warm) WarmUp();
    HandOverCases(warm ? "w" : "d");
  }
}

void EmuReadAheadTest::HandOverCases(const std::string& dir) {
  const std::string outside = NewHostDir();
  std::ofstream(outside + "/secret.exe") << "MZ outside";
  WriteFile("C:\\" + dir + "\\a.exe", std::string(10000, 'a'));
  MakeDir("C:\\" + dir + "\\sub");
  const std::string d = Root() + "/" + dir;
  ASSERT_EQ(symlink((outside + "/secret.exe").c_str(), (d + "/link.exe").c_str()), 0);
  ASSERT_EQ(symlink(outside.c_str(), (d + "/linkdir").c_str()), 0);
  ASSERT_EQ(mkfifo((d + "/fifo.exe").c_str(), 0644), 0);
  const struct {
    const char* name;
    mode_t type;
    bool descriptor;
  } cases[] = {
      {"a.exe", S_IFREG, true},     {"fifo.exe", S_IFIFO, false}, {"link.exe", S_IFLNK, false},
      {"linkdir", S_IFLNK, false}, {"sub", S_IFDIR, false},
  };
  std::vector<std::string> names;
  for (const auto& c : cases) names.push_back(c.name);
  const uint64_t id = List(names, dir);
  ASSERT_NE(id, 0u);
  for (size_t i = 0; i < names.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    host::ReadAheadReached(id, i);
    struct stat st;
    ASSERT_TRUE(Ready(id, i, &st));
    EXPECT_EQ(st.st_mode & S_IFMT, cases[i].type);
    int fd = host::ReadAheadTake(d, cases[i].name, emu::HostGeneration());
    EXPECT_EQ(fd >= 0, cases[i].descriptor);
    if (fd < 0) continue;
    struct stat opened;
    ASSERT_EQ(fstat(fd, &opened), 0);
    EXPECT_EQ(opened.st_ino, st.st_ino);
    EXPECT_LT(host::ReadAheadTake(d, cases[i].name, emu::HostGeneration()), 0);  // handed over once
    close(fd);
  }
}

TEST_F(EmuReadAheadTest, NothingIsHandedOverOnceTheEmulationChangedAFile) {
  WriteFile("C:\\d\\a.exe", "MZ");
  WriteFile("C:\\d\\b.exe", "MZ");
  const uint64_t id = List({"a.exe", "b.exe"});
  struct stat st;
  ASSERT_TRUE(Ready(id, 1, &st));
  host::ReadAheadReached(id, 1);
  // Only the entry the walk is at.
  EXPECT_LT(host::ReadAheadTake(Root() + "/d", "a.exe", emu::HostGeneration()), 0);
  emu::HostFilesChanged();
  EXPECT_FALSE(host::ReadAheadStatus(id, 1, emu::HostGeneration(), &st));
  EXPECT_LT(host::ReadAheadTake(Root() + "/d", "b.exe", emu::HostGeneration()), 0);
  // Nor from a listing no longer current.
  List({"a.exe", "b.exe"});
  EXPECT_FALSE(host::ReadAheadStatus(id, 1, emu::HostGeneration(), &st));
}

// Over a warm tree the descriptors the walk is done with wait for the
// pool's thread; none is still open once the emulation changes a file.
TEST_F(EmuReadAheadTest, WaitingDescriptorsAreClosedBeforeAnyChange) {
  WarmUp();
  const int fd = open((Root() + "/d/c0.txt").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  host::ReadAheadClose(fd);
  emu::HostNamesChanged();
  EXPECT_EQ(fcntl(fd, F_GETFD), -1);
}

}  // namespace
