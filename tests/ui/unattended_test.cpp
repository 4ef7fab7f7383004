// The unattended run's decisions (which command lines are taken, the answer
// to each question, the exit code of a run, the renames a run added) and
// /? on the real program.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/driver.h"
#include "support/program.h"
#include "ui/command_line.h"
#include "ui/unattended_policy.h"
#include "ui/unattended_report.h"

using namespace ui_test;

TEST(Unattended, CommandLines) {
  struct Case {
    std::vector<const char*> args;
    bool quiet, restart, help;
    const char *log, *report, *error;
  };
  const Case cases[] = {
      {{"/quiet"}, true, false, false, "", "", ""},
      {{"-QUIET", "/Restart", "/log", "C:\\a b.log"}, true, true, false, "C:\\a b.log", "", ""},
      {{"/quiet", "/report:C:\\r.json", "/LOG:x.log"}, true, false, false, "x.log", "C:\\r.json", ""},
      {{"/?"}, false, false, true, "", "", ""},
      {{"/quiet", "/bogus"}, true, false, false, "", "", "unknown switch: /bogus"},
      {{"/quiet:yes"}, false, false, false, "", "", "unknown switch: /quiet:yes"},
      {{"/quiet", "/log"}, true, false, false, "", "", "/log needs a file name"},
      {{"/quiet", "/report", "/restart"}, true, false, false, "", "", "/report needs a file name"},
      {{"/quiet", "/log", "a", "/log", "b"}, true, false, false, "a", "", "/log given twice"},
      {{"/restart"}, false, true, false, "", "", "/restart, /log and /report need /quiet"},
      {{"quiet"}, false, false, false, "", "", "not a switch: \"quiet\""},
      {{"/"}, false, false, false, "", "", "not a switch: \"/\""},
  };
  for (const Case& c : cases) {
    CommandLine got = ParseCommandLine(static_cast<int>(c.args.size()), c.args.data());
    std::string what = c.args[0] + std::string(c.args.size() > 1 ? " ..." : "");
    EXPECT_EQ(c.error, got.error) << what;
    if (!*c.error) {
      EXPECT_EQ(c.quiet, got.quiet) << what;
      EXPECT_EQ(c.restart, got.restart) << what;
      EXPECT_EQ(c.help, got.help) << what;
      EXPECT_EQ(c.log, got.log) << what;
      EXPECT_EQ(c.report, got.report) << what;
    }
  }
}

TEST(Unattended, AnswersInPlaceOfAPerson) {
  const char* restart =
      "The system has to be restarted to remove the virus completely from your system. \n\n Restart now?";
  const char* memory = "W32/Murkel.Backdoor found in memory! ... \n\nRestart the computer now?";
  struct Case {
    const char* text;
    unsigned style;
    bool restartGiven;
    int answer;
  };
  const Case cases[] = {
      {restart, 0x24, false, IDNO},  {restart, 0x24, true, IDYES},
      {memory, 0x41, false, IDCANCEL}, {memory, 0x41, true, IDOK},
      // The scan is never cut short, with or without /restart.
      {"Terminate the Scan now?", 36, true, IDNO}, {"Terminate the Scan now?", 36, false, IDNO},
      {"A notice", MB_OK, true, IDOK},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.answer, UnattendedAnswer(c.text, c.style, c.restartGiven)) << c.text << " " << c.restartGiven;
  }
}

TEST(Unattended, ExitCodes) {
  struct Case {
    RunSummary run;
    int code;
  };
  auto run = [](int found, int left, bool restart, bool early, bool terminated) {
    RunSummary r;
    r.found = found;
    r.left = left;
    r.restartNeeded = restart;
    r.endedEarly = early;
    r.terminated = terminated;
    return r;
  };
  const Case cases[] = {
      {run(0, 0, false, false, false), 0}, {run(3, 0, false, false, false), 1},
      {run(3, 1, false, false, false), 2}, {run(1, 0, true, false, false), 2},
      // The memory scan ended the program after its question.
      {run(0, 0, false, true, false), 2}, {run(2, 0, false, false, true), 2},
      // Cut short with nothing found: the machine is not known to be clean.
      {run(0, 0, false, false, true), 3},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.code, ExitCodeOf(c.run)) << c.run.found << " " << c.run.left << " " << c.run.restartNeeded
                                         << " " << c.run.endedEarly << " " << c.run.terminated;
  }
  for (const char* cleaned : {"removed", "Virus removed", "renamed", "Virus renamed"}) {
    EXPECT_TRUE(OutcomeCleaned(cleaned)) << cleaned;
  }
  for (const char* left : {"Unable to remove", "Rename failed", "found", "not disinfected as per user's selection",
                           "Not Disinfected As Per User's Selection", ""}) {
    EXPECT_FALSE(OutcomeCleaned(left)) << left;
  }
}

TEST(Unattended, RenamesAddedByTheRun) {
  std::vector<ReportRename> before = {{"C:\\a.exe", ""}, {"C:\\b.tmp", "C:\\b.exe"}};
  std::vector<ReportRename> after = {{"C:\\a.exe", ""}, {"C:\\b.tmp", "C:\\b.exe"}, {"C:\\a.exe", ""},
                                     {"C:\\c.exe", ""}};
  std::vector<ReportRename> added = AddedRenames(before, after);
  ASSERT_EQ(2u, added.size());
  EXPECT_EQ("C:\\a.exe", added[0].from);
  EXPECT_EQ("C:\\c.exe", added[1].from);
  EXPECT_TRUE(AddedRenames(after, before).empty());
}

TEST(Unattended, HelpShowsTheSwitchesAndScansNothing) {
  Program program;
  ASSERT_TRUE(program.Start(false, "/?"));
  HWND box = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (box = FindTopLevel(program.Id(), [](HWND w) { return IsWindowVisible(w); })) != nullptr; }, 10000));
  EXPECT_EQ("Sorvane Ver 1.0", Text(box));
  // The message text (the box's static control) lists every switch.
  std::string message = ControlText(box, 0xFFFF);
  for (const char* item : {"/quiet", "/restart", "/log FILE", "/report FILE", "Exit codes"}) {
    EXPECT_NE(std::string::npos, message.find(item)) << item << " not in: " << message;
  }
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(program.Ended(10000));
  EXPECT_EQ(0u, program.ExitCode());
}
