// The worm registry sweep against the rule table: which values and keys go,
// the lines and their order, shared value names, rule 26's exception,
// refusals, text that does not fit, and the hand-over to the Run entries.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cleanup/registry_cleanup.h"
#include "cleanup/registry_values.h"
#include "cleanup/worm_registry_rules.h"
#include "engine/shared_state.h"
#include "platform/emu/machine.h"
#include "tests/support/machine_fixture.h"

namespace {

const char kHkcuRun[] = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kHklmRun[] = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kHkcuRu1n[] = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Ru1n";
const char kHklmRu1n[] = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Ru1n";
const char kParams[] = "HKCU\\Software\\Microsoft\\Params";

std::string Removed(const std::string& name) { return "System Registry     " + name + " removed"; }

struct Seed {
  const char* key;
  const char* name;
  const char* data;
};

class RegistryCleanupTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    InstallMainWindow();
  }
  void TearDown() override {
    EXPECT_EQ(emu::OpenRegistryHandles(), 0);
    MachineTest::TearDown();
  }
  static void Plant(const std::vector<Seed>& seeds) {
    for (const auto& s : seeds) emu::SetRegistryString(s.key, s.name, s.data);
  }
  static bool Has(const char* key, const char* name) { return emu::RegistryValueExists(key, name); }
};

TEST_F(RegistryCleanupTest, TheTableHoldsTheRulesInOrder) {
  ASSERT_EQ(WormRegistryRuleCount, 32);
  EXPECT_STREQ(WormRegistryRules[0].valueName, "d3dupdate.exe");
  EXPECT_STREQ(WormRegistryRules[20].detection, "W32/Bagle.Aq.Worm");
  EXPECT_EQ(WormRegistryRules[20].root, RuleLocalMachine);
  EXPECT_STREQ(WormRegistryRules[23].keyPath, "Software\\Microsoft\\Windows\\CurrentVersion\\Ru1n");
  EXPECT_TRUE(WormRegistryRules[25].followUpsWhenRead);
  EXPECT_STREQ(WormRegistryRules[25].followUps[0].detection, "W32/Bagle.Av.Worm");
  EXPECT_STREQ(WormRegistryRules[31].valueName, "winshost.exe");
  EXPECT_EQ(WormRegistryRules[31].root, RuleLocalMachine);
  int always = 0;
  for (const auto& r : WormRegistryRules) always += r.followUpsWhenRead;
  EXPECT_EQ(always, 1);
}

// One planted situation each, with the lines and the values left.
TEST_F(RegistryCleanupTest, RulesMatchAsTheirFormAndMarkerSay) {
  struct Case {
    const char* what;
    std::vector<Seed> seeds;
    std::vector<const char*> keys;  // marker keys planted under HKCU
    std::vector<std::string> lines;
    std::vector<std::pair<const char*, const char*>> kept;  // key, value
  };
  const std::vector<Case> cases = {
      {"rule 4 after lower-casing, then its marker key",
       {{kHkcuRun, "rate.exe", "C:\\WINDOWS\\System32\\I1RU74N4.EXE"}},
       {"HKCU\\Software\\DateTime4"},
       {Removed("W32/Bagle.E.Worm"), Removed("W32/Bagle.E.Worm")},
       {}},
      {"no \"system\" in the data", {{kHkcuRun, "d3dupdate.exe", "c:\\temp\\bbeagle.exe"}}, {}, {},
       {{kHkcuRun, "d3dupdate.exe"}}},
      {"plain substring search", {{kHkcuRun, "au.exe", "c:\\windows\\system\\bau.exe"}}, {},
       {Removed("W32/Bagle.B.Worm")}, {}},
      {"sysdir alone", {{kHklmRun, "wersds.exe", "%sysdir%\\anything.exe"}}, {},
       {Removed("W32/Bagle.Dl.A.Worm")}, {}},
      {"marker without system", {{kHkcuRun, "wingo", "c:\\wingo.exe"}}, {}, {}, {{kHkcuRun, "wingo"}}},
      {"the look-alike key is a key of its own",
       {{kHkcuRu1n, "erthgdr", "c:\\windows\\system\\windll.exe"},
        {kHkcuRun, "erthgdr", "c:\\windows\\system\\windll.exe"}},
       {},
       {Removed("W32/Bagle.Al.Worm")},
       {{kHkcuRun, "erthgdr"}}},
      {"HKLM Ru1n", {{kHklmRu1n, "erthgdr", "SYSDIR"}}, {}, {Removed("W32/Bagle.Al.Worm")}, {}},
      {"a later rule of the same name", {{kHkcuRun, "rate.exe", "c:\\system\\i1ru54n4.exe"}},
       {"HKCU\\Software\\winword", "HKCU\\Software\\DateTime4"},
       {Removed("W32/Bagle.F.Worm"), Removed("W32/Bagle.F.Worm")},
       {}},
      {"value names ignore case", {{kHkcuRun, "SYSKEY", "%SYSDIR%\\x"}}, {},
       {Removed("W32/Bagle.Aw.Worm")}, {}},
      {"two marker keys", {{kHkcuRun, "gouday.exe", "system\\readme.exe"}},
       {"HKCU\\Software\\DateTime2", "HKCU\\Software\\DateTime3"},
       {Removed("W32/Bagle.C.Worm"), Removed("W32/Bagle.C.Worm"), Removed("W32/Bagle.D.Worm")},
       {}},
      {"follow-ups only for the matching rule", {{kHkcuRun, "rate.exe", "c:\\other.exe"}},
       {"HKCU\\Software\\DateTime4"}, {}, {{kHkcuRun, "rate.exe"}}},
      {"rules 21 and 32 under HKLM",
       {{kHklmRun, "win_upd2.exe", "system32\\windirect.exe"},
        {kHklmRun, "winshost.exe", "system32\\winshost.exe"}},
       {},
       {Removed("W32/Bagle.Aq.Worm"), Removed("W32/Bagle.Be.Worm")},
       {}},
  };
  for (const auto& c : cases) {
    emu::ResetMachine();
    InstallMainWindow();
    const size_t before = Lines().size();
    Plant(c.seeds);
    for (const char* k : c.keys) emu::CreateRegistryKey(k);
    EXPECT_EQ(CleanWormRegistry(), 1);
    std::vector<std::string> lines(Lines().begin() + before, Lines().end());
    EXPECT_EQ(lines, c.lines) << c.what;
    size_t keep = 0;
    for (const auto& s : c.seeds) {
      bool kept = false;
      for (const auto& k : c.kept) kept |= std::string(k.first) == s.key && std::string(k.second) == s.name;
      EXPECT_EQ(Has(s.key, s.name), kept) << c.what << ": " << s.key << " " << s.name;
      keep += kept;
    }
    EXPECT_EQ(keep, c.kept.size()) << c.what;
  }
}

TEST_F(RegistryCleanupTest, Rule26DeletesTimeKeyEvenWhenBawindoDoesNotMatch) {
  Plant({{kHkcuRun, "bawindo", "c:\\program files\\bawindo.exe"}, {kParams, "TimeKey", "x"}});
  CleanWormRegistry();
  EXPECT_EQ(Lines(), std::vector<std::string>{Removed("W32/Bagle.Av.Worm")});
  EXPECT_TRUE(Has(kHkcuRun, "bawindo"));
  EXPECT_FALSE(Has(kParams, "TimeKey"));
}

TEST_F(RegistryCleanupTest, SharedParamsValuesGoOnceWithTheFirstRuleThatReachesThem) {
  Plant({{kHkcuRun, "bawindo", "sysdir"},
         {kHkcuRun, "wingo", "sysdir"},
         {kHkcuRun, "sysformat", "sysdir"},
         {kParams, "TimeKey", ""},
         {kParams, "riga", "1"}});
  CleanWormRegistry();
  EXPECT_EQ(Lines(), (std::vector<std::string>{
                         Removed("W32/Bagle.Az.Worm"), Removed("W32/Bagle.Av.Worm"),  // rule 26
                         Removed("W32/Bagle.At.Worm"),                                 // rule 27
                         Removed("W32/Bagle.Ax.Worm"), Removed("W32/Bagle.Ay.Worm"),  // rule 29
                     }));
  EXPECT_TRUE(emu::RegistryValueNames(kParams).empty());
}

TEST_F(RegistryCleanupTest, AFailedValueDeletionIsSilentAndItsFollowUpsStillRun) {
  Plant({{kHkcuRun, "gigabit.exe", "system\\gigabit.exe"}});
  emu::CreateRegistryKey("HKCU\\Software\\Windows2004");
  emu::FailOperation("RegDeleteValueA", std::string(kHkcuRun) + "\\gigabit.exe", ERROR_ACCESS_DENIED);
  CleanWormRegistry();
  EXPECT_EQ(Lines(), std::vector<std::string>{Removed("W32/Bagle.U.Worm")});
  EXPECT_TRUE(Has(kHkcuRun, "gigabit.exe"));
  EXPECT_FALSE(emu::RegistryKeyExists("HKCU\\Software\\Windows2004"));
}

TEST_F(RegistryCleanupTest, ReadOnlyHklmKeepsItsValuesAndHkcuIsStillCleaned) {
  Plant({{kHklmRun, "winshost.exe", "sysdir"}, {kHkcuRun, "winshost.exe", "sysdir"}});
  emu::SetKeyAccess("HKLM", emu::KeyAccess::ReadOnly);
  CleanWormRegistry();
  EXPECT_EQ(Lines(), std::vector<std::string>{Removed("W32/Bagle.Be.Worm")});
  EXPECT_TRUE(Has(kHklmRun, "winshost.exe"));
  EXPECT_FALSE(Has(kHkcuRun, "winshost.exe"));
}

TEST_F(RegistryCleanupTest, AMarkerKeyWithSubkeysIsRefusedOnNtAndDeletedOn9x) {
  for (emu::Platform platform : {emu::Platform::WinXP, emu::Platform::Win98}) {
    emu::ResetMachine();
    InstallMainWindow();
    emu::SetPlatform(platform);
    Plant({{kHkcuRun, "sysinfo.exe", "system\\sysinfo.exe"}});
    emu::CreateRegistryKey("HKCU\\Software\\Windows2005\\Sub");
    CleanWormRegistry();
    bool nt = platform == emu::Platform::WinXP;
    EXPECT_EQ(emu::RegistryKeyExists("HKCU\\Software\\Windows2005"), nt);
    EXPECT_EQ(Lines().back(), Removed("W32/Bagle.V.Worm"));
  }
}

TEST_F(RegistryCleanupTest, WithoutAMainWindowTheRegistryIsCleanedSilently) {
  MainWindow = nullptr;
  Plant({{kHkcuRun, "au.exe", "system\\au.exe"}});
  CleanWormRegistry();
  EXPECT_FALSE(Has(kHkcuRun, "au.exe"));
  EXPECT_TRUE(Lines().empty());
}

TEST_F(RegistryCleanupTest, DataIsTestedOnTheTextThatFitsTheBuffer) {
  const std::string pad(990, 'x');
  struct Case {
    const char* name;
    DWORD type;
    std::string data;
    bool removed;
  };
  const std::vector<Case> cases = {
      {"marker inside the first 999 bytes", REG_SZ, "system" + std::string(980, 'x') + "au.exe" + pad + '\0', true},
      {"marker beyond them", REG_SZ, "system" + pad + "au.exe" + '\0', false},
      {"no terminator", REG_BINARY, "system\\au.exe", true},
      {"text stops at a zero byte", REG_BINARY, std::string("system\0au.exe", 13), false},
  };
  for (const auto& c : cases) {
    emu::ResetMachine();
    emu::SetRegistryValue(kHkcuRun, "au.exe", c.type, c.data);
    CleanWormRegistry();
    EXPECT_EQ(!Has(kHkcuRun, "au.exe"), c.removed) << c.name;
  }
}

TEST_F(RegistryCleanupTest, ReadRegistryValueNeverWritesPastItsBuffer) {
  emu::SetRegistryValue(kHkcuRun, "v", REG_BINARY, std::string(50, 'a'));
  char buffer[12];
  memset(buffer, '#', sizeof buffer);
  ASSERT_TRUE(ReadRegistryValue(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                                "v", buffer, 8));
  EXPECT_STREQ(buffer, "aaaaaaa");
  EXPECT_EQ(buffer[8], '#');
  EXPECT_FALSE(ReadRegistryValue(HKEY_CURRENT_USER, "Software\\Missing", "v", buffer, 8));
  EXPECT_FALSE(ReadRegistryValue(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                                 "none", buffer, 8));
}

TEST_F(RegistryCleanupTest, TheRunEntriesFollowOnlyForAFileUnderExamination) {
  Plant({{kHklmRun, "a", "c:\\evil.exe"}, {kHkcuRun, "b", "c:\\evil.exe"}});
  CleanWormRegistry();
  EXPECT_EQ(emu::CallCount("RegQueryInfoKeyA"), 0);
  EXPECT_TRUE(Has(kHklmRun, "a"));

  snprintf(CurrentScanFile, sizeof CurrentScanFile, "C:\\EVIL.EXE");
  CleanWormRegistry();
  EXPECT_EQ(emu::CallCount("RegQueryInfoKeyA"), 2);
  EXPECT_FALSE(Has(kHklmRun, "a"));
  EXPECT_FALSE(Has(kHkcuRun, "b"));
  EXPECT_EQ(Lines(), std::vector<std::string>(2, Removed("W32/Murkel.Backdoor")));
}

// Every rule's value planted at once (one value per shared name, so each
// rule of a group gets its turn), with values and keys the sweep must keep.
TEST_F(RegistryCleanupTest, TheWholeSweepRemovesExactlyTheWormEntries) {
  Plant({{kHkcuRun, "d3dupdate.exe", "C:\\WINDOWS\\SYSTEM32\\bbeagle.exe"},
         {kHkcuRun, "au.exe", "C:\\WINDOWS\\SYSTEM32\\au.exe"},
         {kHkcuRun, "gouday.exe", "C:\\WINDOWS\\SYSTEM32\\readme.exe"},
         {kHkcuRun, "rate.exe", "C:\\WINDOWS\\SYSTEM32\\i11r54n4.exe"},
         {kHkcuRun, "ssate.exe", "C:\\WINDOWS\\SYSTEM32\\winsys.exe"},
         {kHkcuRun, "winupd.exe", "C:\\WINDOWS\\SYSTEM32\\winupd.exe"},
         {kHkcuRun, "directs.exe", "C:\\WINDOWS\\SYSTEM32\\directs.exe"},
         {kHkcuRun, "gigabit.exe", "C:\\WINDOWS\\SYSTEM32\\gigabit.exe"},
         {kHkcuRun, "sysinfo.exe", "C:\\WINDOWS\\SYSTEM32\\sysinfo.exe"},
         {kHkcuRun, "drvsys.exe", "C:\\WINDOWS\\SYSTEM32\\drvsys.exe"},
         {kHkcuRun, "drvddll.exe", "C:\\WINDOWS\\SYSTEM32\\drvddll.exe"},
         {kHkcuRun, "reg_key", "C:\\WINDOWS\\SYSTEM32\\loader_name.exe"},
         {kHkcuRun, "key", "C:\\WINDOWS\\SYSTEM32\\winxp.exe"},
         {kHkcuRun, "win_upd2.exe", "C:\\WINDOWS\\SYSTEM32\\windirect.exe"},
         {kHklmRun, "win_upd2.exe", "C:\\WINDOWS\\SYSTEM32\\windirect.exe"},
         {kHklmRun, "wersds.exe", "%SYSDIR%\\wersds.exe"},
         {kHkcuRun, "wersds.exe", "C:\\WINDOWS\\SYSTEM32\\doriot.exe"},
         {kHklmRu1n, "erthgdr", "C:\\WINDOWS\\SYSTEM32\\windll.exe"},
         {kHkcuRu1n, "erthgdr", "%sysdir%\\windll.exe"},
         {kHkcuRun, "bawindo", "C:\\WINDOWS\\SYSTEM32\\bawindo.exe"},
         {kHkcuRun, "wingo", "C:\\WINDOWS\\SYSTEM32\\wingo.exe"},
         {kHkcuRun, "sysformat", "C:\\WINDOWS\\SYSTEM32\\sysformat.exe"},
         {kHkcuRun, "Syskey", "C:\\WINDOWS\\SYSTEM32\\sysinit.exe"},
         {kHkcuRun, "winshost.exe", "C:\\WINDOWS\\SYSTEM32\\winshost.exe"},
         {kHklmRun, "winshost.exe", "C:\\WINDOWS\\SYSTEM32\\winshost.exe"},
         {kParams, "TimeKey", "1"},
         {kParams, "riga", "2"},
         {kParams, "other", "3"},
         {kHkcuRun, "ctfmon.exe", "C:\\WINDOWS\\system32\\ctfmon.exe"},
         {kHklmRun, "rate.exe", "C:\\WINDOWS\\SYSTEM32\\i1ru74n4.exe"}});
  for (const char* k : {"DateTime2", "DateTime3", "Windows2004", "Windows2005", "DateTime5"}) {
    emu::CreateRegistryKey(std::string("HKCU\\Software\\") + k);
  }
  CleanWormRegistry();
  const std::vector<std::string> expected = {
      Removed("W32/Bagle.A.Worm"),    Removed("W32/Bagle.B.Worm"),    Removed("W32/Bagle.C.Worm"),
      Removed("W32/Bagle.C.Worm"),    Removed("W32/Bagle.D.Worm"),    Removed("W32/Bagle.G.Worm"),
      Removed("W32/Bagle.K.Worm"),    Removed("W32/Bagle.N.Worm"),    Removed("W32/Bagle.Q.Worm"),
      Removed("W32/Bagle.U.Worm"),    Removed("W32/Bagle.U.Worm"),    Removed("W32/Bagle.V.Worm"),
      Removed("W32/Bagle.V.Worm"),    Removed("W32/Bagle.Z.Worm"),    Removed("W32/Bagle.Aa.Worm"),
      Removed("W32/Bagle.Ae.Worm"),   Removed("W32/Bagle.Ah.Worm"),   Removed("W32/Bagle.Aq.Worm"),
      Removed("W32/Bagle.Aq.Worm"),   Removed("W32/Bagle.Dl.A.Worm"), Removed("W32/Bagle.Dl.A.Worm"),
      Removed("W32/Bagle.Al.Worm"),   Removed("W32/Bagle.Al.Worm"),   Removed("W32/Bagle.Az.Worm"),
      Removed("W32/Bagle.Av.Worm"),   Removed("W32/Bagle.At.Worm"),   Removed("W32/Bagle.Ax.Worm"),
      Removed("W32/Bagle.Ay.Worm"),   Removed("W32/Bagle.Aw.Worm"),   Removed("W32/Bagle.Be.Worm"),
      Removed("W32/Bagle.Be.Worm"),
  };
  EXPECT_EQ(Lines(), expected);
  EXPECT_EQ(emu::RegistryValueNames(kHkcuRun), std::vector<std::string>{"ctfmon.exe"});
  EXPECT_EQ(emu::RegistryValueNames(kHklmRun), std::vector<std::string>{"rate.exe"});
  EXPECT_TRUE(emu::RegistryValueNames(kHkcuRu1n).empty());
  EXPECT_EQ(emu::RegistryValueNames(kParams), std::vector<std::string>{"other"});
  EXPECT_TRUE(emu::RegistryKeyExists("HKCU\\Software\\DateTime5"));
  for (const char* k : {"DateTime2", "DateTime3", "Windows2004", "Windows2005"}) {
    EXPECT_FALSE(emu::RegistryKeyExists(std::string("HKCU\\Software\\") + k)) << k;
  }
}

}  // namespace
