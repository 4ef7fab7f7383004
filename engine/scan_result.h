// A result of the scan as data: what was found where and what became of
// it, with the registry entry behind a "System Registry" line. The engine
// emits each record once; the results list gets it formatted as its line,
// and every sink (a report, an events stream) gets the record itself.
#pragma once

#include <cstddef>

#include "platform/system.h"

// What a result names: a file, the running process of an image, or the
// registry.
enum class ResultSubject { File, Memory, Registry };

// One registry entry the cleanup removed.
struct RegistryRemoval {
  HKEY root;              // HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER
  const char* keyPath;
  const char* valueName;  // null when the whole key went
};

struct ScanResult {
  ResultSubject subject;
  const char* path;       // the file; "System Memory" or "System Registry" otherwise
  const char* detection;
  const char* outcome;    // "removed", "Unable to remove", "found", ...
  const RegistryRemoval* removal;  // Registry only: what went
};

// The results line of a record, cut to `size` like snprintf; returns what
// snprintf returns.
int FormatResult(const ScanResult& result, char* out, size_t size);

// Formats the record into LogLine, asks the dialog to add it, then hands
// the record and its line to every sink.
void EmitResult(const ScanResult& result);

// The three kinds of record.
void EmitFileResult(const char* path, const char* detection, const char* outcome);
void EmitMemoryResult(const char* detection, const char* outcome);
void EmitRegistryRemoval(const char* detection, const RegistryRemoval& removal);

// Receivers of every record, called in the order they were added, after
// the list has its line. `line` is the record's full line (not cut to
// LogLine).
using ResultSink = void (*)(const ScanResult& result, const char* line);
// False when the sink table is full; adding a sink twice keeps one.
bool AddResultSink(ResultSink sink);
void RemoveResultSink(ResultSink sink);
void ClearResultSinks();
