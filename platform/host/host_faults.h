// Faults for the host layer and the rescue code, set by tests: a named
// operation on a path (or a hive's label) fails with an errno value. The
// emulated Win32 calls have their own table in the emulation; this one is
// consulted only by the code that writes to a real tree.
#pragma once

#include <string>

namespace host {

// Makes `op` on `key` fail with `error` the next `times` times (-1:
// always). An empty key matches every key; keys
// compare ignoring case, as Windows names do.
void FailOperation(const std::string& op, const std::string& key, int error, int times = 1);
void ClearFaults();

// True when `op` on `key` must fail now; errno is then set to the error.
bool Injected(const char* op, const std::string& key);

}  // namespace host
