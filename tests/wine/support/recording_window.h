// A real message-only window standing in for the main dialog: it becomes
// MainWindow and records what the two requests carried (StatusText and
// LogLine at the moment of the call) and every other message dispatched
// to it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class RecordingWindow {
 public:
  // `asMainWindow`: whether the window becomes MainWindow.
  explicit RecordingWindow(bool asMainWindow = true);
  ~RecordingWindow();
  RecordingWindow(const RecordingWindow&) = delete;
  RecordingWindow& operator=(const RecordingWindow&) = delete;

  HWND Handle() const { return window_; }

  std::vector<std::string> statuses;  // request 10
  std::vector<std::string> lines;     // request 11
  std::vector<UINT> others;           // any other message number >= WM_USER

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  HWND window_ = nullptr;
};

// Removes every pending message of this thread, WM_QUIT included.
void DrainMessages();
