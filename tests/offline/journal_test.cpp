// The quarantine's journal and --restore against stopped runs, hostile
// trees and damaged records: nothing is lost, nothing written outside.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>

#include <nlohmann/json.hpp>

#include "platform/emu/machine.h"
#include "tests/offline/forged_hive.h"
#include "tools/sorvane-offline/hives.h"
#include "tools/sorvane-offline/host_names.h"
#include "tools/sorvane-offline/quarantine.h"

namespace {

void Put(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

class JournalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ::testing::TempDir() + "journal_test_" + std::to_string(getpid());
    vol_ = dir_ + "/vol";
    q_ = dir_ + "/q";
    std::system(("rm -rf '" + dir_ + "' && mkdir -p '" + vol_ + "/sys' '" + dir_ + "/outside'").c_str());
    emu::ResetMachine();
    emu::MapDrive('C', vol_);
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  // Keeps vol/NAME ("C:\NAME", backslashes) before deleting it.
  void KeepAndDelete(const std::string& name) {
    std::string host = vol_ + "/" + name, windows = "C:\\" + name;
    for (auto& c : windows) c = c == '/' ? '\\' : c;
    ASSERT_TRUE(quarantine::Keep(host, windows, "delete")) << name;
    unlink(host.c_str());
  }

  std::string dir_, vol_, q_;
};

// A run killed after its changes (no summary), then restored or continued.
TEST_F(JournalTest, AStoppedRunIsRestoredFromTheJournalAndContinuedWithoutOverwriting) {
  Put(vol_ + "/a.exe", "original a");
  Put(vol_ + "/b.exe", "original b");
  std::string error;
  ASSERT_TRUE(quarantine::Open(q_, &error)) << error;
  KeepAndDelete("a.exe");
  ASSERT_TRUE(quarantine::Keep(vol_ + "/b.exe", "C:\\b.exe", "repair"));
  Put(vol_ + "/b.exe", "repaired b");  // stopped here: nothing records what b was left as
  EXPECT_FALSE(Exists(q_ + "/manifest.json"));

  EXPECT_EQ(1, quarantine::Restore(q_, false)) << "b differs from its copy and its state is unknown";
  EXPECT_EQ("original a", Slurp(vol_ + "/a.exe"));
  EXPECT_EQ("repaired b", Slurp(vol_ + "/b.exe"));
  EXPECT_EQ(0, quarantine::Restore(q_, true));
  EXPECT_EQ("original b", Slurp(vol_ + "/b.exe"));

  // The same folder again: numbering goes on, the first copies stay.
  Put(vol_ + "/c.exe", "original c");
  ASSERT_TRUE(quarantine::Open(q_, &error)) << error;
  KeepAndDelete("c.exe");
  ASSERT_TRUE(quarantine::Close(&error)) << error;
  EXPECT_EQ("original a", Slurp(q_ + "/files/000001"));
  EXPECT_EQ("original c", Slurp(q_ + "/files/000003"));
  std::string summary = Slurp(q_ + "/manifest.json");
  for (const char* name : {"a.exe", "b.exe", "c.exe"}) EXPECT_NE(std::string::npos, summary.find(name)) << name;
  EXPECT_EQ(0, quarantine::Restore(q_, false));
  EXPECT_EQ("original c", Slurp(vol_ + "/c.exe"));
}

// A hive killed half way through its write comes back in one step, by a
// restore or by the next run with the same quarantine.
TEST_F(JournalTest, AnInterruptedHiveWriteIsRolledBack) {
  const std::vector<std::pair<const char*, std::function<void(const std::string& q)>>> recoveries = {
      {"restore", [](const std::string& q) { EXPECT_EQ(0, quarantine::Restore(q, false)); }},
      {"next run", [](const std::string& q) {
         std::string error;
         EXPECT_TRUE(quarantine::Open(q, &error)) << error;
         EXPECT_TRUE(quarantine::Close(&error)) << error;
       }}};
  for (const auto& [name, recover] : recoveries) {
    SCOPED_TRACE(name);
    std::system(("rm -rf '" + q_ + "'").c_str());
    const std::string hive = vol_ + "/sys/SOFTWARE", original = "regf original hive bytes";
    Put(hive, original);
    std::string error, copy;
    ASSERT_TRUE(quarantine::Open(q_, &error, true)) << error;
    size_t entry = quarantine::KeepHive(HiveFile{hive, "sys\\SOFTWARE", "", vol_}, original, &copy, &error);
    ASSERT_NE(0u, entry) << error;
    ASSERT_TRUE(quarantine::HiveWriteStarts(entry));
    Put(hive, "");  // killed on the first write
    recover(q_);
    EXPECT_EQ(original, Slurp(hive));
    EXPECT_EQ(0, quarantine::Restore(q_, false)) << "rolled back once, left alone after";
  }
}

// Restore writes only below the drive root, whatever the tree or the
// records say.
TEST_F(JournalTest, RestoreNeverWritesOutsideTheRoot) {
  struct Case {
    const char* name;
    std::function<void(const std::string& dir)> tamper;  // after the run
    int code;
  };
  const std::vector<Case> cases = {
      {"a folder swapped for a link to outside",
       [](const std::string& d) {
         std::system(("mv '" + d + "/vol/sys' '" + d + "/sys.old'").c_str());
         symlink((d + "/outside").c_str(), (d + "/vol/sys").c_str());
       },
       1},
      {"a record naming a path up and out",
       [](const std::string& d) {
         std::string text = Slurp(d + "/q/manifest.jsonl");
         std::string from = "\"rel_b64\":\"", b64 = "Li4vb3V0c2lkZS9ldmlsLmV4ZQ==";  // ../outside/evil.exe
         size_t at = text.find(from) + from.size();
         text.replace(at, text.find('"', at) - at, b64);
         Put(d + "/q/manifest.jsonl", text);
       },
       1},
      {"a record naming another root and no volume identity",
       [](const std::string& d) {
         std::string text = Slurp(d + "/q/manifest.jsonl"), out;
         for (size_t at = 0, end; at < text.size(); at = end + 1) {
           end = text.find('\n', at);
           auto record = nlohmann::json::parse(text.substr(at, end - at));
           if (record.contains("root_b64")) {
             record["root_b64"] = names::Base64(d + "/outside");
             record.erase("volume");
           }
           out += record.dump() + "\n";
         }
         Put(d + "/q/manifest.jsonl", out);
         std::system(("mkdir -p '" + d + "/outside/sys'").c_str());
       },
       2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    Put(vol_ + "/sys/evil.exe", "MZ sample");
    std::string error;
    ASSERT_TRUE(quarantine::Open(q_, &error)) << error;
    KeepAndDelete("sys/evil.exe");
    ASSERT_TRUE(quarantine::Close(&error)) << error;
    c.tamper(dir_);
    EXPECT_EQ(c.code, quarantine::Restore(q_, true));
    EXPECT_FALSE(Exists(dir_ + "/outside/evil.exe"));
    EXPECT_FALSE(Exists(dir_ + "/outside/sys/evil.exe"));
  }
}

// A drive given relative to the working folder is recorded absolute: a
// restore from elsewhere puts files back on it, and a folder that is not
// the volume the run cleaned is refused.
TEST_F(JournalTest, RestoreFindsTheVolumeAndRefusesAnother) {
  char cwd[4096];
  ASSERT_TRUE(getcwd(cwd, sizeof cwd));
  ASSERT_EQ(0, chdir(dir_.c_str()));
  emu::ResetMachine();
  emu::MapDrive('C', "vol");
  Put(vol_ + "/a.exe", "original");
  std::string error;
  ASSERT_TRUE(quarantine::Open("q", &error)) << error;
  ASSERT_TRUE(quarantine::Keep("vol/a.exe", "C:\\a.exe", "delete"));
  unlink("vol/a.exe");
  ASSERT_TRUE(quarantine::Close(&error)) << error;
  ASSERT_EQ(0, chdir(cwd));
  std::system(("mkdir -p '" + dir_ + "/other'").c_str());
  EXPECT_EQ(2, quarantine::Restore(q_, false, dir_ + "/other"));
  EXPECT_FALSE(Exists(dir_ + "/other/a.exe"));
  EXPECT_EQ(0, quarantine::Restore(q_, false));
  EXPECT_EQ("original", Slurp(vol_ + "/a.exe"));

  // A summary of an older version names host paths only: it restores
  // into the root given with --volume, and only there.
  std::system(("mkdir -p '" + dir_ + "/old/files'").c_str());
  Put(dir_ + "/old/files/000001", "old original");
  Put(dir_ + "/old/manifest.json",
      R"({"entries":[{"path":"C:\\sys\\b.exe","host":"/gone/sys/b.exe","stored":"files/000001","sha256":")" +
          quarantine::Sha256("old original") + R"(","after":{"exists":false}}]})");
  EXPECT_EQ(2, quarantine::Restore(dir_ + "/old", false));
  EXPECT_EQ(0, quarantine::Restore(dir_ + "/old", false, vol_));
  EXPECT_EQ("old original", Slurp(vol_ + "/sys/b.exe"));
}

// Host names come back with their exact bytes; records show them in UTF-8.
TEST_F(JournalTest, NamesComeBackByteForByte) {
  const std::string latin = "caf\xe9.exe", cyrillic = "\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82.exe";
  std::string error;
  ASSERT_TRUE(quarantine::Open(q_, &error)) << error;
  for (const auto& name : {latin, cyrillic}) {
    Put(vol_ + "/" + name, "bytes of " + name);
    KeepAndDelete(name);
  }
  ASSERT_TRUE(quarantine::Close(&error)) << error;
  std::string summary = Slurp(q_ + "/manifest.json");
  EXPECT_NE(std::string::npos, summary.find("caf\xc3\xa9.exe")) << "Windows-1252 read as such";
  EXPECT_NE(std::string::npos, summary.find(cyrillic)) << "UTF-8 kept as it is";
  EXPECT_EQ(0, quarantine::Restore(q_, false));
  for (const auto& name : {latin, cyrillic}) EXPECT_EQ("bytes of " + name, Slurp(vol_ + "/" + name));
}

// Damaged records are named and skipped (1) or the manifest refused (2).
TEST_F(JournalTest, MalformedRecordsAreSkippedOrRefusedNeverFatal) {
  const struct {
    const char* file;
    std::string text;
    int code;
  } cases[] = {
      {"manifest.json", "[]", 2},
      {"manifest.json", R"({"entries":5})", 2},
      {"manifest.json", "not json", 2},
      {"manifest.json", R"({"entries":[5]})", 1},
      {"manifest.json", R"({"entries":[{"path":5,"host":"/x","stored":"files/1","sha256":""}]})", 1},
      {"manifest.json", R"({"entries":[{"path":"C:\\x","host":"/x","stored":"s","sha256":"","after":"yes"}]})", 1},
      {"manifest.jsonl", "garbage\n{\"type\":\"run\"}\n", 1},
      {"manifest.jsonl", "{\"type\":\"detection\",\"n\":7,\"detection\":\"x\"}\n", 1},
      {"manifest.jsonl", "{\"type\":\"run\"}\n{\"type\":\"file\",\"n\":1,\"pa", 0},  // torn last line
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::system(("rm -rf '" + q_ + "' && mkdir -p '" + q_ + "'").c_str());
    Put(q_ + "/" + c.file, c.text);
    EXPECT_EQ(c.code, quarantine::Restore(q_, false));
  }
}

}  // namespace
