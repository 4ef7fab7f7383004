// The hive bridge over the regf layer: dirty profile hives replayed before
// the scan sees them and written back clean with their logs reset (or,
// when their logs fail, left untouched), and the hives that hivex could
// not carry through a write-back: raw key names, values that cannot be
// read, hostile subkey lists and sizes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <functional>

#include "platform/emu/machine.h"
#include "platform/system.h"
#include "tools/forge/forge_hive_builder.h"
#include "tools/sorvane-offline/hives.h"
#include "tools/sorvane-offline/quarantine.h"
#include "tools/sorvane-offline/regf/replay.h"

namespace {

using regf::Bytes;

const std::u16string RunKey = u"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
void Spit(const std::string& path, const Bytes& b) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), b.size());
}

// The readable values of a key in a hive file ("name=data" lines), or
// "<no key>"; "<bad hive>" when the file does not read.
std::vector<std::string> Values(const std::string& path, const std::u16string& key, bool raw = false) {
  std::string bytes = Slurp(path);
  regf::Image image;
  regf::Tree tree;
  std::string why;
  if (!image.Open(Bytes(bytes.begin(), bytes.end()), &why) || !regf::ReadTree(image, &tree, &why)) return {"<bad hive>"};
  size_t at = 0;
  for (size_t from = 0; from <= key.size() && !key.empty();) {
    size_t end = raw ? key.size() : key.find(u'\\', from);
    if (end == std::u16string::npos) end = key.size();
    size_t found = size_t(-1);
    for (size_t s : tree.keys[at].subkeys) {
      if (regf::CompareKeyNames(tree.keys[s].name, key.substr(from, end - from)) == 0) found = s;
    }
    if (found == size_t(-1)) return {"<no key>"};
    at = found;
    from = end + 1;
  }
  std::vector<std::string> out;
  for (const auto& v : tree.keys[at].values) {
    out.push_back(std::string(v.name.begin(), v.name.end()) + "=" + (v.readable ? v.data : "<unreadable>"));
  }
  return out;
}

// Removes a value of HKCU's Run key as the scan does.
void DeleteRunValue(const char* name) {
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", 0,
                                         KEY_ALL_ACCESS, &key));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(key, name));
  RegCloseKey(key);
}

bool IsClean(const std::string& path) {
  std::string b = Slurp(path);
  regf::BaseInfo base;
  return regf::ReadBase(reinterpret_cast<const uint8_t*>(b.data()), b.size(), &base) && !regf::IsDirty(base);
}

class HivesBridgeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ::testing::TempDir() + "hives_bridge_test_" + std::to_string(getpid());
    std::system(("rm -rf '" + dir_ + "' && mkdir -p '" + dir_ + "'").c_str());
    emu::ResetMachine();
    forge::HiveBuilder software(forge::EmptyHive("ROOT"));
    software.Set(u"Microsoft\\Windows\\CurrentVersion\\Run", u"win_upd2.exe", 1, forge::Utf16z(u"C:\\x.exe"));
    software.Set(u"Microsoft\\Windows NT\\CurrentVersion", u"CurrentVersion", 1, forge::Utf16z(u"5.1"));
    Spit(dir_ + "/SOFTWARE", software.Sealed(1));
    forge::HiveBuilder system(forge::EmptyHive("ROOT"));
    system.Set(u"Select", u"Current", 4, std::string("\1\0\0\0", 4));
    system.Key(u"ControlSet001\\Control");
    Spit(dir_ + "/SYSTEM", system.Sealed(1));
  }
  void TearDown() override {
    std::string error;
    if (quarantine::IsOpen()) quarantine::Close(&error);
    std::system(("rm -rf '" + dir_ + "'").c_str());
  }

  bool Load(std::string* error) {
    return hives_.Load({dir_ + "/SOFTWARE", "SOFTWARE", "", dir_}, {dir_ + "/SYSTEM", "SYSTEM", "", dir_},
                       {{dir_ + "/alice", "alice", "alice", dir_}}, false, error);
  }

  // Writes back through a hives-only journal in dir_/backup, as a run
  // without a quarantine does.
  bool Commit(std::vector<CommittedHive>* done, std::string* error) {
    if (!quarantine::IsOpen() && !quarantine::Open(dir_ + "/backup", error, true)) return false;
    return hives_.Commit(done, error);
  }

  std::string dir_;
  Hives hives_;
};

// A dirty profile hive: the scan sees what its logs hold; removing a value
// writes the replayed hive clean with the logs reset and kept in the
// backup folder. With a corrupted log, the hive is read as it is and is
// never written: hive and logs stay byte for byte, Commit names it.
TEST_F(HivesBridgeTest, DirtyHivesAreReplayedOrLeftAlone) {
  const struct {
    const char* name;
    forge::HiveLogFormat format;
    bool corrupt;
  } cases[] = {{"new", forge::HiveLogFormat::New, false},
               {"old", forge::HiveLogFormat::Old, false},
               {"new, corrupt", forge::HiveLogFormat::New, true},
               {"old, corrupt", forge::HiveLogFormat::Old, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    forge::DirtyHive d = forge::MakeDirtyHive(c.format, c.corrupt);
    Spit(dir_ + "/alice", d.primary);
    for (const auto& l : d.logs) Spit(dir_ + "/alice" + l.suffix, l.bytes);
    std::string error;
    ASSERT_TRUE(Load(&error)) << error;
    std::string data;
    EXPECT_EQ(!c.corrupt, emu::GetRegistryValue("HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                                                "d3dupdate.exe", nullptr, &data))
        << "the Run entry only the last log entry holds";
    DeleteRunValue("keep.exe");
    ASSERT_TRUE(hives_.Changed(2));
    std::vector<CommittedHive> done;
    bool ok = Commit(&done, &error);
    EXPECT_EQ(!c.corrupt, ok) << error;
    if (c.corrupt) {
      EXPECT_TRUE(done.empty());
      EXPECT_NE(std::string::npos, error.find("the hive alice is dirty")) << error;
      EXPECT_EQ(std::string(d.primary.begin(), d.primary.end()), Slurp(dir_ + "/alice"));
      for (const auto& l : d.logs) EXPECT_EQ(std::string(l.bytes.begin(), l.bytes.end()), Slurp(dir_ + "/alice" + l.suffix));
      continue;
    }
    ASSERT_EQ(1u, done.size());
    EXPECT_TRUE(IsClean(dir_ + "/alice"));
    EXPECT_EQ((std::vector<std::string>{"d3dupdate.exe=" + forge::Utf16z(u"C:\\WINDOWS\\system32\\bbeagle.exe")}),
              Values(dir_ + "/alice", RunKey));
    EXPECT_EQ((std::vector<std::string>{"added=" + forge::Utf16z(u"in the log"), "large=" + std::string(20000, 'L')}),
              Values(dir_ + "/alice", u"Software\\New"));
    EXPECT_EQ(std::vector<std::string>{"<no key>"}, Values(dir_ + "/alice", u"Software\\Old"));
    EXPECT_EQ(std::string(d.primary.begin(), d.primary.end()), Slurp(done[0].backup));
    ASSERT_EQ(d.logs.size(), done[0].logs.size());
    for (size_t i = 0; i < d.logs.size(); ++i) {
      const auto& l = d.logs[i];
      EXPECT_EQ(std::string(l.bytes.begin(), l.bytes.end()), Slurp(done[0].logs[i].backup));
      std::string reset = Slurp(dir_ + "/alice" + l.suffix);
      EXPECT_EQ(l.bytes.size(), reset.size());
      EXPECT_EQ(std::string(reset.size() - 512, '\0'), reset.substr(512)) << "nothing left to replay";
    }
    // Read again, the written hive is what the scan left.
    Hives again;
    ASSERT_TRUE(again.Load({dir_ + "/SOFTWARE", "SOFTWARE", "", dir_}, {dir_ + "/SYSTEM", "SYSTEM", "", dir_},
                           {{dir_ + "/alice", "alice", "alice", dir_}}, true, &error))
        << error;
    EXPECT_FALSE(again.Changed(2));
  }
}

// Regressions of hives that hivex could not carry: each hive loads, a
// write-back without a change writes nothing, and removing the Run entry
// beside the odd item keeps that item.
TEST_F(HivesBridgeTest, RawNamesAndUnreadableValuesSurviveTheWriteBack) {
  const struct {
    const char* name;
    std::function<void(forge::HiveBuilder&)> add;
    std::u16string key;  // the odd item's key
    bool raw;
    std::vector<std::string> values;  // what it holds afterwards
  } cases[] = {
      {"key name with a backslash", [](forge::HiveBuilder& b) { b.Set(u"Software\\a\\b", u"", 0, ""); }, u"Software\\a\\b",
       false, {"="}},
      {"raw key name with a backslash",
       [](forge::HiveBuilder& b) {
         size_t k = b.Key(u"Software\\x\\y", true);
         std::string why;
         regf::Editor(b.image, b.tree).SetValue(k, regf::Editor::npos, u"in", 4, std::string("\5\0\0\0", 4), &why);
       },
       u"Software\\x\\y", true, {"in=" + std::string("\5\0\0\0", 4)}},
      {"unpaired surrogate key name", [](forge::HiveBuilder& b) { b.Set(u"Software\\\xD800", u"s", 4, std::string(4, 'S')); },
       u"Software\\\xD800", false, {"s=SSSS"}},
      {"value whose data length passes its cell",
       [](forge::HiveBuilder& b) {
         b.Set(RunKey, u"bad", 1, forge::Utf16z(u"C:\\bad.exe"));
         size_t length, run = b.Key(RunKey);
         regf::Put32(b.image.MutableCell(b.tree.keys[run].values.back().cell, &length) + 4, 0x7000);
       },
       RunKey, false, {"<unreadable>"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    forge::HiveBuilder alice(forge::EmptyHive("ROOT"));
    alice.Set(RunKey, u"au.exe", 1, forge::Utf16z(u"C:\\au.exe"));
    c.add(alice);
    Spit(dir_ + "/alice", alice.Sealed(1));
    const std::string before = Slurp(dir_ + "/alice");
    std::string error;
    ASSERT_TRUE(Load(&error)) << error;
    std::vector<CommittedHive> done;
    EXPECT_FALSE(hives_.Changed(2));
    ASSERT_TRUE(Commit(&done, &error)) << error;
    EXPECT_TRUE(done.empty());
    EXPECT_EQ(before, Slurp(dir_ + "/alice")) << "nothing removed, nothing written";
    DeleteRunValue("au.exe");
    ASSERT_TRUE(Commit(&done, &error)) << error;
    EXPECT_EQ(1u, done.size());
    std::vector<std::string> odd = Values(dir_ + "/alice", c.key, c.raw);
    if (c.values == std::vector<std::string>{"<unreadable>"}) {
      EXPECT_EQ(std::vector<std::string>{"bad=<unreadable>"}, odd) << "au.exe gone, the value kept";
    } else {
      EXPECT_EQ(c.values, odd);
      EXPECT_EQ(std::vector<std::string>{}, Values(dir_ + "/alice", RunKey));
    }
  }
}

// A subkey list naming its own key and a header size of 0x7ffff000: the
// load ends at once with an error naming the hive, which is left alone.
TEST_F(HivesBridgeTest, HostileHivesAreNamedAndLeftAlone) {
  const std::function<Bytes()> makers[] = {
      [] {
        forge::HiveBuilder b(forge::EmptyHive("ROOT"));
        size_t k = b.Key(u"Software\\Loop");
        b.Key(u"Software\\Loop\\Child");
        size_t length;
        uint8_t* nk = b.image.MutableCell(b.tree.keys[k].cell, &length);
        regf::Put32(b.image.MutableCell(regf::Get32(nk + regf::KeySubkeyList), &length) + 4, b.tree.keys[k].cell);
        return b.Sealed(1);
      },
      [] {
        forge::HiveBuilder b(forge::EmptyHive("ROOT"));
        Bytes h = b.Sealed(1);
        regf::Put32(&h[regf::BinsSize], 0x7ffff000u);
        regf::SealBase(h.data(), 1);
        return h;
      },
  };
  for (const auto& make : makers) {
    Spit(dir_ + "/alice", make());
    const std::string before = Slurp(dir_ + "/alice");
    std::string error;
    EXPECT_FALSE(Load(&error));
    EXPECT_NE(std::string::npos, error.find("the hive alice")) << error;
    EXPECT_EQ(before, Slurp(dir_ + "/alice"));
  }
}

}  // namespace
