// Results lines and the path display: the one place where text for the main
// dialog is formatted and the two requests are sent.
#include "engine/results_line.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "engine/shared_state.h"

void EmitResultLine(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(LogLine, sizeof LogLine, format, args);
  va_end(args);
  if (MainWindow) SendMessageA(MainWindow, AddLineMessage, 0, 0);
}

void ShowStatus(const char* text) {
  // As snprintf "%s" would, cut to the buffer (once per entry of the walk).
  size_t n = std::strlen(text);
  if (n >= sizeof StatusText) n = sizeof StatusText - 1;
  std::memmove(StatusText, text, n);
  StatusText[n] = 0;
  RefreshStatus();
}

void RefreshStatus() {
  if (MainWindow) SendMessageA(MainWindow, RefreshStatusMessage, 0, 0);
}
