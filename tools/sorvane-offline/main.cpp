// sorvane-offline: the scan run on the emulated machine, over directories
// that stand for drives (a mounted Windows volume, or any tree). Prints every
// results line as the results list shows it, then the final status. What
// the scan could not examine, and what was not done, is named on stderr.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "engine/scan_run.h"
#include "engine/shared_state.h"
#include "platform/emu/machine.h"
#include "tools/sorvane-offline/hibernation.h"
#include "tools/sorvane-offline/image.h"
#include "tools/sorvane-offline/events.h"
#include "tools/sorvane-offline/file_screens.h"
#include "tools/sorvane-offline/options.h"
#include "tools/sorvane-offline/system_setup.h"
#include "tools/sorvane-offline/yara_rules.h"
#include "tools/version/version.h"

namespace {

bool showProgress;
int32_t detections;
time_t lastProgress;

// Stands for the main dialog: request 11 prints LogLine, request 10 shows
// progress on a terminal (and lets an events line held back go out).
LRESULT MainWindowProcedure(HWND, UINT message, WPARAM, LPARAM) {
  if (message == AddLineMessage) {
    std::printf("%s\n", LogLine);
  } else if (message == RefreshStatusMessage) {
    PollEvents();
    if (!showProgress) return 0;
    time_t now = time(nullptr);
    if (now != lastProgress) {
      lastProgress = now;
      std::fprintf(stderr, "\r\033[K%d files  %s", FilesScanned, StatusText);
    }
  }
  return 0;
}

// Ends the events stream with the run's exit code; a stream that could not
// be written makes the code 2.
int EndEvents(int code) {
  std::string error;
  if (FinishEvents(code, &error)) return code;
  std::fprintf(stderr, "sorvane-offline: %s\n", error.c_str());
  std::string reportError;
  if (!AmendRescueReport(2, error, &reportError)) std::fprintf(stderr, "sorvane-offline: %s\n", reportError.c_str());
  return 2;
}

// A run refused before it starts: the report still says why.
int Refuse(const RescueOptions& rescue, const std::string& why) {
  std::fprintf(stderr, "sorvane-offline: %s\n", why.c_str());
  std::string error;
  if (!RefuseRescue(rescue, why, &error)) std::fprintf(stderr, "sorvane-offline: %s\n", error.c_str());
  return 2;
}

// A path as one line of text: control characters (a newline in a name)
// become \xNN.
std::string Printable(const std::string& path) {
  std::string out;
  for (unsigned char c : path) {
    if (c < 32 || c == 127) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

void PrintFileNote(emu::FileNote kind, const std::string& path, const std::string& detail) {
  if (showProgress) std::fprintf(stderr, "\r\033[K");
  switch (kind) {
    case emu::FileNote::NotScanned:
      std::fprintf(stderr, "not scanned: %s: %s\n", Printable(path).c_str(), detail.c_str());
      break;
    case emu::FileNote::LinkRemoved:
      std::fprintf(stderr, "link removed: %s: %s\n", Printable(path).c_str(), detail.c_str());
      break;
    case emu::FileNote::NotScheduled:
      std::fprintf(stderr, "not scheduled: %s: %s\n", detail.c_str(), Printable(path).c_str());
      break;
  }
}

// A run that stops before the scan: the quarantine and the report are
// still closed and written, saying why.
int EndEarly(const std::string& why) {
  NoteRescueFailure(why);
  std::string error;
  int code = 2;
  if (!FinishRescue(2, &error, &code)) std::fprintf(stderr, "sorvane-offline: %s\n", error.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  // Each line as soon as it is complete, also into a pipe or a file.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  OfflineOptions options;
  std::string error;
  if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(OfflineUsage, stdout);
    std::fputs(RescueUsage, stdout);
    std::fputs(ImageUsage, stdout);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::fputs(VersionText("sorvane-offline").c_str(), stdout);
    return 0;
  }
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--yara-rules") != 0) continue;
    if (argc != 3 || i != 1) {
      std::fprintf(stderr, "sorvane-offline: --yara-rules FILE takes no other argument\n");
      return 2;
    }
    if (!WriteYaraRules(argv[2], &error)) {
      std::fprintf(stderr, "sorvane-offline: %s\n", error.c_str());
      return 2;
    }
    return 0;
  }
  if (!ParseOptions(argc, argv, &options, &error)) {
    std::fprintf(stderr, "sorvane-offline: %s\n%s", error.c_str(), OfflineUsage);
    return 2;
  }
  if (!options.rescue.restore.empty()) {
    int restored = RestoreFromImage(options.rescue.restore, options.rescue.force, options.image.allowBacking);
    return restored >= 0 ? restored : RunRestore(options.rescue);
  }
  // An image is opened, its Windows partition mounted; the session undoes
  // it all when main returns.
  ImageSession image;
  const bool changes = options.rescue.action != ActionReport;
  if (!options.image.path.empty()) {
    CatchStopSignals();
    if (!image.Open(options.image, changes, &options.rescue.volume, &options.rescue.origin, &error)) {
      return Refuse(options.rescue, error);
    }
  } else if (!options.rescue.volume.empty() && changes &&
             !RefuseIfHibernated(options.rescue.volume, &error)) {
    return Refuse(options.rescue, error);
  }
  emu::ResetMachine();
  emu::OnFileNote(PrintFileNote);
  for (const auto& d : options.drives) {
    emu::MapDrive(d.letter, d.dir, d.type);
    options.rescue.driveRoots.push_back(d.dir);
  }
  if (!StartRescue(options.rescue, &error) || !SetUpSystem(options, &error)) {
    std::fprintf(stderr, "sorvane-offline: %s\n", error.c_str());
    return EndEarly(error);
  }
  AddEmulatedProcesses(options.processes);
  StartFileScreens(options.jobs ? options.jobs : DefaultJobs());
  emu::ScriptAnswers(options.answers);
  if (!StartEvents(options.events, &error)) {
    std::fprintf(stderr, "sorvane-offline: %s\n", error.c_str());
    return EndEarly(error);
  }
  showProgress = isatty(STDERR_FILENO);

  MainWindow = emu::CreateWindow(MainWindowProcedure);
  ActionMode = options.rescue.action ? options.rescue.action : ActionClean;
  ScanInProgress = 1;
  CancelRequested = StopSignal() ? 1 : 0;  // a signal while the image was opened stops the walk too
  int code = 0;
  try {
    ScanRun();
  } catch (const emu::ProgramEnded& end) {
    code = end.code;
  }
  ScanInProgress = 0;
  if (showProgress) std::fprintf(stderr, "\r\033[K");
  std::printf("%s\n", StatusText);
  for (const auto& p : emu::Prompts()) {
    std::fprintf(stderr, "prompt: \"%s\" [%s] -> %d\n", p.text.c_str(), p.title.c_str(), p.answer);
  }
  // What the run did to the machine's processes and services.
  for (const auto& c : emu::MachineChanges()) {
    if (c.kind == emu::MachineChange::ProcessEnded) {
      std::fprintf(stderr, "process ended: %u %s\n", static_cast<unsigned>(c.processId), c.text.c_str());
    } else {
      std::fprintf(stderr, "service stopped: %s\n", c.text.c_str());
    }
  }
  detections = FilesInfected;
  std::fflush(stdout);
  // A registry that cannot be saved still leaves the quarantine's summary
  // and the report to write.
  const bool systemSaved = FinishSystem(options, &error);
  if (!systemSaved) {
    std::fprintf(stderr, "sorvane-offline: %s\n", error.c_str());
    NoteRescueFailure(error);
  }
  const int notScanned = emu::FileNoteCount(emu::FileNote::NotScanned);
  std::fprintf(stderr, "not scanned: %d %s\n", notScanned, notScanned == 1 ? "entry" : "entries");
  if (code == 0) code = detections > 0 ? 1 : notScanned > 0 ? 2 : 0;
  if (!systemSaved) code = 2;
  // A scan stopped half way, or one that left a locked volume, is no clean one.
  if (StopSignal()) std::fprintf(stderr, "sorvane-offline: stopped by signal %d\n", StopSignal());
  if (code == 0 && (StopSignal() || image.LeftLocked())) code = 2;
  int finalCode = code;
  if (!FinishRescue(code, &error, &finalCode)) std::fprintf(stderr, "sorvane-offline: %s\n", error.c_str());
  EndRescue();
  emu::ResetMachine();  // its descriptors of the drives
  if (!image.Close(&error)) {
    std::fprintf(stderr, "sorvane-offline: %s\n", error.c_str());
    std::string reportError;
    if (!AmendRescueReport(2, error, &reportError)) std::fprintf(stderr, "sorvane-offline: %s\n", reportError.c_str());
    return EndEvents(2);
  }
  return EndEvents(finalCode);
}
