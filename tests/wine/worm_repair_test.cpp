// The worm disinfector and the script cleaner on the real platform: forged
// infections of a small real program built by the project are repaired
// through the real file calls, and the repaired program runs as before.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "engine/shared_state.h"
#include "scanners/script_scanner.h"
#include "scanners/worm_disinfector.h"
#include "support/process_helpers.h"
#include "support/recording_window.h"
#include "support/scratch_tree.h"
#include "tools/forge/forge_worm_script.h"


// The bytes of support/repair_host.c's program, embedded at build time.
extern const unsigned char RepairHost[];
extern const size_t RepairHost_size;

namespace {

const char kRow[] = "W32/Joleee.Worm";

std::string Text(const forge::Bytes& b) { return std::string(b.begin(), b.end()); }

struct RunResult {
  bool started = false;
  DWORD exitCode = 0;
  std::string output;
};

// Runs `exe` with its standard output going to a file, and waits for it.
RunResult RunProgram(const std::string& exe) {
  RunResult r;
  const std::string outPath = exe + ".out";
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE out = CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                           0, nullptr);
  if (out == INVALID_HANDLE_VALUE) return r;
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = out;
  si.hStdError = out;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi{};
  std::string command = "\"" + exe + "\"";
  r.started = CreateProcessA(exe.c_str(), &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                             &si, &pi);
  CloseHandle(out);
  if (!r.started) return r;
  WaitForSingleObject(pi.hProcess, 30000);
  GetExitCodeProcess(pi.hProcess, &r.exitCode);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  r.output = ReadText(outPath);
  DeleteFileA(outPath.c_str());
  return r;
}

class WormRepairTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetSharedState();
    MainWindow = window.Handle();
    ActionMode = ActionClean;
    host.assign(RepairHost, RepairHost + RepairHost_size);
  }
  void TearDown() override { DrainMessages(); }
  RecordingWindow window;
  ScratchTree tree{"C:\\sorvane-worm"};
  forge::Bytes host;
};

TEST_F(WormRepairTest, RepairedCopiesRunAsTheHost) {
  const std::string original = tree.File("host.exe", Text(host));
  const RunResult expected = RunProgram(original);
  // The host is a 32-bit program: a 64-bit test exe under a wine64 without
  // 32-bit support checks the repaired bytes only. There the start may
  // still be reported, but the host never runs and prints nothing.
  const bool hostRuns = sizeof(void*) == 4 || (expected.started && !expected.output.empty());
  if (hostRuns) {
    ASSERT_TRUE(expected.started);
    ASSERT_EQ(expected.exitCode, 42u);
    ASSERT_EQ(expected.output.rfind("repair host: 1 arguments, 42", 0), 0u) << expected.output;
  }

  struct Case {
    const char* variant;
    const char* name;
  };
  const Case cases[] = {
      {"N", "W32/Bagle.N.Worm"}, {"O", "W32/Bagle.O.Worm"}, {"Q", "W32/Bagle.Q.Worm"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.variant);
    forge::Bytes infected;
    std::string why;
    ASSERT_TRUE(forge::InfectWithWorm(host, c.variant, {}, &infected, &why)) << why;
    const std::string path = tree.File(std::string("copy") + c.variant + ".exe", Text(infected));
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    window.lines.clear();

    EXPECT_EQ(ScanWormFile(kRow, path.c_str()), 0);
    EXPECT_EQ(window.lines, std::vector<std::string>{path + "     " + c.name + " Virus removed"});
    EXPECT_EQ(ReadText(path), Text(host)) << "the repair gives the host back byte for byte";

    if (!hostRuns) continue;
    const RunResult repaired = RunProgram(path);
    EXPECT_TRUE(repaired.started);
    EXPECT_EQ(repaired.exitCode, expected.exitCode);
    EXPECT_EQ(repaired.output, expected.output);
  }
  EXPECT_EQ(FilesInfected, 3);
  EXPECT_EQ(FilesDisinfected, 3);
}

TEST_F(WormRepairTest, CleanProgramsAndReportedCopiesAreLeftAsTheyWere) {
  const std::string clean = tree.File("clean.exe", Text(host));
  ASSERT_TRUE(SetFileAttributesA(clean.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  const DWORD before = GetFileAttributesA(clean.c_str());
  EXPECT_EQ(ScanWormFile(kRow, clean.c_str()), 0);
  EXPECT_EQ(GetFileAttributesA(clean.c_str()), before);
  EXPECT_EQ(ReadText(clean), Text(host));

  forge::Bytes infected;
  std::string why;
  ASSERT_TRUE(forge::InfectWithWorm(host, "Q", {}, &infected, &why)) << why;
  const std::string reported = tree.File("reported.exe", Text(infected));
  ActionMode = ActionReport;
  EXPECT_EQ(ScanWormFile(kRow, reported.c_str()), 0);
  EXPECT_EQ(ReadText(reported), Text(infected));
  EXPECT_EQ(window.lines, std::vector<std::string>{reported + "     W32/Bagle.Q.Worm found"});
}

TEST_F(WormRepairTest, ScriptSamplesAreDeletedUnlessReadOnly) {
  forge::Bytes page;
  std::string why;
  ASSERT_TRUE(forge::ScriptSample(12, {}, &page, &why)) << why;
  const std::string removed = tree.File("web\\index.htm", Text(page));
  const std::string kept = tree.File("web\\kept.htm", Text(page));
  ASSERT_TRUE(SetFileAttributesA(kept.c_str(), FILE_ATTRIBUTE_READONLY));

  EXPECT_EQ(ScanScriptFile(kRow, removed.c_str()), 1);
  EXPECT_EQ(ScanScriptFile(kRow, kept.c_str()), 1);
  EXPECT_EQ(GetFileAttributesA(removed.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(GetFileAttributesA(kept.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(window.lines, (std::vector<std::string>{
                              removed + "     HTML/Bagle.Dl.A.Trojan Virus removed",
                              kept + "     HTML/Bagle.Dl.A.Trojan Unable to remove"}));
  SetFileAttributesA(kept.c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace
