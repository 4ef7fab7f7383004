// The rescue run: volume set-up, the sweep of every profile's HKCU, the
// registry removals behind each results line, the hives written back and
// the JSON report.
#include "tools/sorvane-offline/rescue.h"

#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <nlohmann/json.hpp>
#include <map>
#include <new>
#include <optional>

#include "cleanup/registry_cleanup.h"
#include "cleanup/worm_registry_rules.h"
#include "engine/scan_result.h"
#include "engine/json_report.h"
#include "engine/shared_state.h"
#include "platform/emu/machine.h"
#include "platform/emu/registry_mirror.h"
#include "platform/emu/text_codec.h"
#include "platform/emu/host_changes.h"
#include "platform/host/host_files.h"
#include "tools/sorvane-offline/hives.h"
#include "tools/sorvane-offline/host_names.h"
#include "tools/sorvane-offline/quarantine.h"
#include "tools/sorvane-offline/volume.h"
#include "tools/sorvane-offline/volume_identity.h"

namespace reg = emu::reg;
using nlohmann::json;

namespace {

struct Removal {
  std::string hive, key, value, data;
  bool wholeKey = false;
};

struct ResultLine {
  std::string text, path, detection, outcome;
  bool registry = false;
  std::vector<Removal> removals;
};

RescueOptions rescue;
VolumeLayout layout;
Hives hives;
bool active = false;
bool readOnlyVolume = false;
std::vector<ResultLine> lines;
std::vector<std::string> failures;  // what ended the run or was not written
std::string backupDir;              // the hive backups' folder without a quarantine
json writtenReport;                 // the report as last written, for a later failure

// ---- The keys the sweep may change, and what they held -------------------

using KeyState = std::optional<std::vector<reg::Value>>;  // nullopt: no such key
std::map<std::string, KeyState> snapshot;                  // by key path ("HKCU\\...")

std::vector<std::string> WatchedKeys() {
  std::vector<std::string> keys = {std::string("HKLM\\") + RunKeyPath, std::string("HKCU\\") + RunKeyPath,
                                   std::string("HKCU\\") + ParamsKeyPath};
  for (const RegistryRule& rule : WormRegistryRules) {
    keys.push_back((rule.root == RuleLocalMachine ? "HKLM\\" : "HKCU\\") + std::string(rule.keyPath));
    for (const FollowUpStep& step : rule.followUps) {
      if (step.kind == FollowUpKey) keys.push_back(std::string("HKCU\\") + step.target);
    }
  }
  return keys;
}

KeyState StateOf(const std::string& path) {
  std::string rest;
  reg::Root* root = reg::RootByName(path, &rest);
  reg::Key* key = root ? reg::Find(root->key.get(), rest) : nullptr;
  if (!key) return std::nullopt;
  return key->values;
}

void TakeSnapshot() {
  snapshot.clear();
  for (const auto& k : WatchedKeys()) snapshot[k] = StateOf(k);
}

// Text of the emulated machine's ANSI code page as UTF-8 (for JSON).
std::string Utf8FromAnsi(const std::string& ansi) { return emu::EncodeUtf8(emu::WidenAnsi(ansi)); }

// A Windows path or host name as the volume spells it, in UTF-8.
std::string Shown(const std::string& bytes) { return names::Readable(bytes); }

// Removed data in UTF-8: text for the string types, hex bytes otherwise.
std::string DataText(const reg::Value& v) {
  if (reg::IsStringType(v.type)) {
    std::u16string text = emu::UnitsOfUtf16(v.stored);
    while (!text.empty() && text.back() == u'\0') text.pop_back();
    for (auto& c : text) {
      if (c == u'\0') c = u'\n';
    }
    return emu::EncodeUtf8(text);
  }
  static const char hex[] = "0123456789abcdef";
  std::string text;
  for (unsigned char c : v.stored) {
    if (!text.empty()) text += ',';
    text += hex[c >> 4];
    text += hex[c & 15];
  }
  return text;
}

std::string Timestamp() {
  time_t now = time(nullptr);
  char text[32];
  strftime(text, sizeof text, "%Y%m%d-%H%M%S", localtime(&now));
  return text;
}

json OtherFileSystemsText(const std::vector<std::string>& paths) {
  json list = json::array();
  for (const auto& p : paths) list.push_back(Shown(p));
  return list;
}

}  // namespace

namespace {

// The scanners call the registry sweep on every detection. On a volume it
// runs once per profile, HKCU showing that profile's hive each time; the
// machine's keys are cleaned in the first pass, so later passes find
// nothing there. Before each pass the watched keys are noted, so that a
// removal's record can be given the data it took.
int SweepEveryProfile(int (*sweep)()) {
  if (!active || hives.ProfileCount() == 0) {
    TakeSnapshot();
    return sweep();
  }
  int result = 0;
  for (size_t i = 0; i < hives.ProfileCount(); ++i) {
    hives.UseProfile(i);
    TakeSnapshot();
    result = sweep();
  }
  hives.UseProfile(0);
  return result;
}

// What a "System Registry" record removed, with the hive it was in and the
// name and data as the hive held them.
std::vector<Removal> RemovalsOf(const RegistryRemoval& removal) {
  const std::string path =
      std::string(removal.root == HKEY_LOCAL_MACHINE ? "HKLM\\" : "HKCU\\") + removal.keyPath;
  const std::string hive = hives.HiveOf(path);
  if (!removal.valueName) return {Removal{hive, path, "", "", true}};
  reg::Value v;
  if (RemovedValue(removal, &v)) return {Removal{hive, path, emu::EncodeUtf8(v.name), DataText(v), false}};
  return {Removal{hive, path, emu::EncodeUtf8(emu::WidenAnsi(removal.valueName)), "", false}};
}

// Every result of the scan, for the report; a file's detection also for
// the quarantine's record of it.
void NoteResult(const ScanResult& result, const char* text) {
  ResultLine line;
  line.text = text;
  line.path = result.path;
  line.detection = result.detection;
  line.outcome = result.outcome;
  line.registry = result.subject == ResultSubject::Registry;
  if (line.registry && result.removal) {
    line.removals = RemovalsOf(*result.removal);
  } else if (!line.registry) {
    quarantine::NoteDetection(line.path, line.detection);
  }
  lines.push_back(std::move(line));
}

}  // namespace

bool RescueActive() { return active; }

bool RescueVolumeReadOnly() { return active && readOnlyVolume; }

bool RemovedValue(const RegistryRemoval& removal, reg::Value* value) {
  if (!removal.valueName) return false;
  const std::string path =
      std::string(removal.root == HKEY_LOCAL_MACHINE ? "HKLM\\" : "HKCU\\") + removal.keyPath;
  auto before = snapshot.find(path);
  if (before == snapshot.end() || !before->second) return false;
  const reg::Name name = emu::WidenAnsi(removal.valueName);
  for (const auto& v : *before->second) {
    if (reg::CompareNames(v.name, name) == 0) {
      *value = v;
      return true;
    }
  }
  return false;
}

void EndRescue() {
  hives.~Hives();
  new (&hives) Hives();
  active = false;
}

int RunRestore(const RescueOptions& options) {
  return quarantine::Restore(options.restore, options.force, options.volume);
}

namespace {

const char* ChangeName(emu::HostChange change) {
  switch (change) {
    case emu::HostChange::Delete: return "delete";
    case emu::HostChange::Rename: return "rename";
    case emu::HostChange::Truncate: return "truncate";
    case emu::HostChange::RemoveAtRestart: return "removal at restart";
    case emu::HostChange::Attributes: return "attributes";
    default: return ActionMode == ActionClean ? "repair" : "write";
  }
}

// Before the scan changes a file: a report run changes nothing; with a
// quarantine the original is kept first (a file that cannot be kept is not
// changed).
bool BeforeChange(emu::HostChange change, const std::string& host, const std::string& windowsPath,
                  const std::string& newHost) {
  // A report run writes no hive: what it schedules stays in memory. With
  // a quarantine, a file whose copy could not be kept is not scheduled.
  if (change == emu::HostChange::RemoveAtRestart) {
    return rescue.action == ActionReport || quarantine::MayRemoveAtRestart(host, windowsPath);
  }
  if (rescue.action == ActionReport) {
    std::fprintf(stderr, "report only: %s left as it is\n", windowsPath.c_str());
    return false;
  }
  return quarantine::Keep(host, windowsPath, ChangeName(change),
                          change == emu::HostChange::Rename ? newHost : "");
}

bool HasNtfsAttributes(const std::string& path) {
  uint32_t attributes;
  return host::NtfsAttributes(path, &attributes);
}

}  // namespace

// A folder the run writes to must not be on a drive it cleans: the walk
// would delete its own copies, and a restore would have nothing to read.
bool OffTheDrives(const std::string& folder, const char* what, const RescueOptions& options, std::string* error) {
  std::vector<std::string> roots = options.driveRoots;
  if (!options.volume.empty()) roots.push_back(options.volume);
  std::string root;
  if (!FolderOnVolume(folder, roots, &root)) return true;
  *error = std::string(what) + " " + folder + " is on the volume being cleaned (" + root +
           "): give a folder on another disk";
  return false;
}

bool StartRescue(const RescueOptions& options, std::string* error) {
  rescue = options;
  lines.clear();
  failures.clear();
  backupDir.clear();
  active = false;
  if (!options.quarantine.empty()) {
    if (!OffTheDrives(options.quarantine, "the quarantine folder", options, error)) return false;
  } else if (!options.volume.empty() && options.action != ActionReport) {
    char cwd[4096];
    backupDir = std::string(getcwd(cwd, sizeof cwd) ? cwd : ".") + "/sorvane-backup-" + Timestamp();
    if (!OffTheDrives(backupDir, "the hive backups' folder", options, error)) {
      *error += " (or --quarantine DIR)";
      return false;
    }
  }
  SetProfileSweepHook(SweepEveryProfile);
  AddResultSink(NoteResult);
  if (!options.quarantine.empty() && !quarantine::Open(options.quarantine, error)) return false;
  if (!options.origin.empty()) quarantine::SetOrigin(options.origin, options.volume);
  emu::SetHostChangeHook(BeforeChange);
  emu::SetCrossFileSystems(options.crossFs);
  if (options.volume.empty()) return true;
  layout = VolumeLayout();
  if (!FindVolumeLayout(options.volume, &layout, error)) return false;
  struct statvfs fs;
  readOnlyVolume = statvfs(options.volume.c_str(), &fs) == 0 && (fs.f_flag & ST_RDONLY);
  emu::MapDrive('C', options.volume, DRIVE_FIXED);
  bool report = options.action == ActionReport;
  if (HasNtfsAttributes(options.volume)) {
    emu::UseNtfsAttributes(options.volume, !report && !readOnlyVolume);
    std::fprintf(stderr, "volume: DOS attributes from the NTFS volume itself%s\n",
                 report || readOnlyVolume ? " (read only)" : "");
  }
  if (!hives.Load(layout.software, layout.system, layout.profiles, report || readOnlyVolume, error)) {
    return false;
  }
  std::string version;
  emu::GetRegistryValue("HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "CurrentVersion",
                        nullptr, &version);
  version = version.c_str();
  std::string family = PlatformOfVersion(version);
  emu::Platform platform;
  if (family.empty() || !emu::ParsePlatform(family, &platform)) {
    *error = "the hive " + layout.software.label + " names no Windows NT version (CurrentVersion '" +
             version + "')";
    return false;
  }
  emu::SetPlatform(platform);
  emu::SetWindowsDirectory(layout.windowsDir);
  emu::SetEnvironmentVariable("TEMP", layout.windowsDir + "\\TEMP");
  emu::SetEnvironmentVariable("TMP", layout.windowsDir + "\\TEMP");
  std::fprintf(stderr, "volume: %s as C:, Windows in %s, version %s (%s), %zu profile(s)\n",
               options.volume.c_str(), layout.windowsDir.c_str(), version.c_str(), family.c_str(),
               layout.profiles.size());
  for (const auto& p : layout.profiles) std::fprintf(stderr, "profile: %s\n", p.profile.c_str());
  if (readOnlyVolume) std::fprintf(stderr, "volume: mounted read-only, nothing will be written\n");
  active = true;
  return true;
}

void NoteRescueFailure(const std::string& message) { failures.push_back(message); }

bool RefuseRescue(const RescueOptions& options, const std::string& why, std::string* error) {
  rescue = options;
  lines.clear();
  failures = {why};
  active = false;
  return FinishRescue(2, error);
}

bool AmendRescueReport(int exitCode, const std::string& why, std::string* error) {
  if (rescue.report.empty() || writtenReport.is_null()) return true;
  writtenReport["exit_code"] = exitCode;
  writtenReport["errors"].push_back(why);
  std::ofstream out(rescue.report, std::ios::binary);
  out << ReportText(writtenReport);
  out.close();
  if (out) return true;
  *error = "cannot write the report " + rescue.report;
  return false;
}

bool FinishRescue(int exitCode, std::string* error, int* finalCode) {
  const auto& others = emu::OtherFileSystems();
  for (const auto& p : others) {
    std::fprintf(stderr, "other file system: %s %s\n", p.c_str(), rescue.crossFs ? "entered" : "not entered");
  }
  if (!others.empty()) {
    std::fprintf(stderr, "%zu other file system(s) below the drives%s\n", others.size(),
                 rescue.crossFs ? "" : " left out (--cross-fs enters them)");
  }
  std::vector<CommittedHive> committed;
  bool registryApplied = rescue.action != ActionReport;
  bool ok = true;
  // Whether what the scan removed from a hive is on the disk: every hive
  // was written, or this one was while another failed.
  bool hivesWritten = true;
  auto Applied = [&](const std::string& hive) {
    if (!registryApplied) return false;
    if (hivesWritten) return true;
    for (const auto& c : committed)
      if (c.label == hive) return true;
    return false;
  };
  if (active) {
    bool changed = false;
    for (size_t i = 0; i < 2 + hives.ProfileCount(); ++i) changed = changed || hives.Changed(i);
    if (changed && rescue.action == ActionReport) {
      std::fprintf(stderr, "registry: report only, the hives are left as they are\n");
    } else if (changed && readOnlyVolume) {
      std::fprintf(stderr, "registry: not written, the volume is read-only\n");
      registryApplied = false;
    } else if (changed) {
      // Without a quarantine the hives' originals get a journal of their own.
      std::string openError;
      if (!quarantine::IsOpen() && !quarantine::Open(backupDir, &openError, true)) {
        hivesWritten = false;
        *error = openError + "; no hive was written";
      } else {
        hivesWritten = hives.Commit(&committed, error);
      }
      ok = hivesWritten;
      for (const auto& c : committed) {
        std::fprintf(stderr, "registry: %s written, the original kept as %s\n", c.label.c_str(),
                     c.backup.c_str());
        for (const auto& l : c.logs) {
          std::fprintf(stderr, "registry: log %s kept as %s before its reset\n", l.label.c_str(), l.backup.c_str());
        }
      }
      if (!ok) {
        exitCode = 2;
        failures.push_back(*error);
      }
    }
    // A hive read without its newest changes may hide what starts a
    // sample: the scan cannot vouch for it, whether or not it changed.
    for (const auto& label : hives.Unreplayed()) {
      failures.push_back("the hive " + label + " is dirty and its logs could not be replayed: its newest changes were not scanned");
      exitCode = 2;
    }
    auto renames = emu::PendingRenames();
    if (!renames.empty() && Applied(layout.system.label)) {
      std::fprintf(stderr, "registry: %zu pending rename(s) written to %s for the next start of Windows\n",
                   renames.size(), layout.system.label.c_str());
    }
  }
  std::string closeError;
  if (!quarantine::Close(&closeError)) {
    // Named once: through *error, or here when *error already holds another failure.
    if (ok) {
      *error = closeError;
    } else {
      std::fprintf(stderr, "sorvane-offline: %s\n", closeError.c_str());
    }
    failures.push_back(closeError);
    exitCode = 2;
    ok = false;
  }
  if (finalCode) *finalCode = exitCode;
  writtenReport = nullptr;
  if (rescue.report.empty()) return ok;

  ScanReport report;
  report.action = ReportActionName(rescue.action);
  for (const auto& l : lines) {
    ReportResult r;
    r.line = Shown(l.text);
    r.path = Shown(l.path);
    r.detection = l.detection;
    r.outcome = l.outcome;
    r.registry = l.registry;
    if (l.registry) {
      r.applied = registryApplied;
      for (const auto& m : l.removals) {
        r.applied = r.applied && Applied(m.hive);
        r.removals.push_back(ReportRegistryRemoval{m.hive, Utf8FromAnsi(m.key), m.wholeKey, m.value, true, m.data});
      }
    } else {
      r.applied = rescue.action != ActionReport && !readOnlyVolume;
    }
    report.results.push_back(std::move(r));
  }
  report.statistics = {FilesScanned, FilesInfected, FilesRemoved, FilesDisinfected};
  report.status = Shown(StatusText);
  for (const auto& p : emu::PendingRenames()) report.pendingRenames.push_back({Shown(p.from), Shown(p.to)});
  report.exitCode = exitCode;
  json written = json::array();
  for (const auto& c : committed) written.push_back({{"hive", Shown(c.label)}, {"backup", Shown(c.backup)}});
  json doc = ReportDocument(report);
  doc["volume"] = Shown(rescue.volume);
  doc["windows_dir"] = active ? layout.windowsDir : "";
  doc["hives_written"] = written;
  doc["quarantine"] = Shown(rescue.quarantine);
  doc["other_file_systems"] = OtherFileSystemsText(others);
  doc["other_file_systems_entered"] = rescue.crossFs;
  doc["errors"] = failures;
  // The mount folder of an image is temporary: the image and partition
  // name the volume.
  if (!rescue.origin.empty()) doc["image"] = json::parse(rescue.origin, nullptr, false);
  std::ofstream out(rescue.report, std::ios::binary);
  out << ReportText(doc);
  out.close();
  if (!out) {
    *error = "cannot write the report " + rescue.report + (ok ? "" : "; " + *error);
    if (finalCode) *finalCode = 2;
    return false;
  }
  writtenReport = doc;
  return ok;
}
