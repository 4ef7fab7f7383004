// Window finding, clicking, reading and screenshots for the UI tests.
#include "support/driver.h"

#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>

namespace ui_test {

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    if (condition()) return true;
    if (static_cast<int>(GetTickCount() - start) > timeoutMs) return false;
    Sleep(10);
  }
}

namespace {

struct Search {
  DWORD processId;
  const std::function<bool(HWND)>* match;
  HWND found;
};

BOOL CALLBACK VisitTopLevel(HWND window, LPARAM param) {
  auto* s = reinterpret_cast<Search*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != s->processId || !IsWindowVisible(window) || !(*s->match)(window)) return TRUE;
  s->found = window;
  return FALSE;
}

}  // namespace

HWND FindTopLevel(DWORD processId, const std::function<bool(HWND)>& match) {
  Search s{processId, &match, nullptr};
  EnumWindows(&VisitTopLevel, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

HWND FindMainDialog(DWORD processId) {
  return FindTopLevel(processId, [](HWND w) { return GetDlgItem(w, 1052) != nullptr; });
}

HWND FindMessageDialog(DWORD processId) {
  return FindTopLevel(processId, [](HWND w) { return GetDlgItem(w, 1086) != nullptr; });
}

HWND WaitForMessageDialog(DWORD processId, int timeoutMs) {
  HWND found = nullptr;
  WaitUntil([&] { return (found = FindMessageDialog(processId)) != nullptr; }, timeoutMs);
  return found;
}

bool Sync(HWND window, int timeoutMs) {
  DWORD_PTR answer;
  return SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, static_cast<UINT>(timeoutMs),
                             &answer) != 0;
}

void Repaint(HWND window) {
  RedrawWindow(window, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  Sync(window);
}

void Click(HWND dialog, int id) {
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void PressKey(HWND window, WPARAM key) {
  PostMessageA(window, WM_KEYDOWN, key, 1);
  PostMessageA(window, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
}

std::string Text(HWND window) {
  char text[1024] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

std::string ControlText(HWND dialog, int id) { return Text(GetDlgItem(dialog, id)); }

bool Visible(HWND dialog, int id) { return IsWindowVisible(GetDlgItem(dialog, id)) != 0; }

bool Enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != 0; }

RECT WindowRect(HWND window) {
  RECT r = {};
  GetWindowRect(window, &r);
  return r;
}

RECT ClientRectOf(HWND dialog, int id) {
  RECT r = WindowRect(GetDlgItem(dialog, id));
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

std::vector<std::string> ListLines(HWND list) {
  std::vector<std::string> lines;
  LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    LRESULT length = SendMessageW(list, LB_GETTEXTLEN, i, 0);
    if (length < 0) length = 0;
    std::wstring wide(static_cast<size_t>(length) + 1, L'\0');
    LRESULT got = SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(&wide[0]));
    wide.resize(got > 0 ? static_cast<size_t>(got) : 0);
    std::string line(wide.size() * 2 + 1, '\0');
    int n = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(wide.size()), &line[0],
                                static_cast<int>(line.size()), nullptr, nullptr);
    line.resize(n > 0 ? static_cast<size_t>(n) : 0);
    lines.push_back(line);
  }
  return lines;
}

std::string ExeFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, sizeof path);
  std::string folder = path;
  return folder.substr(0, folder.find_last_of('\\') + 1);
}

std::set<DWORD> ProcessIds() {
  std::set<DWORD> ids;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return ids;
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    ids.insert(entry.th32ProcessID);
  }
  CloseHandle(snapshot);
  return ids;
}

bool SaveScreenshot(const char* name, const RECT& area) {
  int width = area.right - area.left, height = area.bottom - area.top;
  if (width <= 0 || height <= 0) return false;
  const char* env = std::getenv("SORVANE_SHOTS");
  std::string folder = env && *env ? std::string(env) + "\\" : ExeFolder() + "shots\\";
  CreateDirectoryA(folder.c_str(), nullptr);
  std::string path = folder + name + ".bmp";

  BITMAPINFOHEADER header = {};
  header.biSize = sizeof header;
  header.biWidth = width;
  header.biHeight = height;
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
  header.biSizeImage = stride * static_cast<DWORD>(height);
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP shot = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS,
                                  &bits, nullptr, 0);
  bool ok = false;
  if (memory && shot) {
    HGDIOBJ previous = SelectObject(memory, shot);
    ok = BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY) != 0;
    GdiFlush();
    SelectObject(memory, previous);
  }
  if (ok) {
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + header.biSizeImage;
    FILE* out = std::fopen(path.c_str(), "wb");
    ok = out && std::fwrite(&file, sizeof file, 1, out) == 1 &&
         std::fwrite(&header, sizeof header, 1, out) == 1 &&
         std::fwrite(bits, header.biSizeImage, 1, out) == 1;
    if (out) std::fclose(out);
  }
  if (shot) DeleteObject(shot);
  if (memory) DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return ok;
}

}  // namespace ui_test
