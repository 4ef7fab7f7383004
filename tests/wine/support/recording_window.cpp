// The recording window behind the walk and report tests.
#include "support/recording_window.h"

#include <gtest/gtest.h>

#include "engine/shared_state.h"

namespace {
const char* const ClassName = "SorvaneTestMainWindow";
}

RecordingWindow::RecordingWindow(bool asMainWindow) {
  static ATOM registered = [] {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = &RecordingWindow::Procedure;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = ClassName;
    return RegisterClassA(&wc);
  }();
  EXPECT_NE(registered, 0);
  window_ = CreateWindowExA(0, ClassName, "test main window", 0, 0, 0, 0, 0, HWND_MESSAGE,
                            nullptr, GetModuleHandleA(nullptr), nullptr);
  EXPECT_NE(window_, nullptr) << "CreateWindowExA: error " << GetLastError();
  SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  if (asMainWindow) MainWindow = window_;
}

RecordingWindow::~RecordingWindow() {
  if (MainWindow == window_) MainWindow = nullptr;
  SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
  DestroyWindow(window_);
}

LRESULT CALLBACK RecordingWindow::Procedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
  auto* self = reinterpret_cast<RecordingWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (self) {
    if (message == RefreshStatusMessage) {
      self->statuses.push_back(StatusText);
      return 0;
    }
    if (message == AddLineMessage) {
      self->lines.push_back(LogLine);
      return 0;
    }
    if (message >= WM_USER) {
      self->others.push_back(message);
      return 0;
    }
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

void DrainMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
}
