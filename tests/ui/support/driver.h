// Driving dialogs through window messages, in this process or another:
// finding windows, clicking, reading controls and lists, waiting, and
// screenshots of a part of the screen.
#pragma once

#include <windows.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

namespace ui_test {

// Polls `condition` every 10 ms; false when `timeoutMs` passed first.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 5000);

// A visible top-level window of process `processId` for which `match` holds.
HWND FindTopLevel(DWORD processId, const std::function<bool(HWND)>& match);
// The main dialog (it has the SCAN button) and the message dialog (it has
// the text control 1086) of a process.
HWND FindMainDialog(DWORD processId);
HWND FindMessageDialog(DWORD processId);
// Waits for the message dialog; null after `timeoutMs`.
HWND WaitForMessageDialog(DWORD processId, int timeoutMs = 5000);

// Returns once the window's thread has handled everything sent before
// (a WM_NULL round trip); false when it does not answer in time.
bool Sync(HWND window, int timeoutMs = 5000);

// Repaints the window and its children now, also in another process.
void Repaint(HWND window);

// Posts a click of control `id` to the dialog, as the button reports one.
void Click(HWND dialog, int id);
// Posts a key press (down and up) to `window`.
void PressKey(HWND window, WPARAM key);

std::string Text(HWND window);
std::string ControlText(HWND dialog, int id);
bool Visible(HWND dialog, int id);
bool Enabled(HWND dialog, int id);
RECT WindowRect(HWND window);
// A control's rectangle in the client coordinates of its dialog.
RECT ClientRectOf(HWND dialog, int id);

// The lines of a list box, read through the wide-character request so that
// it works across processes as well.
std::vector<std::string> ListLines(HWND list);

// Writes `area` of the screen as a 24-bit BMP named `name`.bmp into the
// screenshot folder (SORVANE_SHOTS, else .\shots). False when it failed.
bool SaveScreenshot(const char* name, const RECT& area);

// The folder holding the test exe, with a trailing backslash.
std::string ExeFolder();

// The ids of the processes running now.
std::set<DWORD> ProcessIds();

}  // namespace ui_test
