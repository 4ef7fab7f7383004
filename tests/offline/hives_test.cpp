// The hive bridge: forged hives filled through hivex, loaded into the
// emulated registry, changed there, and written back.
#include <gtest/gtest.h>
#include <hivex.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>

#include "platform/emu/machine.h"
#include "platform/host/host_faults.h"
#include "tests/offline/forged_hive.h"
#include "tools/sorvane-offline/hives.h"
#include "tools/sorvane-offline/quarantine.h"

namespace {

// Value of a key in a hive file, or "<absent>" / "<no key>".
std::string Read(const std::string& path, const std::string& key, const std::string& name,
                 hive_type* type = nullptr) {
  hive_h* h = hivex_open(path.c_str(), 0);
  if (!h) return "<no hive>";
  std::string out = "<no key>";
  if (hive_node_h node = Path(h, key, false)) {
    out = "<absent>";
    if (hive_value_h v = hivex_node_get_value(h, node, name.c_str())) {
      size_t length;
      hive_type t;
      char* raw = hivex_value_value(h, v, &t, &length);
      out.assign(raw, length);
      free(raw);
      if (type) *type = t;
    }
  }
  hivex_close(h);
  return out;
}

const std::string RunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

class HivesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ::testing::TempDir() + "hives_test_" + std::to_string(getpid());
    std::system(("rm -rf '" + dir_ + "' && mkdir -p '" + dir_ + "'").c_str());
    emu::ResetMachine();
    const std::string dword2("\2\0\0\0", 4);
    software_ = MakeHive(dir_ + "/SOFTWARE", {{RunKey, "win_upd2.exe", hive_t_REG_SZ, Utf16(u"C:\\x.exe")},
                                              {"Microsoft\\Windows NT\\CurrentVersion", "CurrentVersion",
                                               hive_t_REG_SZ, Utf16(u"5.1")}});
    system_ = MakeHive(dir_ + "/SYSTEM", {{"Select", "Current", hive_t_REG_DWORD, dword2},
                                          {"ControlSet001\\Control\\Session Manager", "", hive_t_REG_NONE, ""},
                                          {"ControlSet002\\Control\\Session Manager", "BootExecute",
                                           hive_t_REG_MULTI_SZ, Utf16(u"autocheck") + std::string(2, '\0')}});
    for (const char* user : {"alice", "bob"}) {
      user_.push_back(MakeHive(dir_ + "/" + user, {{RunKey, "au.exe", hive_t_REG_SZ, Utf16(u"C:\\au.exe")},
                                                   {RunKey, u8"\u041f\u0440", hive_t_REG_SZ, Utf16(u"\u041f\u0440")},
                                                   {"Software\\DateTime2", "", hive_t_REG_NONE, ""}}));
    }
    ASSERT_TRUE(hives_.Load({dir_ + "/SOFTWARE", "SOFTWARE", "", dir_}, {dir_ + "/SYSTEM", "SYSTEM", "", dir_},
                            {{dir_ + "/alice", "alice", "alice", dir_}, {dir_ + "/bob", "bob", "bob", dir_}},
                            false, &error_))
        << error_;
  }
  // Writes the hives back with their originals kept in dir_/backup/hives.
  bool Commit(std::vector<CommittedHive>* done, Hives* hives = nullptr) {
    std::string error;
    EXPECT_TRUE(quarantine::Open(dir_ + "/backup", &error, true)) << error;
    bool ok = (hives ? *hives : hives_).Commit(done, &error_);
    EXPECT_TRUE(quarantine::Close(&error)) << error;
    return ok;
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  std::string dir_, software_, system_, error_;
  std::vector<std::string> user_;
  Hives hives_;
};

TEST_F(HivesTest, LoadsEveryHiveWhereTheScanLooks) {
  DWORD type = 0;
  std::string data;
  ASSERT_TRUE(emu::GetRegistryValue("HKLM\\SOFTWARE\\" + RunKey, "win_upd2.exe", &type, &data));
  EXPECT_EQ(std::string("C:\\x.exe\0", 9), data);
  EXPECT_EQ(DWORD(REG_SZ), type);
  EXPECT_TRUE(emu::GetRegistryValue("HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                                    "BootExecute", nullptr, nullptr))
      << "CurrentControlSet follows Select\\Current";
  EXPECT_TRUE(emu::RegistryKeyExists("HKCU\\Software\\DateTime2"));
  EXPECT_EQ("alice", hives_.HiveOf("HKCU\\" + RunKey));
  hives_.UseProfile(1);
  EXPECT_EQ("bob", hives_.HiveOf("HKCU\\Software"));
  EXPECT_EQ("SYSTEM", hives_.HiveOf("HKLM\\SYSTEM\\CurrentControlSet"));
}

// Hives loaded anew replace the profile trees: a handle still open on a key
// of the old tree answers ERROR_KEY_DELETED and closes.
TEST_F(HivesTest, AHandleIntoAReplacedProfileReportsItsKeyDeleted) {
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\DateTime2", 0, KEY_READ, &key));
  ASSERT_TRUE(hives_.Load({dir_ + "/SOFTWARE", "SOFTWARE", "", dir_}, {dir_ + "/SYSTEM", "SYSTEM", "", dir_},
                          {{dir_ + "/bob", "bob", "bob", dir_}}, true, &error_))
      << error_;
  DWORD size = 0;
  EXPECT_EQ(ERROR_KEY_DELETED, RegQueryValueExA(key, "", nullptr, nullptr, nullptr, &size));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
}

// Each change is made on the emulated registry; after Commit the changed
// hive reads back as expected and every other hive is byte-identical.
TEST_F(HivesTest, WritesBackOnlyWhatChanged) {
  struct Case {
    const char* name;
    std::function<void(Hives&)> change;
    std::vector<int> changed;  // 0 SOFTWARE, 1 SYSTEM, 2 alice, 3 bob
    std::function<void(const std::string& dir)> check;
  };
  const std::vector<Case> cases = {
      {"nothing", [](Hives&) {}, {}, [](const std::string&) {}},
      {"value of the first profile",
       [](Hives&) { emu::DeleteRegistryTree("HKCU\\Software\\DateTime2"); }, {2},
       [](const std::string& d) {
         EXPECT_EQ("<no key>", Read(d + "/alice", "Software\\DateTime2", ""));
         EXPECT_EQ(Utf16(u"\u041f\u0440"), Read(d + "/alice", RunKey, u8"\u041f\u0440")) << "kept its bytes";
       }},
      {"second profile",
       [](Hives& h) {
         h.UseProfile(1);
         DWORD type;
         std::string data;
         ASSERT_TRUE(emu::GetRegistryValue("HKCU\\" + RunKey, "au.exe", &type, &data));
         emu::SetRegistryString("HKCU\\" + RunKey, "au.exe", "C:\\other.exe");
         emu::SetRegistryValue("HKCU\\" + RunKey, "added", REG_DWORD, std::string("\7\0\0\0", 4));
       },
       {3},
       [](const std::string& d) {
         EXPECT_EQ(Utf16(u"C:\\other.exe"), Read(d + "/bob", RunKey, "au.exe"));
         EXPECT_EQ(std::string("\7\0\0\0", 4), Read(d + "/bob", RunKey, "added"));
       }},
      {"pending renames in the current control set",
       [](Hives&) {
         emu::SetRegistryValue("HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                               "PendingFileRenameOperations", REG_MULTI_SZ,
                               std::string("\\??\\C:\\a.exe\0\0\0", 15));
       },
       {1},
       [](const std::string& d) {
         hive_type type{};
         EXPECT_EQ(Utf16(u"\\??\\C:\\a.exe") + std::string(4, '\0'),
                   Read(d + "/SYSTEM", "ControlSet002\\Control\\Session Manager",
                        "PendingFileRenameOperations", &type));
         EXPECT_EQ(hive_t_REG_MULTI_SZ, type);
         EXPECT_EQ("<absent>", Read(d + "/SYSTEM", "ControlSet001\\Control\\Session Manager",
                                    "PendingFileRenameOperations"));
       }},
      {"machine RunKey value and a new key",
       [](Hives&) {
         emu::DeleteRegistryTree("HKLM\\SOFTWARE\\Microsoft\\Windows NT");
         emu::CreateRegistryKey("HKLM\\SOFTWARE\\New\\Deeper");
       },
       {0},
       [](const std::string& d) {
         EXPECT_EQ("<no key>", Read(d + "/SOFTWARE", "Microsoft\\Windows NT", ""));
         EXPECT_EQ("<absent>", Read(d + "/SOFTWARE", "New\\Deeper", "x"));
         EXPECT_EQ(Utf16(u"C:\\x.exe"), Read(d + "/SOFTWARE", RunKey, "win_upd2.exe"));
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    std::vector<std::string> before = {software_, system_, user_[0], user_[1]};
    c.change(hives_);
    std::vector<CommittedHive> done;
    ASSERT_TRUE(Commit(&done)) << error_;
    const char* files[] = {"SOFTWARE", "SYSTEM", "alice", "bob"};
    ASSERT_EQ(c.changed.size(), done.size());
    for (int i = 0; i < 4; ++i) {
      bool changed = std::find(c.changed.begin(), c.changed.end(), i) != c.changed.end();
      EXPECT_EQ(changed, Slurp(dir_ + "/" + files[i]) != before[i]) << files[i];
      if (changed) {
        EXPECT_EQ(before[i], Slurp(dir_ + "/backup/hives/" + files[i])) << "copy of the original";
      }
    }
    c.check(dir_);
  }
}

// A hive that cannot be written is an error naming it and why, and is left
// byte-identical; where even its original cannot be put back, the error
// names the copy kept of it. Hives written before it stay written.
TEST_F(HivesTest, AHiveThatFailsToBeWrittenIsLeftAsItWas) {
  const struct {
    const char* op;
    int times;
    bool restored;
  } cases[] = {{"hive build", -1, true}, {"hive overwrite", 1, true}, {"hive overwrite", -1, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.op) + " times " + std::to_string(c.times));
    TearDown();
    SetUp();
    emu::CreateRegistryKey("HKLM\\SOFTWARE\\New");
    emu::DeleteRegistryTree("HKCU\\Software\\DateTime2");  // alice's
    hives_.UseProfile(1);
    emu::CreateRegistryKey("HKCU\\Software\\New");  // bob's, written after alice's fails
    host::FailOperation(c.op, "alice", ENOSPC, c.times);
    std::vector<CommittedHive> done;
    EXPECT_FALSE(Commit(&done));
    ASSERT_EQ(2u, done.size());
    EXPECT_EQ("SOFTWARE", done[0].label);
    EXPECT_EQ("bob", done[1].label);
    EXPECT_EQ(user_[0], Slurp(dir_ + "/backup/hives/alice")) << "the copy of the original";
    EXPECT_EQ(c.restored, Slurp(dir_ + "/alice") == user_[0]);
    EXPECT_EQ(user_[1], Slurp(dir_ + "/backup/hives/bob"));
    EXPECT_EQ("<absent>", Read(dir_ + "/bob", "Software\\New", "")) << "the key is there";
    EXPECT_NE(std::string::npos, error_.find("hive alice")) << error_;
    EXPECT_NE(std::string::npos, error_.find(std::strerror(ENOSPC))) << error_;
    EXPECT_EQ(c.restored, error_.find("left as it was") != std::string::npos) << error_;
    EXPECT_EQ(c.restored, error_.find(dir_ + "/backup/hives/alice") == std::string::npos) << error_;
  }
}

// A hive with another name (a hard link from outside the volume, or a
// second profile's) or whose folder became a link after it was loaded is
// not written: nothing outside the volume changes, the hive neither.
TEST_F(HivesTest, AHiveReachedThroughALinkOrAnotherNameIsNotWritten) {
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"another name outside", "ln '$D/prof/NTUSER.DAT' '$D/outside/NTUSER.DAT'"},
      {"folder swapped for a link", "mv '$D/prof' '$D/prof.real' && cp '$D/prof.real/NTUSER.DAT' '$D/outside/' && "
                                    "ln -s '$D/outside' '$D/prof'"},
  };
  for (const auto& [name, tamper] : cases) {
    SCOPED_TRACE(name);
    TearDown();
    SetUp();
    std::system(("mkdir -p '" + dir_ + "/prof' '" + dir_ + "/outside' && cp '" + dir_ + "/alice' '" + dir_ +
                 "/prof/NTUSER.DAT'").c_str());
    Hives hives;
    ASSERT_TRUE(hives.Load({dir_ + "/SOFTWARE", "SOFTWARE", "", dir_}, {dir_ + "/SYSTEM", "SYSTEM", "", dir_},
                           {{dir_ + "/prof/NTUSER.DAT", "prof\\NTUSER.DAT", "prof", dir_}}, false, &error_))
        << error_;
    emu::DeleteRegistryTree("HKCU\\Software\\DateTime2");
    std::string command = tamper;
    for (size_t at; (at = command.find("$D")) != std::string::npos;) command.replace(at, 2, dir_);
    ASSERT_EQ(0, std::system(command.c_str()));
    std::vector<CommittedHive> done;
    EXPECT_FALSE(Commit(&done, &hives));
    EXPECT_TRUE(done.empty());
    EXPECT_NE(std::string::npos, error_.find("prof\\NTUSER.DAT")) << error_;
    EXPECT_EQ(user_[0], Slurp(dir_ + "/outside/NTUSER.DAT"));
    EXPECT_EQ(user_[0], Slurp(dir_ + (name[0] == 'a' ? "/prof/NTUSER.DAT" : "/prof.real/NTUSER.DAT")));
  }
}

TEST_F(HivesTest, AHiveThatDoesNotOpenIsAnError) {
  std::ofstream(dir_ + "/broken", std::ios::binary) << "regf but not a hive";
  Hives other;
  EXPECT_FALSE(other.Load({dir_ + "/SOFTWARE", "SOFTWARE", "", dir_}, {dir_ + "/broken", "SYSTEM", "", dir_}, {},
                          true, &error_));
  EXPECT_NE(std::string::npos, error_.find("SYSTEM")) << error_;
}

}  // namespace
