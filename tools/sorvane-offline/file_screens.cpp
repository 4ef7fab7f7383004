// The host's screen over a file's two ends (file_screens.h): the PE
// headers read apart when they lie beyond the first block, then every row
// of the real scanner table asked.
#include "tools/sorvane-offline/file_screens.h"

#include <sched.h>
#include <unistd.h>

#include "engine/scanner_table.h"
#include "engine/shared_state.h"
#include "platform/emu/machine.h"
#include "platform/host/read_ahead.h"
#include "scanners/row_screen.h"

namespace {

bool ScreenFile(const host::ScreenBytes& bytes) {
  FileEnds ends;
  ends.head = bytes.head;
  ends.headLength = bytes.headLength;
  ends.tail = bytes.tail;
  ends.tailLength = bytes.tailLength;
  ends.length = bytes.length;
  uint8_t header[ScreenHeaderSize];
  uint64_t offset = 0;
  const size_t count = ScreenHeaderRegion(ends, &offset);
  if (count) {
    if (pread(bytes.fd, header, count, off_t(offset)) != ssize_t(count)) return true;
    ends.header = header;
    ends.headerOffset = offset;
    ends.headerLength = count;
  }
  return AnyRowMayAct(ScannerTable, ends);
}

}  // namespace

int DefaultJobs() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  const int count = CPU_COUNT(&set);
  return count > 0 ? count : 1;
}

void StartFileScreens(int jobs) {
  if (jobs <= 1) return;
  host::SetReadAheadScreen(ScreenFile, jobs);
  EntryScreenedOut = emu::ScreenedOut;
}
