// The real sorvane.exe driven from outside: its three states, the scan of
// the prefix's C: drive, the cancel prompts, keys, a second start, the
// window's shape; screenshots of what a user sees.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <initializer_list>
#include <set>
#include <string>
#include <vector>

#include "support/driver.h"
#include "support/program.h"

using namespace ui_test;

namespace {

constexpr int kOk = 1070, kCancel = 2, kScan = 1052, kDownload = 1053, kClose = 1054;
constexpr int kDownloadLink = 1077, kUtilityLink = 1080, kLogo = 1085, kTitleLine = 1074;
constexpr int kMakerLine = 1072, kProductNote = 1075, kCaption = 1068, kSearch = 1076;
constexpr int kUpperGroup = 1064, kPath = 1065, kLowerGroup = 1034, kList = 1055;

// Visibility and enabled state of one control: "V" shown, "H" hidden, then
// "E" enabled, "D" disabled, or nothing when it does not matter.
struct ControlState {
  int id;
  const char* state;
};

const std::vector<ControlState> kReady = {
    {kScan, "VE"},         {kDownload, "VE"},    {kClose, "VE"},     {kCancel, "H"},
    {kOk, "HD"},           {kDownloadLink, "VE"}, {kUtilityLink, "VE"}, {kLogo, "V"},
    {kTitleLine, "V"},     {kMakerLine, "V"},    {kProductNote, "H"}, {kCaption, "V"},
    {kSearch, "H"},        {kUpperGroup, "H"},   {kPath, "H"},       {kLowerGroup, "H"},
    {kList, "H"},
};
const std::vector<ControlState> kScanning = {
    {kScan, "VD"},         {kDownload, "VE"},    {kClose, "VE"},     {kCancel, "VE"},
    {kOk, "HE"},           {kDownloadLink, "HD"}, {kUtilityLink, "HD"}, {kLogo, "V"},
    {kTitleLine, "H"},     {kMakerLine, "H"},    {kProductNote, "H"}, {kCaption, "V"},
    {kSearch, "V"},        {kUpperGroup, "V"},   {kPath, "V"},       {kLowerGroup, "V"},
    {kList, "V"},
};
const std::vector<ControlState> kFinished = {
    {kScan, "VD"},         {kDownload, "VE"},    {kClose, "VE"},     {kCancel, "H"},
    {kOk, "VE"},           {kDownloadLink, "HD"}, {kUtilityLink, "HD"}, {kLogo, "V"},
    {kTitleLine, "H"},     {kMakerLine, "H"},    {kProductNote, "H"}, {kCaption, "V"},
    {kSearch, "H"},        {kUpperGroup, "V"},   {kPath, "V"},       {kLowerGroup, "V"},
    {kList, "V"},
};

void ExpectStates(HWND dialog, const std::vector<ControlState>& table, const char* state) {
  for (const ControlState& c : table) {
    SCOPED_TRACE(std::string(state) + ", control " + std::to_string(c.id));
    EXPECT_EQ(c.state[0] == 'V', Visible(dialog, c.id));
    if (c.state[1]) {
      EXPECT_EQ(c.state[1] == 'E', Enabled(dialog, c.id));
    }
  }
}

const RECT kSkin = {0, 0, 527, 338};

// Presses SCAN and waits until the walk shows its first path. (A cancel
// confirmed before the timer has started the run does not stop it: the run
// then starts inside the prompt and ends before the answer is read.)
bool StartScan(Program& program) {
  HWND dialog = program.Dialog();
  Click(dialog, kScan);
  return WaitUntil([&] { return ControlText(dialog, kPath).find(":\\") != std::string::npos; }) &&
         Sync(dialog);
}

bool WaitForFinish(Program& program) {
  return WaitUntil([&] { return !Visible(program.Dialog(), kCancel) &&
                                Visible(program.Dialog(), kOk) &&
                                ControlText(program.Dialog(), kUpperGroup).empty(); },
                   60000) &&
         Sync(program.Dialog());
}

// The results list ends with the statistics block.
void ExpectStatistics(HWND dialog, bool infected) {
  std::vector<std::string> lines = ListLines(GetDlgItem(dialog, kList));
  ASSERT_GE(lines.size(), 5u);
  size_t at = lines.size() - 5;
  EXPECT_EQ("Scanning statistics", lines[at]);
  EXPECT_EQ(std::string(30, '-'), lines[at + 1]);
  EXPECT_EQ(0u, lines[at + 2].find("Total files scanned\t\t:  "));
  EXPECT_EQ(0u, lines[at + 3].find("Total files infected\t\t:  "));
  EXPECT_EQ(0u, lines[at + 4].find("Total files removed\t\t:  "));
  if (infected) {
    ASSERT_GE(at, 1u);
    EXPECT_EQ(" ", lines[at - 1]);
  }
}

// Answers the open prompt with button `id` and waits until it has gone.
void Answer(Program& program, HWND prompt, int id) {
  Click(prompt, id);
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(prompt); }));
  Sync(program.Dialog());
}

// The prompt a cancel request raises, with its title.
HWND ExpectTerminatePrompt(Program& program, const char* title) {
  HWND prompt = WaitForMessageDialog(program.Id());
  if (!prompt) {
    ADD_FAILURE() << "no prompt (did the scan end too soon?)";
    return nullptr;
  }
  Sync(prompt);
  EXPECT_EQ(title, Text(prompt));
  EXPECT_EQ("Terminate the Scan now?", ControlText(prompt, 1086));
  EXPECT_TRUE(Visible(prompt, IDYES));
  EXPECT_TRUE(Visible(prompt, IDNO));
  EXPECT_FALSE(Visible(prompt, IDOK));
  EXPECT_FALSE(Visible(prompt, 3));
  return prompt;
}

bool SetInstalledValue(const char* value, DWORD size) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Tarvel\\Kelvora 2000", 0, nullptr, 0,
                      KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  bool ok = !value || RegSetValueExA(key, "Installed Folder", 0, REG_SZ,
                                     reinterpret_cast<const BYTE*>(value), size) == ERROR_SUCCESS;
  RegCloseKey(key);
  return ok;
}

void RemoveInstalledKey() {
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Tarvel\\Kelvora 2000");
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Tarvel");
}

// Absolute mouse input at screen point (x, y), as a user's hand gives it.
void Mouse(DWORD flags, int x, int y) {
  INPUT input = {};
  input.type = INPUT_MOUSE;
  input.mi.dx = x * 65535 / (GetSystemMetrics(SM_CXSCREEN) - 1);
  input.mi.dy = y * 65535 / (GetSystemMetrics(SM_CYSCREEN) - 1);
  input.mi.dwFlags = flags | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE;
  SendInput(1, &input, sizeof input);
  Sleep(50);
}

// The pixels of `area` of the screen, or of picture `name` when given.
std::vector<COLORREF> Pixels(const RECT& area, const char* name = nullptr) {
  int width = area.right - area.left, height = area.bottom - area.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFOHEADER header = {sizeof header, width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP copy = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS,
                                  &bits, nullptr, 0);
  HGDIOBJ previous = SelectObject(memory, copy);
  if (name) {
    HBITMAP picture = static_cast<HBITMAP>(
        LoadImageA(GetModuleHandleA(nullptr), name, IMAGE_BITMAP, 0, 0, LR_LOADMAP3DCOLORS));
    HDC source = CreateCompatibleDC(memory);
    HGDIOBJ old = SelectObject(source, picture);
    BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY);
    SelectObject(source, old);
    DeleteDC(source);
    DeleteObject(picture);
  } else {
    BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
  }
  GdiFlush();
  const auto* p = static_cast<const COLORREF*>(bits);
  std::vector<COLORREF> pixels(p, p + width * height);
  SelectObject(memory, previous);
  DeleteObject(copy);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return pixels;
}

}  // namespace

// The screen shows picture `name` at `area` of the dialog. What a window
// paints reaches the screen a little later under Wine, so this waits.
bool ShowsPicture(HWND dialog, const RECT& area, const char* name) {
  const std::vector<COLORREF> expected = Pixels(area, name);
  Repaint(dialog);
  return WaitUntil([&] { return Pixels(area) == expected; }, 2000);
}

// A screenshot of the skin once what the windows paint has reached the screen.
void Shot(const char* name, std::initializer_list<HWND> windows) {
  for (HWND w : windows) Repaint(w);
  Sleep(200);
  EXPECT_TRUE(SaveScreenshot(name, kSkin));
}

TEST(Program, ReadyStateThenXEndsWithoutQuestion) {
  Program program;
  ASSERT_TRUE(program.Start());
  HWND dialog = program.Dialog();
  ExpectStates(dialog, kReady, "Ready");
  EXPECT_EQ("Sorvane Ver 1.0", Text(dialog));
  EXPECT_EQ("Sorvane Ver 1.0 - Tool to detect and remove all the variants of W32/Murkel Backdoor",
            ControlText(dialog, kTitleLine));
  EXPECT_EQ("for W32/Murkel Backdoor", ControlText(dialog, kCaption));
  EXPECT_EQ(0u, ControlText(dialog, kMakerLine).find("Copyright"));

  RECT window = WindowRect(dialog);
  EXPECT_EQ(0, window.left);
  EXPECT_EQ(0, window.top);
  EXPECT_EQ(600, window.right - window.left);
  EXPECT_EQ(462, window.bottom - window.top);
  HRGN region = CreateRectRgn(0, 0, 0, 0);
  ASSERT_NE(ERROR, GetWindowRgn(dialog, region));
  RECT box;
  GetRgnBox(region, &box);
  DeleteObject(region);
  EXPECT_TRUE(EqualRect(&kSkin, &box)) << box.right << " x " << box.bottom;

  // The bitmap buttons took their pictures' sizes.
  RECT scan = WindowRect(GetDlgItem(dialog, kScan));
  EXPECT_EQ(180, scan.right - scan.left);
  EXPECT_EQ(33, scan.bottom - scan.top);
  Shot("ready", {dialog});

  Click(dialog, kClose);
  EXPECT_TRUE(program.Ended());
  EXPECT_EQ(0u, program.ExitCode());
}

TEST(Program, InstalledProductTest) {
  enum End { kEscape, kSystemMenu, kX };
  struct Case {
    const char* value;  // null: the key without the value
    size_t size;
    bool installed;
    End end;  // each way ends the program before a scan, unasked
  };
  const std::string longValue(400, 'k');
  const Case cases[] = {
      {"C:\\Program Files\\Kelvora", 25, true, kEscape},
      {nullptr, 0, false, kSystemMenu},
      {longValue.c_str(), longValue.size() + 1, false, kX},  // does not fit the 300-byte read
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value ? c.value : "(no value)");
    ASSERT_TRUE(SetInstalledValue(c.value, static_cast<DWORD>(c.size)));
    Program program;
    ASSERT_TRUE(program.Start());
    HWND dialog = program.Dialog();
    EXPECT_TRUE(Visible(dialog, kDownload));
    EXPECT_EQ(!c.installed, Enabled(dialog, kDownload));
    EXPECT_EQ(!c.installed, Visible(dialog, kDownloadLink));
    EXPECT_EQ(c.installed, Visible(dialog, kProductNote));
    if (c.installed) {
      EXPECT_EQ("This program is a part of Kelvora antivirus software.",
                ControlText(dialog, kProductNote));
      RECT r = WindowRect(GetDlgItem(dialog, kDownload));
      EXPECT_TRUE(ShowsPicture(dialog, r, "DOWNLOAD_DISABLE"));
    }
    if (c.end == kEscape) PressKey(dialog, VK_ESCAPE);
    if (c.end == kSystemMenu) PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    if (c.end == kX) Click(dialog, kClose);
    EXPECT_TRUE(program.Ended());
    RemoveInstalledKey();
  }
}

TEST(Program, ScanRunsToTheStatisticsAndEnterNeverEnds) {
  const std::string sample = "C:\\sorvane-fixtures\\sample\\murkel.exe";
  CreateDirectoryA("C:\\sorvane-fixtures", nullptr);
  CreateDirectoryA("C:\\sorvane-fixtures\\sample", nullptr);
  bool planted = PlantSample(sample);

  Program program;
  ASSERT_TRUE(program.Start());
  HWND dialog = program.Dialog();
  PressKey(dialog, VK_RETURN);
  ASSERT_TRUE(Sync(dialog));
  ASSERT_FALSE(program.Ended(200)) << "Enter ended the dialog";

  ASSERT_TRUE(StartScan(program));
  ExpectStates(dialog, kScanning, "Scanning");
  EXPECT_EQ("Scanning", ControlText(dialog, kUpperGroup));
  EXPECT_EQ("Searching for W32/Murkel Backdoor and its variants", ControlText(dialog, kSearch));

  ASSERT_TRUE(WaitForFinish(program));
  ExpectStates(dialog, kFinished, "Finished");
  EXPECT_EQ("Scanning completed", ControlText(dialog, kPath));
  // The disabled SCAN shows its plain light-blue picture.
  EXPECT_TRUE(ShowsPicture(dialog, WindowRect(GetDlgItem(dialog, kScan)), "SCAN_DISABLE"));
  ExpectStatistics(dialog, planted);
  std::vector<std::string> lines = ListLines(GetDlgItem(dialog, kList));
  if (planted) {
    bool reported = false;
    for (const std::string& line : lines) {
      reported = reported || (line.find(sample + "     W32/Murkel.") == 0 &&
                              line.find(".Backdoor removed") != std::string::npos);
    }
    EXPECT_TRUE(reported) << "no results line for the sample";
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(sample.c_str()));
  } else {
    std::printf("[   NOTE   ] no sample provided: no detection checked\n");
  }
  Shot("finished", {dialog});

  // The platform's own messages 11 and 10 run the same handlers: the last
  // line is appended again, the path display keeps the final status.
  SendMessageA(dialog, WM_SETREDRAW, 0, 0);
  SendMessageA(dialog, WM_ENABLE, 1, 0);
  std::vector<std::string> after = ListLines(GetDlgItem(dialog, kList));
  ASSERT_EQ(lines.size() + 1, after.size());
  EXPECT_EQ(lines.back(), after.back());
  EXPECT_EQ("Scanning completed", ControlText(dialog, kPath));

  PressKey(dialog, VK_RETURN);
  ASSERT_TRUE(Sync(dialog));
  ASSERT_FALSE(program.Ended(200)) << "Enter ended the dialog";
  Click(dialog, kOk);
  EXPECT_TRUE(program.Ended());
  EXPECT_EQ(0u, program.ExitCode());
}

TEST(Program, CancelAsksAndYesTerminatesTheScan) {
  Program program;
  ASSERT_TRUE(program.Start());
  HWND dialog = program.Dialog();
  ASSERT_TRUE(StartScan(program));
  Click(dialog, kCancel);
  HWND prompt = ExpectTerminatePrompt(program, "Sorvane Ver 1.0");
  ASSERT_TRUE(prompt);
  // Centred over the main window.
  RECT p = WindowRect(prompt), w = WindowRect(dialog);
  EXPECT_NEAR((w.left + w.right) / 2, (p.left + p.right) / 2, 1);
  EXPECT_NEAR((w.top + w.bottom) / 2, (p.top + p.bottom) / 2, 1);
  Shot("message", {dialog, prompt});
  // The scan waits for the answer: show the scanning layout without the prompt.
  SetWindowPos(prompt, nullptr, 700, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  Shot("scanning", {dialog});
  ExpectStates(dialog, kScanning, "Scanning under the prompt");

  Answer(program, prompt, IDYES);
  EXPECT_TRUE(Visible(dialog, kOk));
  EXPECT_FALSE(Visible(dialog, kCancel));
  ASSERT_TRUE(WaitForFinish(program));
  EXPECT_EQ("Scanning terminated", ControlText(dialog, kPath));
  ExpectStatistics(dialog, false);
  Click(dialog, kClose);  // after the scan X ends the program unasked
  EXPECT_TRUE(program.Ended());
}

TEST(Program, CloseButtonAsksWithItsOwnTitleAndNoContinues) {
  Program program;
  ASSERT_TRUE(program.Start());
  HWND dialog = program.Dialog();
  ASSERT_TRUE(StartScan(program));
  Click(dialog, kClose);
  HWND prompt = ExpectTerminatePrompt(program, "DialogBoxTitle");
  ASSERT_TRUE(prompt);
  Answer(program, prompt, IDNO);
  EXPECT_TRUE(Visible(dialog, kCancel));
  EXPECT_FALSE(Visible(dialog, kOk));
  ASSERT_TRUE(WaitForFinish(program));
  EXPECT_EQ("Scanning completed", ControlText(dialog, kPath));
}

TEST(Program, SystemMenuCloseAsksEscapeContinuesYesTerminates) {
  Program program;
  ASSERT_TRUE(program.Start());
  HWND dialog = program.Dialog();
  ASSERT_TRUE(StartScan(program));
  PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
  HWND prompt = ExpectTerminatePrompt(program, "Sorvane Ver 1.0");
  ASSERT_TRUE(prompt);
  PressKey(prompt, VK_ESCAPE);  // answers NO
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(prompt); }));
  EXPECT_TRUE(Visible(dialog, kCancel));

  PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
  prompt = ExpectTerminatePrompt(program, "Sorvane Ver 1.0");
  ASSERT_TRUE(prompt);
  Answer(program, prompt, IDYES);
  ASSERT_TRUE(WaitForFinish(program));
  EXPECT_EQ("Scanning terminated", ControlText(dialog, kPath));
}

TEST(Program, EscapeDuringTheWalkAsksTheWalksQuestion) {
  Program program;
  ASSERT_TRUE(program.Start());
  HWND dialog = program.Dialog();
  ASSERT_TRUE(StartScan(program));
  PostMessageA(dialog, WM_KEYDOWN, VK_ESCAPE, 1);
  HWND prompt = ExpectTerminatePrompt(program, "Sorvane Ver 1.0");
  ASSERT_TRUE(prompt);
  // The walk's own prompt leaves CANCEL and OK as they are.
  EXPECT_TRUE(Visible(dialog, kCancel));
  EXPECT_FALSE(Visible(dialog, kOk));
  Answer(program, prompt, IDYES);
  ASSERT_TRUE(WaitForFinish(program));
  EXPECT_EQ("Scanning terminated", ControlText(dialog, kPath));
  ExpectStates(dialog, kFinished, "Finished after Escape");
}

TEST(Program, SecondStartShowsNothingAndEnds) {
  Program first;
  ASSERT_TRUE(first.Start());
  Program second;
  ASSERT_TRUE(second.Start(false));
  EXPECT_TRUE(second.Ended());
  EXPECT_EQ(0u, second.ExitCode());
  EXPECT_EQ(nullptr, FindTopLevel(second.Id(), [](HWND) { return true; }));
  EXPECT_FALSE(first.Ended(0));
}

TEST(Program, DownloadOffersOpenTheMakersPages) {
  // This exe stands in for the browser (see support/main.cpp).
  const char kKey[] = "Software\\Classes\\http\\shell\\open\\command";
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                           nullptr, &key, nullptr));
  char previous[512] = {};
  DWORD previousSize = sizeof previous - 1;
  bool hadPrevious = RegQueryValueExA(key, nullptr, nullptr, nullptr,
                                      reinterpret_cast<BYTE*>(previous), &previousSize) == 0;
  std::string command = "\"" + ExeFolder() + "sorvane_ui_tests.exe\" --record-url \"%1\"";
  RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                 static_cast<DWORD>(command.size() + 1));
  const std::string log = ExeFolder() + "urls.txt";
  DeleteFileA(log.c_str());
  const std::set<DWORD> before = ProcessIds();

  Program program;
  ASSERT_TRUE(program.Start());
  for (int id : {kDownload, kDownloadLink, kUtilityLink}) Click(program.Dialog(), id);
  std::vector<std::string> urls;
  WaitUntil([&] {
    urls.clear();
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) urls.push_back(line);
    return urls.size() >= 3;
  });
  std::sort(urls.begin(), urls.end());
  const std::vector<std::string> expected = {
      "http://www.tarvel-software.com/download/downloadnow.htm",
      "http://www.tarvel-software.com/download/downloadnow.htm",
      "http://www.tarvel-software.com/download/utility.htm"};
  EXPECT_EQ(expected, urls);
  // Each stand-in browser is a console program: Wine opens a console
  // window for it, which takes the activation when it appears, possibly
  // from the next test's window. Wait until they and their consoles ended.
  EXPECT_TRUE(WaitUntil([&] {
    for (DWORD id : ProcessIds()) {
      if (!before.count(id) && id != program.Id()) return false;
    }
    return true;
  }, 10000)) << "the stand-in browsers are still running";

  if (hadPrevious) {
    RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(previous),
                   previousSize);
  }
  RegCloseKey(key);
  Click(program.Dialog(), kClose);
  EXPECT_TRUE(program.Ended());
}

TEST(Program, HoverMakesAButtonHotAndAPressOnTheSurfaceDrags) {
  Program program;
  ASSERT_TRUE(program.Start());
  HWND dialog = program.Dialog();
  HWND download = GetDlgItem(dialog, kDownload);
  RECT r = WindowRect(download);
  GUITHREADINFO gui = {};
  gui.cbSize = sizeof gui;
  DWORD thread = GetWindowThreadProcessId(dialog, nullptr);

  // Activation reaches a new window a little later; hovering before it
  // would have the focus taken back.
  ASSERT_TRUE(WaitUntil([&] { return GetForegroundWindow() == dialog; }));
  Mouse(0, (r.left + r.right) / 2, (r.top + r.bottom) / 2);
  ASSERT_TRUE(WaitUntil([&] { return GetGUIThreadInfo(thread, &gui) && gui.hwndFocus == download; }));
  EXPECT_EQ(download, gui.hwndCapture);
  EXPECT_TRUE(ShowsPicture(dialog, r, "DOWNLOAD_FOCUS"));

  // Off the button onto the free surface of the top band: NOTFOCUS again,
  // the keyboard focus stays; a press there drags the window.
  Mouse(0, 250, 12);
  ASSERT_TRUE(WaitUntil([&] { return GetGUIThreadInfo(thread, &gui) && !gui.hwndCapture; }));
  EXPECT_EQ(download, gui.hwndFocus);
  EXPECT_TRUE(ShowsPicture(dialog, r, "DOWNLOAD_NOTFOCUS"));

  Mouse(MOUSEEVENTF_LEFTDOWN, 250, 12);
  for (int step = 1; step <= 5; ++step) Mouse(0, 250 + 20 * step, 12 + 20 * step);
  Mouse(MOUSEEVENTF_LEFTUP, 350, 112);
  Sync(dialog);
  EXPECT_TRUE(WaitUntil([&] { return WindowRect(dialog).left == 100; }, 2000));
  RECT moved = WindowRect(dialog);
  EXPECT_EQ(100, moved.left);
  EXPECT_EQ(100, moved.top);
  Mouse(0, 1200, 1000);  // out of the way of the next program's window
  Click(dialog, kClose);
  EXPECT_TRUE(program.Ended());
}
