// MoveFileExA on the emulated machine. With MOVEFILE_DELAY_UNTIL_REBOOT it
// records the rename in the registry value the NT family carries out at
// the next start ("PendingFileRenameOperations" of the session manager,
// pairs of "\??\" paths, an empty destination meaning deletion); writing
// that value needs write access to the key. The 9x family has no such call.
#include <cstring>

#include "platform/emu/fs.h"
#include "platform/emu/host_changes.h"
#include "platform/emu/machine.h"
#include "platform/emu/registry_tree.h"
#include "platform/emu/system_state.h"

namespace emu {
namespace {

const char* const SessionManager = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char* const PendingValue = "PendingFileRenameOperations";

void InstallSessionManager() {
  reg::Create(reg::RootByHandle(HKEY_LOCAL_MACHINE)->key.get(), SessionManager, false, true);
}
reg::ProvidedContent sessionContent(InstallSessionManager);

std::string Unprefixed(const std::string& path) {
  return path.compare(0, 4, "\\??\\") == 0 ? path.substr(4) : path;
}

// The list holds pairs of terminated strings and ends with one more
// terminator.
std::vector<PendingRename> ParsePairs(const std::string& data) {
  std::vector<std::string> parts;
  size_t pos = 0;
  while (pos < data.size()) {
    size_t end = data.find('\0', pos);
    if (end == std::string::npos) end = data.size();
    parts.push_back(data.substr(pos, end - pos));
    pos = end + 1;
  }
  std::vector<PendingRename> pairs;
  for (size_t i = 0; i + 1 < parts.size() && !parts[i].empty(); i += 2) {
    pairs.push_back(PendingRename{parts[i], parts[i + 1]});
  }
  return pairs;
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// Works on the tree directly: the system's own update of the list is not a
// registry call of the program.
BOOL DelayUntilReboot(LPCSTR from, LPCSTR to) {
  reg::Key* key =
      reg::Create(reg::RootByHandle(HKEY_LOCAL_MACHINE)->key.get(), SessionManager, false, true);
  if (reg::AccessOf(key) != KeyAccess::Full) return Fail(ERROR_ACCESS_DENIED);
  reg::Value* old = reg::FindValue(key, PendingValue);
  std::vector<PendingRename> pairs = ParsePairs(old ? old->AnsiData() : "");
  pairs.push_back(
      PendingRename{std::string("\\??\\") + from, to && *to ? std::string("\\??\\") + to : ""});
  std::string list;
  for (const auto& p : pairs) {
    list += p.from;
    list += '\0';
    list += p.to;
    list += '\0';
  }
  list += '\0';
  reg::SetValue(key, PendingValue, REG_MULTI_SZ, list);
  return TRUE;
}

}  // namespace

std::vector<PendingRename> PendingRenames() {
  std::vector<PendingRename> renames;
  std::string data;
  if (!GetRegistryValue(std::string("HKLM\\") + SessionManager, PendingValue, nullptr, &data)) {
    return renames;
  }
  for (const auto& p : ParsePairs(data)) {
    renames.push_back(PendingRename{Unprefixed(p.from), Unprefixed(p.to)});
  }
  return renames;
}

}  // namespace emu

using namespace emu;

BOOL WINAPI MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) {
  if (FaultFor("MoveFileExA", from)) return FALSE;
  if (IsWin9xFamily()) return Fail(ERROR_CALL_NOT_IMPLEMENTED);
  if (!from || !*from) return Fail(ERROR_INVALID_PARAMETER);
  if (flags & MOVEFILE_DELAY_UNTIL_REBOOT) {
    // A file on a read-only drive stays as it is: nothing is recorded for
    // the next start either.
    HostEntry e;
    DWORD error;
    if (Resolve(from, &e, &error) && WriteProtected(e)) {
      Note(FileNote::NotScheduled, from, "drive is read-only");
      return Fail(ERROR_WRITE_PROTECT);
    }
    if (e.exists && !BeforeHostChange(HostChange::RemoveAtRestart, e.host, from)) {
      Note(FileNote::NotScheduled, from, "refused: no copy of it could be kept");
      return Fail(ERROR_ACCESS_DENIED);
    }
    return DelayUntilReboot(from, to);
  }
  if (!to) return DeleteFileA(from);
  if ((flags & MOVEFILE_REPLACE_EXISTING) && GetFileAttributesA(to) != INVALID_FILE_ATTRIBUTES &&
      !DeleteFileA(to)) {
    return FALSE;
  }
  return MoveFileA(from, to);
}
