// The JSON report of a rescue run on a volume whose hives are forged: what
// it says was applied against what reached the disk.
#include <gtest/gtest.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "cleanup/registry_cleanup.h"
#include "engine/shared_state.h"
#include "platform/emu/machine.h"
#include "platform/host/host_faults.h"
#include "tests/offline/forged_hive.h"
#include "tools/sorvane-offline/rescue.h"

namespace {

// The sweep removes a Run entry from SOFTWARE and from each profile; alice's
// hive then fails to be written, bob's is written after it. Each registry
// line is applied by the hive its removal came from, alice's hive is left
// byte-identical and the run ends with 2 and a message naming it.
TEST(RescueReportTest, ARegistryLineIsAppliedOnlyWhenItsHiveWasWritten) {
  const std::string dir = ::testing::TempDir() + "rescue_report_test_" + std::to_string(getpid());
  const std::string config = dir + "/vol/WINDOWS/system32/config", home = dir + "/vol/Documents and Settings";
  std::system(("rm -rf '" + dir + "' && mkdir -p '" + config + "' '" + home + "/alice' '" + home + "/bob'").c_str());
  // A Run entry; SOFTWARE holds the machine's keys below Software.
  auto entry = [](const char* name, const std::u16string& file, const char* below = "Software\\") {
    return Val{below + std::string("Microsoft\\Windows\\CurrentVersion\\Run"), name, hive_t_REG_SZ,
               Utf16(u"C:\\WINDOWS\\system32\\" + file)};
  };
  MakeHive(config + "/SOFTWARE", {entry("win_upd2.exe", u"windirect.exe", ""),
                                  {"Microsoft\\Windows NT\\CurrentVersion", "CurrentVersion", hive_t_REG_SZ, Utf16(u"5.1")}});
  MakeHive(config + "/system", {{"Select", "Current", hive_t_REG_DWORD, std::string("\1\0\0\0", 4)},
                                {"ControlSet001\\Control", "", hive_t_REG_NONE, ""}});
  const std::string alice = MakeHive(home + "/alice/NTUSER.DAT", {entry("d3dupdate.exe", u"bbeagle.exe")});
  MakeHive(home + "/bob/NTUSER.DAT", {entry("au.exe", u"au.exe")});

  emu::ResetMachine();
  RescueOptions options;
  options.volume = dir + "/vol";
  options.report = dir + "/report.json";
  options.quarantine = dir + "/q";
  std::string error;
  ASSERT_TRUE(StartRescue(options, &error)) << error;
  CurrentScanFile[0] = 0;
  CleanWormRegistry();  // as a detection does: every profile in turn
  const std::string aliceHive = "Documents and Settings\\alice\\NTUSER.DAT";
  host::FailOperation("hive build", aliceHive, ENOSPC);
  EXPECT_FALSE(FinishRescue(1, &error));
  EXPECT_NE(std::string::npos, error.find("cannot write the hive " + aliceHive)) << error;
  EXPECT_EQ(alice, Slurp(home + "/alice/NTUSER.DAT"));

  nlohmann::json report = nlohmann::json::parse(Slurp(options.report));
  EXPECT_EQ(2, report["exit_code"]);
  EXPECT_EQ(2u, report["hives_written"].size()) << report["hives_written"];
  const struct {
    const char* detection;
    std::string hive;
    bool applied;
  } expected[] = {{"W32/Bagle.A.Worm", aliceHive, false},
                  {"W32/Bagle.Aq.Worm", "WINDOWS\\system32\\config\\SOFTWARE", true},
                  {"W32/Bagle.B.Worm", "Documents and Settings\\bob\\NTUSER.DAT", true}};
  ASSERT_EQ(3u, report["results"].size()) << report["results"];
  for (const auto& e : expected) {
    SCOPED_TRACE(e.detection);
    bool found = false;
    for (const auto& r : report["results"]) {
      if (r["detection"] != e.detection) continue;
      found = true;
      ASSERT_EQ(1u, r["registry"].size()) << r;
      EXPECT_EQ(e.hive, r["registry"][0]["hive"]);
      EXPECT_EQ(e.applied, r["applied"]);
    }
    EXPECT_TRUE(found);
  }
  emu::ResetMachine();
  std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
