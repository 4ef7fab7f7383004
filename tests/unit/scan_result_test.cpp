// Result records: the line each kind makes, the full line for sinks when
// the list's buffer cuts it, and the registry entry behind every line of
// the sweep, also when a hook runs the sweep once per profile.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cleanup/registry_cleanup.h"
#include "engine/scan_result.h"
#include "engine/text.h"
#include "tests/support/machine_fixture.h"

namespace {

struct Seen {
  ResultSubject subject;
  std::string path, detection, outcome, line, removed;
};
std::vector<Seen> seen;

void Record(const ScanResult& r, const char* line) {
  std::string removed;
  if (r.removal) {
    removed = std::string(r.removal->root == HKEY_LOCAL_MACHINE ? "HKLM\\" : "HKCU\\") + r.removal->keyPath +
              (r.removal->valueName ? std::string(" : ") + r.removal->valueName : " (key)");
  }
  seen.push_back(Seen{r.subject, r.path, r.detection, r.outcome, line, removed});
}

class ScanResultTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    InstallMainWindow();
    seen.clear();
    ASSERT_TRUE(AddResultSink(Record));
  }
  void TearDown() override {
    SetProfileSweepHook(nullptr);
    MachineTest::TearDown();
  }
};

TEST_F(ScanResultTest, EachKindMakesItsLineForTheListAndTheSinks) {
  const RegistryRemoval run{HKEY_CURRENT_USER, "Software\\Run", "au.exe"};
  EmitFileResult("C:\\a b\\x.exe", "W32/Bagle.A.Worm", "Virus removed");
  EmitMemoryResult("W32/Murkel.Backdoor", "removed");
  EmitRegistryRemoval("W32/Bagle.B.Worm", run);
  const std::vector<std::string> expected = {"C:\\a b\\x.exe     W32/Bagle.A.Worm Virus removed",
                                             "System Memory    W32/Murkel.Backdoor removed",
                                             "System Registry     W32/Bagle.B.Worm removed"};
  EXPECT_EQ(Lines(), expected);
  ASSERT_EQ(seen.size(), 3u);
  for (size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i].line, expected[i]);
  EXPECT_EQ(seen[0].path, "C:\\a b\\x.exe");
  EXPECT_EQ(seen[0].outcome, "Virus removed");
  EXPECT_EQ(seen[1].subject, ResultSubject::Memory);
  EXPECT_EQ(seen[2].removed, "HKCU\\Software\\Run : au.exe");
}

TEST_F(ScanResultTest, SinksGetTheWholeLineWhereTheListCutsIt) {
  const std::string path = "C:\\" + std::string(1500, 'd') + "\\x.exe";
  EmitFileResult(path.c_str(), "W32/Bagle.A.Worm", "found");
  ASSERT_EQ(Lines().size(), 1u);
  EXPECT_EQ(Lines()[0].size(), size_t(LogLineSize - 1));
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].line, path + "     W32/Bagle.A.Worm found");
  // A sink removed hears nothing more; one added twice hears once.
  ASSERT_TRUE(AddResultSink(Record));
  EmitMemoryResult("X", "removed");
  EXPECT_EQ(seen.size(), 2u);
  RemoveResultSink(Record);
  EmitMemoryResult("X", "removed");
  EXPECT_EQ(seen.size(), 2u);
}

// Every "System Registry" record names the entry its removal took, in the
// order of the lines; a hook that runs the sweep twice gets both passes.
TEST_F(ScanResultTest, RegistryRecordsNameWhatWent) {
  const char run[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
  emu::SetRegistryString((std::string("HKCU\\") + run).c_str(), "gouday.exe", "c:\\windows\\system32\\readme.exe");
  emu::SetRegistryString((std::string("HKLM\\") + run).c_str(), "launch", "\"C:\\evil.exe\" /x");
  emu::CreateRegistryKey("HKCU\\Software\\DateTime2");
  CopyText(CurrentScanFile, "C:\\evil.exe");
  static int passes;
  passes = 0;
  SetProfileSweepHook([](int (*sweep)()) {
    int result = 0;
    for (int i = 0; i < 2; ++i, ++passes) result = sweep();
    return result;
  });
  EXPECT_EQ(CleanWormRegistry(), 1);
  EXPECT_EQ(passes, 2);
  std::vector<std::string> removed;
  for (const auto& s : seen) {
    EXPECT_EQ(s.subject, ResultSubject::Registry);
    removed.push_back(s.detection + " " + s.removed);
  }
  EXPECT_EQ(removed, (std::vector<std::string>{
                         "W32/Bagle.C.Worm HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run : gouday.exe",
                         "W32/Bagle.C.Worm HKCU\\Software\\DateTime2 (key)",
                         "W32/Murkel.Backdoor HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run : launch"}));
  EXPECT_EQ(Lines().size(), seen.size());
}

}  // namespace
