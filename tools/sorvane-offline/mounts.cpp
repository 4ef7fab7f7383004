// Child processes, FUSE mounts and the run folder of an image run.
#include "tools/sorvane-offline/mounts.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

namespace mounts {
namespace {

void Pause(double seconds) {
  struct timespec t = {static_cast<time_t>(seconds), static_cast<long>((seconds - static_cast<time_t>(seconds)) * 1e9)};
  nanosleep(&t, nullptr);
}

double Now() {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

// True when `child` (our own child) has ended; reaps it.
bool Ended(pid_t child) {
  if (child <= 0) return true;
  int status;
  pid_t r = waitpid(child, &status, WNOHANG);
  if (r == child) return true;
  if (r < 0 && errno == ECHILD) return kill(child, 0) != 0;  // not ours: gone when it cannot be signalled
  return false;
}

// A mount point as /proc/self/mountinfo spells it (\040 for a blank ...).
std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && std::isdigit(static_cast<unsigned char>(text[i + 1]))) {
      out += static_cast<char>(std::strtol(text.substr(i + 1, 3).c_str(), nullptr, 8));
      i += 3;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::vector<std::string> MountPoints() {
  std::vector<std::string> points;
  std::ifstream in("/proc/self/mountinfo");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, dev, root, point;
    if (fields >> id >> parent >> dev >> root >> point) points.push_back(Unescape(point));
  }
  return points;
}

std::string Comm(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

bool RemoveTree(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return errno == ENOENT;
  if (S_ISDIR(st.st_mode)) {
    if (DIR* d = opendir(path.c_str())) {
      while (dirent* e = readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != "..") RemoveTree(path + "/" + n);
      }
      closedir(d);
    }
    return rmdir(path.c_str()) == 0;
  }
  return unlink(path.c_str()) == 0;
}

}  // namespace

pid_t Spawn(const std::vector<std::string>& argv, const std::string& log, std::string* error) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (out < 0) {
    *error = "cannot write " + log + ": " + std::strerror(errno);
    return -1;
  }
  int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
  pid_t pid = fork();
  if (pid == 0) {
    setsid();
    // Default signal handling in the helper, whatever ours is.
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    signal(SIGHUP, SIG_DFL);
    dup2(in, 0);
    dup2(out, 1);
    dup2(out, 2);
    execvp(args[0], args.data());
    std::fprintf(stderr, "cannot run %s: %s\n", args[0], std::strerror(errno));
    _exit(127);
  }
  close(out);
  if (in >= 0) close(in);
  if (pid < 0) {
    *error = std::string("cannot start ") + args[0] + ": " + std::strerror(errno);
    return -1;
  }
  return pid;
}

bool IsMountPoint(const std::string& path) {
  auto points = MountPoints();
  return std::find(points.begin(), points.end(), path) != points.end();
}

std::vector<std::string> MountsBelow(const std::string& dir) {
  std::vector<std::string> below;
  for (const auto& p : MountPoints()) {
    if ((p == dir || p.compare(0, dir.size() + 1, dir + "/") == 0) &&
        std::find(below.begin(), below.end(), p) == below.end()) {
      below.push_back(p);
    }
  }
  // The latest mount first: an ntfs-3g mount is made after the export it
  // reads, so it goes before it.
  std::reverse(below.begin(), below.end());
  return below;
}

bool WaitForMount(const std::string& path, pid_t child, double seconds, const volatile int* stop) {
  double end = Now() + seconds;
  while (Now() < end) {
    if (IsMountPoint(path)) return true;
    if (child > 0 && Ended(child)) return IsMountPoint(path);
    if (stop && *stop) return false;
    Pause(0.02);
  }
  return IsMountPoint(path);
}

bool Unmount(const std::string& path, pid_t child, double seconds, std::string* error) {
  // A file let go of just now can keep the mount busy for a moment.
  for (double busyUntil = Now() + 5; IsMountPoint(path) && umount2(path.c_str(), 0) != 0 && errno == EBUSY &&
                                     Now() < busyUntil;) {
    Pause(0.05);
  }
  if (IsMountPoint(path) && umount2(path.c_str(), 0) != 0) {
    // Not root: the FUSE helper unmounts what this user mounted.
    for (const char* helper : {"fusermount3", "fusermount"}) {
      std::string ignored;
      pid_t p = Spawn({helper, "-u", "-q", path}, "/dev/null", &ignored);
      int status;
      if (p > 0) waitpid(p, &status, 0);
      if (!IsMountPoint(path)) break;
    }
  }
  if (IsMountPoint(path)) {
    *error = "cannot unmount " + path + ": " + std::strerror(errno) + " (something still uses it)";
    return false;
  }
  double end = Now() + seconds;
  while (!Ended(child)) {
    if (Now() >= end) {
      *error = "the process " + std::to_string(child) + " behind " + path + " did not end after the unmount";
      return false;
    }
    Pause(0.02);
  }
  return true;
}

void Stop(pid_t child, double seconds) {
  if (child <= 0 || Ended(child)) return;
  // Sent again every half second: a process still setting up its signal
  // handling (QEMU at its start) can lose the first one.
  double end = Now() + seconds, next = 0;
  while (!Ended(child)) {
    if (Now() >= next) {
      kill(child, SIGTERM);
      next = Now() + 0.5;
    }
    if (Now() >= end) {
      kill(child, SIGKILL);
      int status;
      waitpid(child, &status, 0);
      return;
    }
    Pause(0.02);
  }
}

unsigned long long StartTime(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t close = text.rfind(')');  // the name may hold blanks and parentheses
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  // Field 3 (state) is the first after the name; the start time is field 22.
  for (int i = 3; i < 22 && fields >> field; ++i) {
  }
  unsigned long long start = 0;
  fields >> start;
  return start;
}

std::string RunBase() {
  if (const char* dir = std::getenv("SORVANE_RUN_DIR"); dir && *dir) return dir;
  if (geteuid() == 0) return "/run/sorvane-offline";
  if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg && *xdg) return std::string(xdg) + "/sorvane-offline";
  return "/tmp/sorvane-offline-" + std::to_string(geteuid());
}

std::string CreateRunFolder(std::string* error) {
  std::string base = RunBase();
  mkdir(base.c_str(), 0700);
  struct stat st;
  if (lstat(base.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid()) {
    *error = "cannot use " + base + " for the image's mounts (a folder of this user is needed)";
    return "";
  }
  // Made under another name with its owner file, then renamed: another
  // run's clean-up never sees a folder without its owner.
  std::string folder = base + "/" + std::to_string(getpid());
  std::string making = base + "/.new-" + std::to_string(getpid());
  RemoveTree(folder);  // a folder of a dead run that had our number
  RemoveTree(making);
  if (mkdir(making.c_str(), 0700) != 0) {
    *error = "cannot create " + making + ": " + std::strerror(errno);
    return "";
  }
  {
    std::ofstream owner(making + "/owner");
    owner << getpid() << " " << StartTime(getpid()) << "\n";
    if (!owner.flush()) {
      *error = "cannot write " + making + "/owner";
      RemoveTree(making);
      return "";
    }
  }
  if (rename(making.c_str(), folder.c_str()) != 0) {
    *error = "cannot create " + folder + ": " + std::strerror(errno);
    RemoveTree(making);
    return "";
  }
  return folder;
}

void RecordProcess(const std::string& runFolder, const std::string& name, pid_t pid) {
  std::ofstream out(runFolder + "/" + name + ".pid");
  out << pid << " " << StartTime(pid) << "\n";
}

namespace {

// The process named in `file` ("PID STARTTIME") when it still is that
// process and has not ended (a zombie no parent reaped has); 0 otherwise.
pid_t LivingProcess(const std::string& file) {
  std::ifstream in(file);
  long long pid = 0;
  unsigned long long start = 0;
  if (!(in >> pid >> start) || pid <= 1) return 0;
  if (StartTime(static_cast<pid_t>(pid)) != start || start == 0) return 0;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  size_t close = text.rfind(')');
  if (close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'Z') return 0;
  return static_cast<pid_t>(pid);
}

// Waits up to `seconds` for the process recorded in `file` to end.
bool Gone(const std::string& file, double seconds) {
  for (double end = Now() + seconds; LivingProcess(file) != 0; Pause(0.05)) {
    if (Now() >= end) return false;
  }
  return true;
}

// An ntfs-3g mount of a run folder (mN), as against QEMU's exports.
bool NtfsMount(const std::string& folder, const std::string& point) {
  if (point.compare(0, folder.size() + 1, folder + "/") != 0) return false;
  std::string name = point.substr(folder.size() + 1);
  return name.size() > 1 && name[0] == 'm' && name.find_first_not_of("0123456789", 1) == std::string::npos;
}

// The recorded helpers of a run folder still alive whose name starts with
// `comm`, by their pid file.
std::vector<std::string> Helpers(const std::string& folder, const std::string& comm) {
  std::vector<std::string> files;
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name.size() < 5 || name.compare(name.size() - 4, 4, ".pid") != 0) continue;
      pid_t pid = LivingProcess(folder + "/" + name);
      if (pid && Comm(pid).rfind(comm, 0) == 0) files.push_back(folder + "/" + name);
    }
    closedir(d);
  }
  return files;
}

// Undoes one run folder of a run that is gone, in the order a run undoes
// its own: each ntfs-3g mount unmounted and its process gone (it writes
// back what it holds into the export), only then the exports and the
// daemon. False when an ntfs-3g mount is still in use: the daemon under it
// then keeps running.
bool CleanStaleRun(const std::string& folder) {
  bool held = false;
  for (const auto& m : MountsBelow(folder)) {
    if (!NtfsMount(folder, m)) continue;
    std::string error;
    if (Unmount(m, 0, 0, &error)) {
      std::fprintf(stderr, "image: unmounted %s\n", m.c_str());
    } else {
      std::fprintf(stderr, "image: %s\n", error.c_str());
      held = true;
    }
  }
  if (held) return false;
  // Unmounted, ntfs-3g writes back and ends; asked again with SIGTERM
  // (which also writes back) when it lingers, never killed outright.
  for (const auto& file : Helpers(folder, "ntfs-3g")) {
    pid_t pid = LivingProcess(file);
    if (!Gone(file, 10)) {
      kill(pid, SIGTERM);
      if (!Gone(file, 50)) {
        std::fprintf(stderr, "image: ntfs-3g (%d) does not end\n", static_cast<int>(pid));
        return false;
      }
    }
    std::fprintf(stderr, "image: ended ntfs-3g (%d)\n", static_cast<int>(pid));
  }
  for (const auto& m : MountsBelow(folder)) {
    if (umount2(m.c_str(), 0) != 0 && umount2(m.c_str(), MNT_DETACH) != 0) {
      std::string error;
      Unmount(m, 0, 0, &error);
    }
    std::fprintf(stderr, "image: unmounted %s\n", m.c_str());
  }
  for (const auto& file : Helpers(folder, "qemu-storage")) {
    pid_t pid = LivingProcess(file);
    kill(pid, SIGTERM);  // QEMU flushes the image and ends
    if (!Gone(file, 30)) kill(pid, SIGKILL);
    std::fprintf(stderr, "image: ended qemu-storage-daemon (%d)\n", static_cast<int>(pid));
  }
  return true;
}

}  // namespace

void CleanStaleRuns() {
  std::string base = RunBase();
  DIR* d = opendir(base.c_str());
  if (!d) return;
  std::vector<std::string> folders;
  while (dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n != "." && n != ".." && n.find_first_not_of("0123456789") == std::string::npos) folders.push_back(n);
    // A folder a killed run was making holds no mounts yet.
    if (n.rfind(".new-", 0) == 0 && kill(std::atoi(n.c_str() + 5), 0) != 0 && errno == ESRCH)
      RemoveTree(base + "/" + n);
  }
  closedir(d);
  for (const auto& n : folders) {
    std::string folder = base + "/" + n;
    if (LivingProcess(folder + "/owner") != 0) continue;  // a run still going
    std::fprintf(stderr, "image: cleaning up after a run that was stopped: %s\n", folder.c_str());
    if (!CleanStaleRun(folder) || !MountsBelow(folder).empty()) {
      std::fprintf(stderr, "image: %s still has mounts, left as it is\n", folder.c_str());
      continue;
    }
    RemoveTree(folder);
  }
}

void RemoveRunFolder(const std::string& runFolder) {
  if (runFolder.empty() || !MountsBelow(runFolder).empty()) return;
  RemoveTree(runFolder);
}

}  // namespace mounts
