// The host layer's confinement: what it refuses to read or write (links,
// FIFOs, files with other hard links, existing files for an exclusive
// create, paths through a linked directory) leaves every file as it was,
// and an in-place write keeps the file's inode.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>

#include "platform/host/host_faults.h"
#include "platform/host/host_files.h"
#include "platform/host/host_open.h"

namespace {

class HostFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ::testing::TempDir() + "host_files_test_" + std::to_string(getpid());
    ASSERT_EQ(0, std::system(("rm -rf '" + dir_ + "' && mkdir -p '" + dir_ + "/d'").c_str()));
    Put("d/file", "original");
    Put("other", "other's bytes");
    ASSERT_EQ(0, symlink("file", (dir_ + "/d/link").c_str()));
    ASSERT_EQ(0, symlink("d", (dir_ + "/dirlink").c_str()));
    ASSERT_EQ(0, mkfifo((dir_ + "/d/fifo").c_str(), 0600));
    Put("d/linked", "shared");
    ASSERT_EQ(0, link((dir_ + "/d/linked").c_str(), (dir_ + "/second").c_str()));
  }
  void TearDown() override {
    host::ClearFaults();
    std::system(("rm -rf '" + dir_ + "'").c_str());
  }
  void Put(const std::string& name, const std::string& bytes) { std::ofstream(dir_ + "/" + name) << bytes; }
  std::string Get(const std::string& name) {
    std::ifstream in(dir_ + "/" + name);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::string dir_;
};

TEST_F(HostFilesTest, RefusesWhatItMustNotTouch) {
  std::string bytes;
  const struct {
    const char* what;
    bool ok;
    int error;
    std::function<bool()> call;
  } cases[] = {
      {"read a file", true, 0, [&] { return host::ReadFile(dir_ + "/d/file", &bytes); }},
      {"read a link", false, ELOOP, [&] { return host::ReadFile(dir_ + "/d/link", &bytes); }},
      {"read a FIFO", false, EINVAL, [&] { return host::ReadFile(dir_ + "/d/fifo", &bytes); }},
      {"write through a link", false, ELOOP, [&] { return host::WriteOver(dir_ + "/d/link", "new"); }},
      {"write a hard-linked file", false, EMLINK, [&] { return host::WriteOver(dir_ + "/d/linked", "new"); }},
      {"write a FIFO", false, ENXIO, [&] { return host::WriteFile(dir_ + "/d/fifo", "new"); }},
      {"create over a file", false, EEXIST, [&] { return host::CreateExclusive(dir_ + "/other", "new"); }},
      {"create through a link", false, EEXIST, [&] { return host::CreateExclusive(dir_ + "/d/link", "new"); }},
  };
  for (const auto& c : cases) {
    errno = 0;
    EXPECT_EQ(c.ok, c.call()) << c.what;
    if (!c.ok) {
      EXPECT_EQ(c.error, errno) << c.what << ": " << std::strerror(errno);
    }
  }
  EXPECT_EQ("original", bytes);
  EXPECT_EQ("original", Get("d/file"));
  EXPECT_EQ("shared", Get("second"));
  EXPECT_EQ("other's bytes", Get("other"));
}

TEST_F(HostFilesTest, ResolvesBelowARootWithoutLinks) {
  int root = host::OpenRoot(dir_);
  ASSERT_GE(root, 0);
  int fd = host::OpenBelow(root, "d/file", O_RDONLY);
  EXPECT_GE(fd, 0);
  if (fd >= 0) close(fd);
  for (const char* path : {"dirlink/file", "d/link", "d/../other", "/d/file", "d//file"}) {
    EXPECT_LT(host::OpenBelow(root, path, O_RDONLY), 0) << path;
  }
  close(root);
}

TEST_F(HostFilesTest, WritesInPlaceAndFailsAsInjected) {
  struct stat before, after;
  ASSERT_EQ(0, stat((dir_ + "/d/file").c_str(), &before));
  EXPECT_TRUE(host::WriteOver(dir_ + "/d/file", "repaired"));
  ASSERT_EQ(0, stat((dir_ + "/d/file").c_str(), &after));
  EXPECT_EQ(before.st_ino, after.st_ino);
  EXPECT_EQ("repaired", Get("d/file"));
  host::FailOperation("host write", dir_ + "/D/FILE", ENOSPC);
  EXPECT_FALSE(host::WriteOver(dir_ + "/d/file", "lost"));
  EXPECT_EQ(ENOSPC, errno);
  EXPECT_EQ("repaired", Get("d/file"));
  EXPECT_TRUE(host::WriteOver(dir_ + "/d/file", "again")) << "the fault was for once";
}

}  // namespace

// What the emulated file calls may open: never through a link, never a
// FIFO (and never waiting on one), never a file with other names for a write.
namespace {

TEST_F(HostFilesTest, OpenEntryAndCheckOpenedKeepToPlainFiles) {
  const struct {
    const char* name;
    int flags;
    bool writes;
    int openErrno;  // 0: the open succeeds
    bool allowed;
  } cases[] = {
      {"file", O_RDONLY, false, 0, true},  {"file", O_RDWR, true, 0, true},
      {"linked", O_RDONLY, false, 0, true}, {"linked", O_RDWR, true, 0, false},
      {"fifo", O_RDONLY, false, 0, false}, {"link", O_RDONLY, false, ELOOP, false},
  };
  const int dir = host::OpenRoot(dir_ + "/d");
  ASSERT_GE(dir, 0);
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + (c.writes ? " for writing" : " for reading"));
    errno = 0;
    const int fd = host::OpenEntry(dir, c.name, c.flags);
    if (c.openErrno) {
      EXPECT_EQ(-1, fd);
      EXPECT_EQ(c.openErrno, errno);
      continue;
    }
    ASSERT_GE(fd, 0);
    struct stat st;
    EXPECT_EQ(c.allowed, host::CheckOpened(fd, c.writes, &st));
    if (c.allowed) {
      EXPECT_TRUE(S_ISREG(st.st_mode));
      close(fd);
    } else {
      EXPECT_EQ(EACCES, errno);
      EXPECT_EQ(-1, fcntl(fd, F_GETFD)) << "a refused descriptor is closed";
    }
  }
  close(dir);
  EXPECT_EQ("shared", Get("second"));
}

}  // namespace
