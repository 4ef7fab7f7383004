// The directory walk over real trees on the Wine C: drive, listed by the
// real FindFirstFileA, with the real message queue between entries.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/shared_state.h"
#include "engine/walk.h"
#include "support/recording_scanners.h"
#include "support/recording_window.h"
#include "support/scratch_tree.h"
#include "support/scripted_message_box.h"

using testing::ElementsAre;
using testing::IsEmpty;
using testing::UnorderedElementsAreArray;

namespace {

const std::string Scratch = "C:\\sorvane-test";

bool IsDirectory(DWORD attributes) { return attributes & FILE_ATTRIBUTE_DIRECTORY; }

// Files of `dir` as the walk must hand them on: the directory's own files in
// listing order, then each subdirectory completely, in listing order.
void ExpectedOrder(const std::string& dir, std::vector<std::string>& out) {
  std::vector<ListedEntry> entries = ListPattern(dir + "\\*.*");
  for (const ListedEntry& e : entries) {
    if (!IsDirectory(e.attributes)) out.push_back(dir + "\\" + e.name);
  }
  for (const ListedEntry& e : entries) {
    if (IsDirectory(e.attributes) && e.name != "." && e.name != "..") {
      ExpectedOrder(dir + "\\" + e.name, out);
    }
  }
}

class WalkTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetSharedState();
    MainWindow = window.Handle();
    DrainMessages();
    ScriptAnswers({});
  }
  void TearDown() override { DrainMessages(); }

  RecordingWindow window;
  RecordingScanners scanners;
};

TEST_F(WalkTest, HandsEveryFileOnceInListingOrderFilesBeforeSubdirectories) {
  ScratchTree tree(Scratch + "\\order");
  std::vector<std::string> files = {
      tree.File("a.txt"),
      tree.File("b.exe"),
      tree.File("noext"),
      tree.File("sub1\\c.txt"),
      tree.File("sub1\\deeper\\d.dat"),
      tree.File("sub1\\deeper\\d2.dat"),
      tree.File("sub.two\\e.txt"),        // a directory name with a dot
      tree.File("v1.2.3\\g.h.i"),         // several dots in both
      tree.File("..lead\\f.txt"),         // begins with "..", still entered
      tree.File("z\\y\\x\\w\\deep.bin"),  // depth first
  };
  tree.Dir("empty");
  std::vector<std::string> expected;
  ExpectedOrder(tree.Root(), expected);
  ASSERT_THAT(expected, UnorderedElementsAreArray(files));

  FilesScanned = 1000;  // the result is the running total, not this call's count
  EXPECT_EQ(WalkDirectory((tree.Root() + "\\*.*").c_str()), 1000 + static_cast<int>(files.size()));
  EXPECT_EQ(FilesScanned, 1000 + static_cast<int>(files.size()));

  EXPECT_EQ(scanners.PathsOf(1), expected);
  // Each file is counted before the scanners see it; directories never are.
  const std::vector<ScannerCall>& calls = scanners.Calls();
  int first = 0;
  for (const ScannerCall& call : calls) {
    if (call.row == 1) {
      EXPECT_EQ(call.filesScanned, 1000 + ++first) << call.path;
    }
  }
  EXPECT_THAT(RecordedPrompts(), IsEmpty());
}

TEST_F(WalkTest, EveryListedEntryIsShownDotsIncluded) {
  ScratchTree tree(Scratch + "\\display");
  tree.File("one.txt");
  tree.File("sub\\two.txt");
  WalkDirectory((tree.Root() + "\\*.*").c_str());

  const std::string& r = tree.Root();
  std::vector<std::string> shown = window.statuses;
  for (const std::string& path : {r + "\\.", r + "\\..", r + "\\one.txt", r + "\\sub",
                                  r + "\\sub\\.", r + "\\sub\\..", r + "\\sub\\two.txt"}) {
    EXPECT_EQ(std::count(shown.begin(), shown.end(), path), 1) << path;
  }
  EXPECT_EQ(shown.size(), 7u);
  EXPECT_EQ(scanners.PathsOf(1), (std::vector<std::string>{r + "\\one.txt", r + "\\sub\\two.txt"}));
}

TEST_F(WalkTest, RowsRunInTableOrderUntilOneFinishesTheFile) {
  ScratchTree tree(Scratch + "\\rows");
  std::string plain = tree.File("plain.txt");
  std::string first = tree.File("first.txt");
  std::string second = tree.File("second.txt");
  scanners.FinishWhenNameStarts(1, "first");
  scanners.FinishWhenNameStarts(2, "second");
  WalkDirectory((tree.Root() + "\\*.*").c_str());

  std::map<std::string, std::vector<std::string>> rowsByPath;
  for (const ScannerCall& call : scanners.Calls()) rowsByPath[call.path].push_back(call.name);
  EXPECT_THAT(rowsByPath[plain], ElementsAre("Row.One", "Row.Two", "Row.Three"));
  EXPECT_THAT(rowsByPath[first], ElementsAre("Row.One"));
  EXPECT_THAT(rowsByPath[second], ElementsAre("Row.One", "Row.Two"));
}

TEST_F(WalkTest, SingleFileModeExaminesTheGivenPathOnceWithoutCounting) {
  ScratchTree tree(Scratch + "\\single");
  std::string image = tree.File("prog.exe");
  tree.File("other.exe");
  SingleFileMode = 1;
  FileDetected = 1;
  FilesScanned = 5;
  EXPECT_EQ(WalkDirectory(image.c_str()), 5);
  EXPECT_EQ(FilesScanned, 5);
  EXPECT_EQ(FileDetected, 0);  // cleared on entry
  EXPECT_EQ(scanners.PathsOf(1), std::vector<std::string>{image});
  EXPECT_EQ(window.statuses, std::vector<std::string>{image});
}

TEST_F(WalkTest, LongPathsAreSkippedNeverTruncated) {
  // Levels of 50 characters: the folder at depth 4 is 220 characters long,
  // its pattern still fits 260 bytes; depth 5 (270) no longer does.
  ScratchTree tree(Scratch + "\\long");
  ASSERT_EQ(tree.Root().size(), 20u);
  std::vector<std::string> reachable = {tree.File("f.txt")};
  std::vector<std::string> unreachable;
  std::string level;
  for (int depth = 1; depth <= 6; ++depth) {
    level += std::string(depth == 1 ? "" : "\\") + std::string(49, 'a' + depth);
    std::string file = tree.File(level + "\\f.txt");
    (depth <= 4 ? reachable : unreachable).push_back(file);
    if (depth == 4) {
      // 270 characters: skipped, while the next entries are still handled.
      unreachable.push_back(tree.File(level + "\\" + std::string(45, 'n') + ".txt"));
      reachable.push_back(tree.File(level + "\\g.txt"));
    }
  }
  WalkDirectory((tree.Root() + "\\*.*").c_str());

  EXPECT_THAT(scanners.PathsOf(1), UnorderedElementsAreArray(reachable));
  EXPECT_EQ(FilesScanned, static_cast<int>(reachable.size()));
  ASSERT_FALSE(window.statuses.empty());
  for (const std::string& shown : window.statuses) {
    EXPECT_LE(shown.size(), 60u) << shown;
    if (shown.size() == 60u) {
      EXPECT_EQ(shown.substr(0, 29), tree.Root().substr(0, 20) + "\\bbbbbbbb");
      EXPECT_EQ(shown.substr(29, 2), "..");
    }
  }
}

// Wine cannot make a link from inside (CreateSymbolicLinkA reports success
// and makes nothing, FSCTL_SET_REPARSE_POINT fails), but it reports a Unix
// symbolic link to a directory as a reparse point: scripts/run-wine-tests
// provides such links under C:\sorvane-fixtures\links.
TEST_F(WalkTest, DirectoriesThatAreReparsePointsAreNotEntered) {
  const std::string root = "C:\\sorvane-fixtures\\links";
  std::map<std::string, DWORD> attributes;
  for (const ListedEntry& e : ListPattern(root + "\\*")) attributes[e.name] = e.attributes;
  const DWORD linkBits = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  if ((attributes["link"] & linkBits) != linkBits || (attributes["loop"] & linkBits) != linkBits) {
    GTEST_SKIP() << "no directory links reported as reparse points in " << root
                 << " (run through scripts/run-wine-tests)";
  }
  WalkDirectory((root + "\\*.*").c_str());

  // target\inside.txt once through the real folder; "filelink" is a file
  // entry and passes through the scanners like any file.
  EXPECT_THAT(scanners.PathsOf(1),
              UnorderedElementsAreArray({root + "\\filelink", root + "\\target\\inside.txt"}));
  for (const std::string& shown : window.statuses) {
    EXPECT_EQ(shown.find("\\link\\"), std::string::npos) << shown;
    EXPECT_EQ(shown.find("\\loop\\"), std::string::npos) << shown;
  }
}

// Messages that are in the queue when the walk starts, through the real
// PeekMessageA, TranslateMessage and DispatchMessageA.
TEST_F(WalkTest, QueuedMessagesAreHandledBetweenEntries) {
  ScratchTree tree(Scratch + "\\queue");
  tree.File("a.txt");
  tree.File("b.txt");
  tree.File("sub\\c.txt");
  const std::string pattern = tree.Root() + "\\*.*";
  HWND w = window.Handle();
  struct Case {
    const char* what;
    std::function<void()> post;
    std::vector<int> answers;
    int result;  // -2: the number of files
    size_t prompts;
    bool cancelled;
  } cases[] = {
      {"WM_QUIT", [] { PostQuitMessage(0); }, {}, 0, 0, true},
      {"WM_DESTROY", [w] { PostMessageA(w, WM_DESTROY, 0, 0); }, {}, 0, 0, true},
      {"Escape down, No", [w] { PostMessageA(w, WM_KEYDOWN, VK_ESCAPE, 0); }, {IDNO}, -2, 1, false},
      {"Escape up, Yes", [w] { PostMessageA(w, WM_KEYUP, VK_ESCAPE, 0); }, {IDYES}, 0, 1, true},
      {"any message with wParam 27, Cancel", [] { PostThreadMessageA(GetCurrentThreadId(), WM_APP, 27, 0); },
       {IDCANCEL}, 0, 1, true},
      {"an ordinary message", [w] { PostMessageA(w, WM_APP + 1, 0, 0); }, {}, -2, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ResetSharedState();
    MainWindow = w;
    DrainMessages();
    ScriptAnswers(c.answers);
    window.others.clear();
    scanners.ClearCalls();
    c.post();
    int result = WalkDirectory(pattern.c_str());
    size_t scanned = scanners.PathsOf(1).size();
    EXPECT_EQ(result, c.result == -2 ? 3 : c.result);
    EXPECT_EQ(scanned, c.cancelled ? 0u : 3u);
    EXPECT_EQ(CancelRequested, c.cancelled ? 1 : 0);
    ASSERT_EQ(RecordedPrompts().size(), c.prompts);
    for (const Prompt& p : RecordedPrompts()) {
      EXPECT_EQ(p.text, "Terminate the Scan now?");
      EXPECT_EQ(p.title, "Sorvane Ver 1.0");
      EXPECT_EQ(p.style, 0x24u);
    }
    // Consumed by the walk: the application's own loop never sees it.
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) << msg.message;
  }
  EXPECT_THAT(window.others, ElementsAre(WM_APP + 1u));  // dispatched to the window
}

TEST_F(WalkTest, EscapeDuringTheWalkStopsAtTheNextCheckOrLosesNothing) {
  ScratchTree tree(Scratch + "\\escape");
  for (const char* name : {"1.txt", "2.txt", "3.txt", "sub\\4.txt", "sub\\5.txt"}) tree.File(name);
  const std::string pattern = tree.Root() + "\\*.*";
  HWND w = window.Handle();
  scanners.OnFirstRow([w](size_t n) {
    if (n == 2) PostMessageA(w, WM_KEYDOWN, VK_ESCAPE, 0);
  });
  for (int answer : {IDNO, IDYES}) {
    SCOPED_TRACE(answer == IDNO ? "No" : "Yes");
    ResetSharedState();
    MainWindow = w;
    ScriptAnswers({answer});
    scanners.ClearCalls();
    int result = WalkDirectory(pattern.c_str());
    std::vector<std::string> paths = scanners.PathsOf(1);
    EXPECT_EQ(RecordedPrompts().size(), 1u);
    if (answer == IDNO) {
      EXPECT_EQ(result, 5);
      std::vector<std::string> unique(paths);
      std::sort(unique.begin(), unique.end());
      unique.erase(std::unique(unique.begin(), unique.end()), unique.end());
      EXPECT_EQ(unique.size(), 5u);
      EXPECT_EQ(paths.size(), 5u);
    } else {
      EXPECT_EQ(result, 0);
      EXPECT_EQ(paths.size(), 2u);  // asked right after the second file
      EXPECT_EQ(CancelRequested, 1);
    }
  }
}

}  // namespace
