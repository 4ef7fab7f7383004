// The fault table of the host layer: empty in a real run, so each check
// is one test of a flag.
#include "platform/host/host_faults.h"

#include <strings.h>

#include <cerrno>
#include <vector>

namespace host {
namespace {

struct Fault {
  std::string op, key;
  int error;
  int times;
};
std::vector<Fault> faults;

}  // namespace

void FailOperation(const std::string& op, const std::string& key, int error, int times) {
  faults.push_back(Fault{op, key, error, times});
}

void ClearFaults() { faults.clear(); }

bool Injected(const char* op, const std::string& key) {
  if (faults.empty()) return false;
  for (auto& f : faults) {
    if (f.times == 0 || f.op != op || (!f.key.empty() && strcasecmp(f.key.c_str(), key.c_str()) != 0)) continue;
    if (f.times > 0) --f.times;
    errno = f.error;
    return true;
  }
  return false;
}

}  // namespace host
