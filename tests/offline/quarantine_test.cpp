// Quarantine copies and --restore: what comes back, and what is refused.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>

#include "platform/emu/machine.h"
#include "tools/sorvane-offline/quarantine.h"
#include "tools/sorvane-offline/volume.h"

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Put(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

TEST(QuarantineTest, RestorePutsBackOnlyWhatDidNotChangeSince) {
  struct Case {
    const char* name;
    const char* action;
    std::function<void(const std::string& file)> run;    // what the scan did
    std::function<void(const std::string& file, const std::string& q)> after;  // what happened since
    bool force;
    int code;
    bool restored;
  };
  auto none = [](const std::string&, const std::string&) {};
  const std::vector<Case> cases = {
      {"deleted", "delete", [](const std::string& f) { unlink(f.c_str()); }, none, false, 0, true},
      {"repaired", "repair", [](const std::string& f) { Put(f, "repaired"); }, none, false, 0, true},
      {"written again since", "repair", [](const std::string& f) { Put(f, "repaired"); },
       [](const std::string& f, const std::string&) { Put(f, "user's new file"); }, false, 1, false},
      {"written again, forced", "repair", [](const std::string& f) { Put(f, "repaired"); },
       [](const std::string& f, const std::string&) { Put(f, "user's new file"); }, true, 0, true},
      {"deleted, then a new file there", "delete", [](const std::string& f) { unlink(f.c_str()); },
       [](const std::string& f, const std::string&) { Put(f, "new"); }, false, 1, false},
      {"damaged copy", "delete", [](const std::string& f) { unlink(f.c_str()); },
       [](const std::string&, const std::string& q) { Put(q + "/files/000001", "x"); }, true, 1, false},
  };
  std::string dir = ::testing::TempDir() + "quarantine_test_" + std::to_string(getpid());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str());
    const std::string file = dir + "/sample.exe", q = dir + "/q";
    emu::ResetMachine();
    emu::MapDrive('C', dir);
    const std::string original("MZ\0original\xff", 12);
    Put(file, original);
    std::string error;
    ASSERT_TRUE(quarantine::Open(q, &error)) << error;
    ASSERT_TRUE(quarantine::Keep(file, "C:\\sample.exe", c.action));
    c.run(file);
    quarantine::NoteDetection("C:\\sample.exe", "W32/Test");
    ASSERT_TRUE(quarantine::Close(&error)) << error;
    std::string manifest = Slurp(q + "/manifest.json");
    EXPECT_NE(std::string::npos, manifest.find("\"detection\": \"W32/Test\""));
    EXPECT_NE(std::string::npos, manifest.find(quarantine::Sha256(original)));
    c.after(file, q);
    std::string before = Slurp(file);
    EXPECT_EQ(c.code, quarantine::Restore(q, c.force));
    EXPECT_EQ(c.restored ? original : before, Slurp(file));
  }
  std::system(("rm -rf '" + dir + "'").c_str());
}

TEST(QuarantineTest, AFolderWithAManifestIsNotReused) {
  std::string dir = ::testing::TempDir() + "quarantine_reuse_" + std::to_string(getpid());
  std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str());
  Put(dir + "/manifest.json", "{}");
  std::string error;
  EXPECT_FALSE(quarantine::Open(dir, &error));
  EXPECT_EQ(2, quarantine::Restore(dir, false)) << "a manifest without entries";
  std::system(("rm -rf '" + dir + "'").c_str());
}

TEST(VolumeTest, PlatformFamilyOfTheVersion) {
  const std::pair<const char*, const char*> cases[] = {
      {"4.0", "nt4"}, {"5.0", "nt5"}, {"5.2", "nt5"}, {"6.0", "nt6"}, {"6.3", "nt6"},
      {"10.0", "nt6"}, {"3.51", ""}, {"", ""}, {"x", ""}, {"5a", ""}};
  for (const auto& [version, family] : cases) EXPECT_EQ(family, PlatformOfVersion(version)) << version;
}

// Layouts of a volume: which Windows folder and profiles are found, and
// which volumes are refused ("@OUT" stands for a folder beside the root).
TEST(VolumeTest, FindsTheWindowsFolderAndProfiles) {
  struct Case {
    const char* name;
    std::vector<const char*> files;  // created below the root; "L:" + "a>b" makes link a to b
    const char* windowsDir;          // nullptr: refused
    std::vector<const char*> profiles;
  };
  const std::vector<Case> cases = {
      {"XP, names in any case",
       {"WINNT/system32/CONFIG/software", "WINNT/system32/CONFIG/SYSTEM", "Documents and Settings/a/ntuser.dat",
        "Documents and Settings/All Users/x", "users/b/NTUSER.DAT"},
       "C:\\WINNT",
       {"Documents and Settings\\a", "users\\b"}},
      {"9x: no hives", {"WINDOWS/SYSTEM.DAT", "WINDOWS/USER.DAT"}, nullptr, {}},
      {"SOFTWARE without SYSTEM", {"Windows/System32/config/SOFTWARE"}, nullptr, {}},
      {"Windows folder only through a link", {"@OUT/System32/config/SOFTWARE",
                                              "@OUT/System32/config/SYSTEM", "L:Windows>@OUT"},
       nullptr, {}},
      {"a profile hive that is a link", {"Windows/System32/config/SOFTWARE", "Windows/System32/config/SYSTEM",
                                         "Users/a/x", "L:Users/a/NTUSER.DAT>x"},
       "C:\\Windows", {}},
  };
  std::string root = ::testing::TempDir() + "volume_test_" + std::to_string(getpid());
  std::string outside = root + "_outside";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::system(("rm -rf '" + root + "' '" + outside + "' && mkdir -p '" + root + "'").c_str());
    for (std::string f : c.files) {
      if (size_t at = f.find("@OUT"); at != std::string::npos) f.replace(at, 4, outside);
      if (f.rfind("L:", 0) == 0) {
        size_t gt = f.find('>');
        symlink(f.substr(gt + 1).c_str(), (root + "/" + f.substr(2, gt - 2)).c_str());
        continue;
      }
      std::string path = f[0] == '/' ? f : root + "/" + f;
      std::system(("mkdir -p \"$(dirname '" + path + "')\"").c_str());
      Put(path, "x");
    }
    VolumeLayout layout;
    std::string error;
    bool found = FindVolumeLayout(root, &layout, &error);
    ASSERT_EQ(c.windowsDir != nullptr, found) << error;
    if (!found) continue;
    EXPECT_EQ(c.windowsDir, layout.windowsDir);
    std::vector<std::string> profiles;
    for (const auto& p : layout.profiles) profiles.push_back(p.profile);
    EXPECT_EQ(std::vector<std::string>(c.profiles.begin(), c.profiles.end()), profiles);
  }
  VolumeLayout layout;
  std::string error;
  std::system(("rm -rf '" + root + "' && mkdir -p '" + root + "/WINDOWS'").c_str());
  EXPECT_FALSE(FindVolumeLayout(root, &layout, &error));
  EXPECT_NE(std::string::npos, error.find("--registry")) << "a 9x volume is pointed to .reg files: " << error;
  std::system(("rm -rf '" + root + "' '" + outside + "'").c_str());
}

}  // namespace
