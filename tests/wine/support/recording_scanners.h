// A scanner table of three recording rows that tests install through
// ActiveScannerTable for the life of the object.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/scanner_table.h"

struct ScannerCall {
  int row;  // 1 to 3
  std::string name;
  std::string path;
  int filesScanned;  // FilesScanned when the row was called
  int singleFileMode;
};

class RecordingScanners {
 public:
  RecordingScanners();
  ~RecordingScanners();
  RecordingScanners(const RecordingScanners&) = delete;
  RecordingScanners& operator=(const RecordingScanners&) = delete;

  // Row `row` declares a file finished when its name begins with `prefix`.
  void FinishWhenNameStarts(int row, std::string prefix);
  // Called after each call of row 1 with the number of row-1 calls so far.
  void OnFirstRow(std::function<void(size_t)> hook) { hook_ = std::move(hook); }

  const std::vector<ScannerCall>& Calls() const { return calls_; }
  // Forgets the calls so far; the hook counts from zero again.
  void ClearCalls();
  // Paths handed to `row`, in order.
  std::vector<std::string> PathsOf(int row) const;

  // Used by the row routines.
  int Record(int row, const char* name, const char* path);

 private:
  const ScannerEntry* saved_;
  std::string finishPrefix_[4];
  std::function<void(size_t)> hook_;
  std::vector<ScannerCall> calls_;
  size_t firstRowCalls_ = 0;
};
