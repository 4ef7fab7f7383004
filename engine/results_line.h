// The two ways the core talks to the main dialog: a results line (formatted
// into LogLine, request 11) and the path display (StatusText, request 10).
// Both are sent synchronously and only once MainWindow is known. A result
// of the scan goes as a record (engine/scan_result.h); these lines carry
// the rest of the list (the statistics).
#pragma once

// Formats one results line into LogLine and asks the dialog to add it.
// The format is always a literal of the caller; paths go in as arguments.
void EmitResultLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Copies text into StatusText and asks the dialog to refresh the display.
void ShowStatus(const char* text);

// Asks the dialog to refresh the display from StatusText as it stands.
void RefreshStatus();
