// Result records: their one line format, the list's request and the sinks.
#include "engine/scan_result.h"

#include <cstdio>
#include <string>

#include "engine/shared_state.h"

namespace {

constexpr int MaxSinks = 4;
ResultSink sinks[MaxSinks];

// A file's line keeps five blanks between path and detection; the memory
// line of the backdoor scanner has always had four.
const char* Separator(ResultSubject subject) {
  return subject == ResultSubject::Memory ? "    " : "     ";
}

}  // namespace

int FormatResult(const ScanResult& result, char* out, size_t size) {
  return snprintf(out, size, "%s%s%s %s", result.path, Separator(result.subject), result.detection,
                  result.outcome);
}

void EmitResult(const ScanResult& result) {
  const int length = FormatResult(result, LogLine, sizeof LogLine);
  if (MainWindow) SendMessageA(MainWindow, AddLineMessage, 0, 0);
  if (!sinks[0]) return;
  // Sinks get the whole line even when the list's buffer cut it.
  std::string line(LogLine);
  if (length >= static_cast<int>(sizeof LogLine)) {
    line.resize(length);
    FormatResult(result, &line[0], line.size() + 1);
  }
  for (ResultSink sink : sinks) {
    if (sink) sink(result, line.c_str());
  }
}

void EmitFileResult(const char* path, const char* detection, const char* outcome) {
  EmitResult(ScanResult{ResultSubject::File, path, detection, outcome, nullptr});
}

void EmitMemoryResult(const char* detection, const char* outcome) {
  EmitResult(ScanResult{ResultSubject::Memory, "System Memory", detection, outcome, nullptr});
}

void EmitRegistryRemoval(const char* detection, const RegistryRemoval& removal) {
  EmitResult(ScanResult{ResultSubject::Registry, "System Registry", detection, "removed", &removal});
}

bool AddResultSink(ResultSink sink) {
  for (ResultSink& slot : sinks) {
    if (slot == sink) return true;
    if (!slot) {
      slot = sink;
      return true;
    }
  }
  return false;
}

void RemoveResultSink(ResultSink sink) {
  int kept = 0;
  for (ResultSink s : sinks) {
    if (s != sink) sinks[kept++] = s;
  }
  while (kept < MaxSinks) sinks[kept++] = nullptr;
}

void ClearResultSinks() {
  for (ResultSink& slot : sinks) slot = nullptr;
}
