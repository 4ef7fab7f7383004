// The directory walk: order of work, counting, the scanner rows, the
// message checks, SingleFileMode and the paths it refuses.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "platform/message_box.h"
#include "engine/scanner_table.h"
#include "engine/walk.h"
#include "tests/support/machine_fixture.h"

namespace {

std::vector<std::string> calls;  // "row:path" for every scanner call
int firstRowResult;

int RecordRow1(const char*, const char* path) {
  calls.push_back(std::string("1:") + path);
  return firstRowResult;
}
int RecordRow2(const char*, const char* path) {
  calls.push_back(std::string("2:") + path);
  return 0;
}
int RecordRow3(const char* name, const char* path) {
  calls.push_back(std::string("3:") + path + "|" + name);
  return 0;
}

const ScannerEntry RecordingTable[] = {
    {"row one", RecordRow1}, {"row two", RecordRow2}, {"row three", RecordRow3}, {nullptr, nullptr}};

const ScannerEntry FirstRowOnly[] = {{"row one", RecordRow1}, {nullptr, nullptr}};

class WalkTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    calls.clear();
    firstRowResult = 0;
    ActiveScannerTable = FirstRowOnly;
  }
  void TearDown() override {
    ActiveScannerTable = ScannerTable;
    MachineTest::TearDown();
  }
  std::vector<std::string> Paths() const {
    std::vector<std::string> out;
    for (const auto& c : calls) out.push_back(c.substr(2));
    return out;
  }
  // Posts a message just before the n-th PeekMessageA from now (0: the next).
  void PostAt(int n, UINT message, WPARAM wParam) {
    int base = emu::CallCount("PeekMessageA");
    emu::OnPeekMessage([=](int call) {
      if (call == base + n) PostMessageA(nullptr, message, wParam, 0);
    });
  }
};

TEST_F(WalkTest, FilesOfADirectoryComeBeforeItsSubdirectoriesInListingOrder) {
  WriteFile("C:\\z.txt");
  WriteFile("C:\\a.txt");
  WriteFile("C:\\b\\d\\e.txt");
  WriteFile("C:\\b\\c.txt");
  WriteFile("C:\\b.dir\\f.txt");
  InstallMainWindow();

  EXPECT_EQ(WalkDirectory("C:\\*.*"), 5);
  EXPECT_EQ(FilesScanned, 5);
  EXPECT_EQ(Paths(), (std::vector<std::string>{"C:\\a.txt", "C:\\z.txt", "C:\\b\\c.txt",
                                               "C:\\b\\d\\e.txt", "C:\\b.dir\\f.txt"}));
  // Every entry is shown, "." and ".." of subdirectories included; the root
  // lists neither.
  const auto& shown = Statuses();
  EXPECT_EQ(std::count(shown.begin(), shown.end(), "C:\\b\\."), 1);
  EXPECT_EQ(std::count(shown.begin(), shown.end(), "C:\\b\\.."), 1);
  EXPECT_EQ(std::count(shown.begin(), shown.end(), "C:\\."), 0);
  EXPECT_EQ(std::count(shown.begin(), shown.end(), "C:\\b"), 1);
  EXPECT_EQ(emu::OpenSearches(), 0u);
}

TEST_F(WalkTest, ReturnsTheRunningTotalNotTheCountOfTheCall) {
  WriteFile("C:\\one\\a");
  WriteFile("C:\\two\\b");
  WalkDirectory("C:\\one\\*.*");
  EXPECT_EQ(WalkDirectory("C:\\two\\*.*"), 2);
}

TEST_F(WalkTest, RowsAreCalledInOrderUntilOneFinishesTheFile) {
  WriteFile("C:\\f.bin");
  ActiveScannerTable = RecordingTable;
  WalkDirectory("C:\\*.*");
  EXPECT_EQ(calls, (std::vector<std::string>{"1:C:\\f.bin", "2:C:\\f.bin", "3:C:\\f.bin|row three"}));

  calls.clear();
  firstRowResult = 1;
  WalkDirectory("C:\\*.*");
  EXPECT_EQ(calls, (std::vector<std::string>{"1:C:\\f.bin"}));
}

TEST_F(WalkTest, DirectoryNamesWithDotsAndLeadingDotsAreEntered) {
  WriteFile("C:\\v1.2.3\\lib.x.dll");
  WriteFile("C:\\.hidden\\g");
  WriteFile("C:\\...\\h");
  WalkDirectory("C:\\*.*");
  EXPECT_EQ(Paths(), (std::vector<std::string>{"C:\\...\\h", "C:\\.hidden\\g", "C:\\v1.2.3\\lib.x.dll"}));
}

TEST_F(WalkTest, PatternWithoutDotAbandonsTheWalk) {
  WriteFile("C:\\d\\a.txt");
  EXPECT_EQ(WalkDirectory("C:\\d\\*"), -1);
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(emu::OpenSearches(), 0u);
}

TEST_F(WalkTest, MissingDirectoryYieldsNothing) {
  EXPECT_EQ(WalkDirectory("C:\\nowhere\\*.*"), 0);
  EXPECT_EQ(WalkDirectory("Q:\\*.*"), 0);
  EXPECT_TRUE(calls.empty());
}

TEST_F(WalkTest, SingleFileModeExaminesTheFileOnceWithoutCountingIt) {
  WriteFile("C:\\x\\app.exe");
  WriteFile("C:\\x\\app.d\\skipped.txt");
  WriteFile("C:\\x\\apapp.d\\inner.txt");
  InstallMainWindow();
  SingleFileMode = 1;
  FileDetected = 1;

  WalkDirectory("C:\\x\\app.exe");
  EXPECT_EQ(FilesScanned, 0);
  EXPECT_EQ(FileDetected, 0);
  EXPECT_EQ(Statuses(), std::vector<std::string>{"C:\\x\\app.exe"});
  // No directory pass: neither app.d nor a pattern reaches a scanner.
  EXPECT_EQ(Paths(), std::vector<std::string>{"C:\\x\\app.exe"});

  calls.clear();
  for (const char* wildcard : {"C:\\x\\*.exe", "C:\\x\\app.ex?", "C:\\x\\*.*"}) {
    WalkDirectory(wildcard);
  }
  EXPECT_TRUE(calls.empty()) << "a wildcard is never handed over as a file path";
}

int DetectingRow2(const char*, const char* path) {
  calls.push_back(std::string("2:") + path);
  if (MemoryAction) return 0;
  FileDetected = 1;
  return 1;
}

TEST_F(WalkTest, TheMemoryActionWalkGoesToTheRowThatRecognisedTheImage) {
  const ScannerEntry table[] = {{"row one", RecordRow1},
                                {"row two", DetectingRow2},
                                {"row three", RecordRow3},
                                {nullptr, nullptr}};
  ActiveScannerTable = table;
  WriteFile("C:\\x\\app.exe");
  SingleFileMode = 1;
  WalkDirectory("C:\\x\\app.exe");
  EXPECT_EQ(DetectingRow, &table[1]);
  MemoryAction = ActionClean;
  WalkDirectory("C:\\x\\app.exe");
  MemoryAction = 0;
  EXPECT_EQ(calls, (std::vector<std::string>{"1:C:\\x\\app.exe", "2:C:\\x\\app.exe",
                                             "2:C:\\x\\app.exe"}));
  WalkDirectory("C:\\x\\other.exe");
  EXPECT_EQ(DetectingRow, nullptr) << "a walk that does not act forgets the row";
}

TEST_F(WalkTest, EscapeAnsweredNoGoesOnAndYesCancels) {
  for (const char* f : {"C:\\a", "C:\\b", "C:\\c", "C:\\d"}) WriteFile(f);

  PostAt(2, WM_KEYDOWN, VK_ESCAPE);
  emu::ScriptAnswers({IDNO});
  EXPECT_EQ(WalkDirectory("C:\\*.*"), 4);
  ASSERT_EQ(emu::Prompts().size(), 1u);
  EXPECT_EQ(emu::Prompts()[0].text, "Terminate the Scan now?");
  EXPECT_EQ(emu::Prompts()[0].title, "Sorvane Ver 1.0");
  EXPECT_EQ(emu::Prompts()[0].style, 0x24u);
  EXPECT_EQ(CancelRequested, 0);
  EXPECT_TRUE(emu::DispatchedMessages().empty());

  calls.clear();
  FilesScanned = 0;
  PostAt(2, WM_KEYUP, 0x1001B);  // any message whose low word is 27
  emu::ScriptAnswers({IDYES});
  EXPECT_EQ(WalkDirectory("C:\\*.*"), 0);
  EXPECT_EQ(CancelRequested, 1);
  EXPECT_EQ(Paths(), (std::vector<std::string>{"C:\\a"}));
  EXPECT_EQ(emu::OpenSearches(), 0u);
}

TEST_F(WalkTest, QuitAndDestroyCancelAndAreConsumed) {
  WriteFile("C:\\d\\e\\f");
  for (UINT message : {WM_QUIT, WM_DESTROY}) {
    CancelRequested = 0;
    calls.clear();
    PostAt(0, message, 0);
    EXPECT_EQ(WalkDirectory("C:\\*.*"), 0);
    EXPECT_EQ(CancelRequested, 1);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(emu::PendingMessages(), 0u);
    EXPECT_TRUE(emu::DispatchedMessages().empty());
  }
}

TEST_F(WalkTest, CancelInADeepDirectoryUnwindsEveryLevel) {
  WriteFile("C:\\a\\b\\c\\d.txt");
  WriteFile("C:\\z\\later.txt");
  ActiveScannerTable = RecordingTable;
  static int* cancel = &CancelRequested;
  struct Canceller {
    static int Row(const char*, const char* path) {
      calls.push_back(std::string("c:") + path);
      *cancel = 1;
      return 0;
    }
  };
  static const ScannerEntry table[] = {{"c", Canceller::Row}, {nullptr, nullptr}};
  ActiveScannerTable = table;
  EXPECT_EQ(WalkDirectory("C:\\*.*"), 0);
  EXPECT_EQ(calls, (std::vector<std::string>{"c:C:\\a\\b\\c\\d.txt"}));
  EXPECT_EQ(emu::OpenSearches(), 0u);
}

TEST_F(WalkTest, OtherMessagesAreDispatchedOneAtATime) {
  WriteFile("C:\\a");
  int timers = 0;
  HWND w = emu::CreateWindow([&](HWND, UINT m, WPARAM, LPARAM) -> LRESULT {
    if (m == WM_TIMER) ++timers;
    return 0;
  });
  for (int i = 0; i < 5; ++i) PostMessageA(w, WM_TIMER, 1, 0);
  WalkDirectory("C:\\*.*");
  // One entry: two checks in the file pass, one in the directory pass.
  EXPECT_EQ(timers, 3);
  EXPECT_EQ(emu::PendingMessages(), 2u);
}

TEST_F(WalkTest, PathsThatWouldNotFitAreSkippedAndTheWalkGoesOn) {
  // A directory whose pattern reaches 259 characters holds a file whose path
  // would need more than 260 bytes.
  std::string dir = "C:\\" + std::string(240, 'd');
  std::string longName = std::string(30, 'n');
  WriteFile(dir + "\\" + longName);
  WriteFile(dir + "\\ok");
  WriteFile("C:\\after.txt");
  std::string deep = dir + "\\" + std::string(20, 's');  // its "\*.*" pattern would not fit
  WriteFile(deep + "\\x");
  WalkDirectory("C:\\*.*");
  EXPECT_EQ(Paths(), (std::vector<std::string>{"C:\\after.txt", dir + "\\ok"}));
  EXPECT_EQ(FilesScanned, 2);
}

TEST_F(WalkTest, ReparsePointsAreShownButNotEntered) {
  WriteFile("C:\\real\\file.txt");
  namespace fs = std::filesystem;
  fs::create_directory_symlink(Root() + "/real", Root() + "/link");
  fs::create_directory_symlink(Root(), Root() + "/real/loop");  // a cycle
  InstallMainWindow();
  WalkDirectory("C:\\*.*");
  EXPECT_EQ(Paths(), (std::vector<std::string>{"C:\\real\\file.txt"}));
  const auto& shown = Statuses();
  EXPECT_EQ(std::count(shown.begin(), shown.end(), "C:\\link"), 1);
  EXPECT_EQ(std::count(shown.begin(), shown.end(), "C:\\real\\loop"), 1);
}

TEST(ShortenForDisplay, KeepsShortPathsAndJoinsLongOnesWithDots) {
  char out[512];
  std::string sixty(60, 'a');
  ASSERT_TRUE(ShortenForDisplay(sixty.c_str(), out, 60));
  EXPECT_EQ(std::string(out), sixty);

  std::string path = "C:\\" + std::string(40, 'x') + "\\" + std::string(40, 'y') + ".exe";
  ASSERT_TRUE(ShortenForDisplay(path.c_str(), out, 60));
  EXPECT_EQ(std::string(out), path.substr(0, 29) + ".." + path.substr(path.size() - 29));
  EXPECT_EQ(std::strlen(out), 60u);

  ASSERT_TRUE(ShortenForDisplay(path.c_str(), out, 61));  // an odd limit gives three dots
  EXPECT_EQ(std::string(out), path.substr(0, 29) + "..." + path.substr(path.size() - 29));

  ASSERT_TRUE(ShortenForDisplay(path.c_str(), out, 3));  // half not positive: unchanged
  EXPECT_EQ(std::string(out), path);

  char tiny[8];
  EXPECT_FALSE(ShortenForDisplay("C:\\a-long-name", tiny, 60, sizeof tiny));
}

}  // namespace
