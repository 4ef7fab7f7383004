// The events stream: each result record becomes one JSON line with nested
// Elastic Common Schema fields, flushed as it is written. A file's hash is
// taken before the scan changes it (through the emulation's host-change
// hook); a registry value's data is the one the sweep found before it
// removed the value.
#include "tools/sorvane-offline/events.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>

#include "engine/scan_result.h"
#include "engine/shared_state.h"
#include "platform/emu/host_changes.h"
#include "platform/emu/machine.h"
#include "platform/emu/registry_mirror.h"
#include "platform/emu/system_control.h"
#include "platform/emu/text_codec.h"
#include "tools/sorvane-offline/rescue.h"

using nlohmann::json;
namespace reg = emu::reg;

namespace {

FILE* stream = nullptr;
std::string writeError;  // the first failed write, or empty

// What a file was before the scan first changed it, by the Windows path
// the scanner used; taken up by the file's result record.
struct Before {
  emu::HostChange change;
  std::string sha256;
};
std::map<std::string, Before> before;

// An "Unable to remove" event is held until the scan moves on: the removal
// may be scheduled for the next start right after its line.
struct Held {
  json event;
  int scheduledBefore;
};
std::optional<Held> held;

// How each results outcome reads as event.action and event.outcome.
struct OutcomeMapping {
  const char* outcome;  // as the results line ends (compared ignoring case)
  const char* action;
  const char* result;
};
const OutcomeMapping Outcomes[] = {
    {"removed", "deleted", "success"},
    {"Virus removed", "repaired", "success"},
    {"Unable to remove", "deleted", "failure"},
    {"renamed", "renamed", "success"},
    {"Virus renamed", "renamed", "success"},
    {"Rename failed", "renamed", "failure"},
    {"not disinfected as per user's selection", "detected", "unknown"},
    {"found", "detected", "unknown"},
};

const OutcomeMapping& MappingOf(const char* outcome) {
  static const OutcomeMapping unknown = {"", "detected", "unknown"};
  for (const auto& m : Outcomes) {
    if (strcasecmp(m.outcome, outcome) == 0) return m;
  }
  return unknown;
}

std::string Utf8(const char* ansi) { return emu::EncodeUtf8(emu::WidenAnsi(ansi ? ansi : "")); }

std::string Timestamp() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const time_t seconds = system_clock::to_time_t(now);
  const long millis = static_cast<long>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  struct tm utc;
  gmtime_r(&seconds, &utc);
  char text[40];
  const size_t n = strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  std::snprintf(text + n, sizeof text - n, ".%03ldZ", millis);
  return text;
}

std::string Hex(const unsigned char* bytes, size_t length, const char* separator) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < length; ++i) {
    if (i) text += separator;
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 15];
  }
  return text;
}

// A regular file on the host, never through a link; -1 otherwise.
int OpenRegular(const std::string& host) {
  int fd = open(host.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  struct stat st;
  if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
    close(fd);
    fd = -1;
  }
  return fd;
}

// Lower-case hex SHA-256 of a host file, read in blocks; empty when it
// cannot be read.
std::string FileSha256(const std::string& host) {
  if (host.empty()) return "";
  const int fd = OpenRegular(host);
  if (fd < 0) return "";
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  bool ok = context && EVP_DigestInit_ex(context, EVP_sha256(), nullptr);
  char buffer[65536];
  ssize_t n = 0;
  while (ok && (n = read(fd, buffer, sizeof buffer)) > 0) ok = EVP_DigestUpdate(context, buffer, size_t(n));
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned length = 0;
  ok = ok && n == 0 && EVP_DigestFinal_ex(context, digest, &length);
  EVP_MD_CTX_free(context);
  close(fd);
  return ok ? Hex(digest, length, "") : "";
}

// Removals waiting for the next start: the NT family's pending deletions
// and the "NUL=" lines of wininit.ini's [rename] section (9x family).
int ScheduledRemovals() {
  int count = 0;
  for (const auto& r : emu::PendingRenames()) count += r.to.empty();
  const int fd = OpenRegular(emu::HostPath(emu::WindowsDirectory() + "\\wininit.ini"));
  if (fd < 0) return count;
  std::string text;
  char buffer[4096];
  ssize_t n;
  while (text.size() < (1u << 20) && (n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, size_t(n));
  close(fd);
  std::istringstream lines(text);
  std::string line;
  bool inSection = false;
  while (std::getline(lines, line)) {
    if (!line.empty() && line[0] == '[') {
      inSection = strncasecmp(line.c_str(), "[rename]", 8) == 0;
    } else if (inSection && strncasecmp(line.c_str(), "NUL=", 4) == 0) {
      ++count;
    }
  }
  return count;
}

void Write(const json& event) {
  if (!stream || !writeError.empty()) return;
  const std::string line = event.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
  if (std::fwrite(line.data(), 1, line.size(), stream) != line.size() || std::fflush(stream) != 0) {
    writeError = std::strerror(errno);
  }
}

void ReleaseHeld() {
  if (!held) return;
  if (ScheduledRemovals() > held->scheduledBefore) {
    held->event["event"]["action"] = "scheduled";
    held->event["event"]["outcome"] = "success";
  }
  Write(held->event);
  held.reset();
}

json Alert(const char* action, const char* outcome, const char* detection) {
  return {{"@timestamp", Timestamp()},
          {"event", {{"kind", "alert"}, {"action", action}, {"outcome", outcome}}},
          {"rule", {{"name", detection ? detection : ""}, {"ruleset", "sorvane"}}}};
}

// Registry data as text: one string for REG_SZ and REG_EXPAND_SZ, one per
// string of a REG_MULTI_SZ, numbers in decimal, other data as hex bytes.
json DataStrings(const reg::Value& v) {
  json list = json::array();
  const auto* bytes = reinterpret_cast<const unsigned char*>(v.stored.data());
  const size_t size = v.stored.size();
  if (reg::IsStringType(v.type)) {
    std::u16string text = emu::UnitsOfUtf16(v.stored);
    while (!text.empty() && text.back() == u'\0') text.pop_back();
    if (v.type != REG_MULTI_SZ) {
      list.push_back(emu::EncodeUtf8(text));
      return list;
    }
    size_t start = 0;
    while (start <= text.size() && !text.empty()) {
      size_t end = text.find(u'\0', start);
      if (end == std::u16string::npos) end = text.size();
      list.push_back(emu::EncodeUtf8(text.substr(start, end - start)));
      start = end + 1;
    }
  } else if ((v.type == REG_DWORD && size == 4) || (v.type == REG_QWORD && size == 8)) {
    uint64_t n = 0;
    for (size_t i = size; i-- > 0;) n = (n << 8) | bytes[i];
    list.push_back(std::to_string(n));
  } else if (v.type == REG_DWORD_BIG_ENDIAN && size == 4) {
    list.push_back(std::to_string(uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | bytes[2] << 8 | bytes[3]));
  } else {
    list.push_back(Hex(bytes, size, ","));
  }
  return list;
}

json RegistryEvent(const ScanResult& result) {
  // The sweep removes from the registry it loaded; a report run leaves the
  // hives as they are, and a read-only volume cannot have them written.
  json event = ActionMode == ActionReport ? Alert("detected", "unknown", result.detection)
               : RescueVolumeReadOnly()   ? Alert("deleted", "failure", result.detection)
                                          : Alert("deleted", "success", result.detection);
  if (!result.removal) return event;
  const RegistryRemoval& removal = *result.removal;
  const std::string key =
      std::string(removal.root == HKEY_LOCAL_MACHINE ? "HKLM\\" : "HKCU\\") + Utf8(removal.keyPath);
  json registry;
  if (!removal.valueName) {
    registry["path"] = key;
  } else {
    reg::Value value;
    const bool known = RemovedValue(removal, &value);
    const std::string name = known ? emu::EncodeUtf8(value.name) : Utf8(removal.valueName);
    registry["path"] = key + "\\" + name;
    registry["value"] = name;
    if (known) registry["data"]["strings"] = DataStrings(value);
  }
  event["registry"] = registry;
  return event;
}

void TakeResult(const ScanResult& result, const char*) {
  ReleaseHeld();
  const OutcomeMapping& mapping = MappingOf(result.outcome ? result.outcome : "");
  switch (result.subject) {
    case ResultSubject::Registry:
      Write(RegistryEvent(result));
      return;
    case ResultSubject::Memory:
      // "System Memory ... removed": the process running the image ended.
      Write(Alert("terminated", mapping.result, result.detection));
      return;
    case ResultSubject::File:
      break;
  }
  const char* action = mapping.action;
  std::string sha256;
  auto found = before.find(result.path);
  if (found != before.end()) {
    sha256 = found->second.sha256;
    // The script cleaner's "Virus removed" deletes the file.
    if (found->second.change == emu::HostChange::Delete && std::strcmp(action, "repaired") == 0) {
      action = "deleted";
    }
    before.erase(found);
  } else {
    sha256 = FileSha256(emu::HostPath(result.path));  // unchanged so far
  }
  json event = Alert(action, mapping.result, result.detection);
  event["file"]["path"] = Utf8(result.path);
  if (!sha256.empty()) event["file"]["hash"]["sha256"] = sha256;
  if (strcasecmp(result.outcome, "Unable to remove") == 0) {
    held = Held{event, ScheduledRemovals()};
  } else {
    Write(event);
  }
}

void NoteBefore(emu::HostChange change, const std::string& host, const std::string& windowsPath) {
  if (before.count(windowsPath)) return;  // the first change tells what the file was
  if (before.size() >= 256) before.clear();  // changes no record took up (wininit.ini)
  before[windowsPath] = Before{change, FileSha256(host)};
}

}  // namespace

bool StartEvents(const std::string& target, std::string* error) {
  if (target.empty()) return true;
  writeError.clear();
  before.clear();
  held.reset();
  if (target == "-") {
    // The events take the real stdout; what the tool prints goes to stderr.
    std::fflush(stdout);
    const int fd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (fd >= 0 && dup2(STDERR_FILENO, STDOUT_FILENO) >= 0) stream = fdopen(fd, "w");
  } else {
    stream = std::fopen(target.c_str(), "we");
  }
  if (!stream) {
    *error = "cannot write the events to " + target + ": " + std::strerror(errno);
    return false;
  }
  // A reader that goes away must not end the scan halfway through a change.
  std::signal(SIGPIPE, SIG_IGN);
  emu::HostChangeHook previous = emu::CurrentHostChangeHook();
  emu::SetHostChangeHook([previous](emu::HostChange change, const std::string& host,
                                    const std::string& windowsPath, const std::string& newHost) {
    if (previous && !previous(change, host, windowsPath, newHost)) return false;
    NoteBefore(change, host, windowsPath);
    return true;
  });
  AddResultSink(TakeResult);
  return true;
}

void PollEvents() {
  if (held) ReleaseHeld();
}

bool FinishEvents(int exitCode, std::string* error) {
  if (!stream) return true;
  ReleaseHeld();
  RemoveResultSink(TakeResult);
  json statistics = {{"files_scanned", FilesScanned},
                     {"files_infected", FilesInfected},
                     {"files_removed", FilesRemoved},
                     {"files_disinfected", FilesDisinfected},
                     {"files_not_scanned", emu::FileNoteCount(emu::FileNote::NotScanned)}};
  Write({{"@timestamp", Timestamp()},
         {"event", {{"kind", "event"}, {"action", "scan"}, {"outcome", exitCode == 0 || exitCode == 1 ? "success" : "failure"}}},
         {"message", Utf8(StatusText)},
         {"process", {{"exit_code", exitCode}}},
         {"sorvane", {{"statistics", statistics}}}});
  if (std::fclose(stream) != 0 && writeError.empty()) writeError = std::strerror(errno);
  stream = nullptr;
  if (writeError.empty()) return true;
  *error = "cannot write the events: " + writeError;
  return false;
}
