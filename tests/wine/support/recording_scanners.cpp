// Recording scanner rows: each row routine forwards to the installed
// recorder, which notes the call and answers as the test configured.
#include "support/recording_scanners.h"

#include <cstring>

#include "engine/shared_state.h"

namespace {

RecordingScanners* active = nullptr;

template <int Row>
int RowRoutine(const char* name, const char* path) {
  return active ? active->Record(Row, name, path) : 0;
}

const ScannerEntry recordingTable[] = {
    {"Row.One", RowRoutine<1>},
    {"Row.Two", RowRoutine<2>},
    {"Row.Three", RowRoutine<3>},
    {nullptr, nullptr},
};

}  // namespace

RecordingScanners::RecordingScanners() : saved_(ActiveScannerTable) {
  active = this;
  ActiveScannerTable = recordingTable;
}

RecordingScanners::~RecordingScanners() {
  ActiveScannerTable = saved_;
  active = nullptr;
}

void RecordingScanners::FinishWhenNameStarts(int row, std::string prefix) {
  if (row >= 1 && row <= 3) finishPrefix_[row] = std::move(prefix);
}

void RecordingScanners::ClearCalls() {
  calls_.clear();
  firstRowCalls_ = 0;
}

std::vector<std::string> RecordingScanners::PathsOf(int row) const {
  std::vector<std::string> paths;
  for (const ScannerCall& call : calls_) {
    if (call.row == row) paths.push_back(call.path);
  }
  return paths;
}

int RecordingScanners::Record(int row, const char* name, const char* path) {
  calls_.push_back({row, name, path, FilesScanned, SingleFileMode});
  if (row == 1 && hook_) hook_(++firstRowCalls_);
  const char* slash = std::strrchr(path, '\\');
  const char* file = slash ? slash + 1 : path;
  const std::string& prefix = finishPrefix_[row];
  return !prefix.empty() && std::strncmp(file, prefix.c_str(), prefix.size()) == 0;
}
