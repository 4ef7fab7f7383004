// The floor of the benchmark: walks a tree and, per file, opens it, reads
// its first and last 4 KiB and closes it, the least any scanner with these
// rules must read. Prints the files visited, the bytes read, the seconds
// of the walk and (on Windows) the peak working set.
//   floor DIR              (natively a host directory; on Windows e.g. C:\tree)
//   floor --threads N DIR  (natively: one thread walks and hands each file to
//                           N reading threads; with 16 or 64, the most a disk
//                           gives when asked many things at once)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <psapi.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>
#endif

namespace {

constexpr unsigned Chunk = 4096;
long long files = 0, bytes = 0;
char buffer[Chunk];

#ifdef _WIN32
void ReadEnds(const std::string& path) {
  int fd = _open(path.c_str(), _O_RDONLY | _O_BINARY);
  if (fd < 0) return;
  ++files;
  int n = _read(fd, buffer, Chunk);
  if (n > 0) bytes += n;
  long length = _filelength(fd);
  if (length > static_cast<long>(Chunk) && _lseek(fd, length - Chunk, SEEK_SET) >= 0) {
    n = _read(fd, buffer, Chunk);
    if (n > 0) bytes += n;
  }
  _close(fd);
}

void Walk(const std::string& dir) {
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA((dir + "\\*.*").c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (!std::strcmp(data.cFileName, ".") || !std::strcmp(data.cFileName, "..")) continue;
    std::string path = dir + "\\" + data.cFileName;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (!(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) Walk(path);
    } else {
      ReadEnds(path);
    }
  } while (FindNextFileA(search, &data));
  FindClose(search);
}

// Peak working set of this process, in KiB (0 when unknown).
long long PeakKib() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return static_cast<long long>(counters.PeakWorkingSetSize / 1024);
}
#else
// The reads of one file into `into`; counts into the given totals.
void ReadEnds(const std::string& path, char* into, long long* fileCount, long long* byteCount) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  ++*fileCount;
  ssize_t n = read(fd, into, Chunk);
  if (n > 0) *byteCount += n;
  struct stat st;
  if (fstat(fd, &st) == 0 && st.st_size > static_cast<off_t>(Chunk)) {
    n = pread(fd, into, Chunk, st.st_size - Chunk);
    if (n > 0) *byteCount += n;
  }
  close(fd);
}

// With --threads: the walk hands paths to the readers through a bounded
// queue (memory stays flat however far the walk runs ahead). Two condition
// variables, each woken once per change, so that 64 idle readers do not all
// wake for every path on a machine with two cores.
struct Readers {
  std::mutex lock;
  std::condition_variable notEmpty, notFull;
  std::deque<std::string> queue;
  bool done = false;
  std::vector<std::thread> threads;
  static constexpr size_t Capacity = 4096;

  explicit Readers(int count) {
    for (int i = 0; i < count; ++i) threads.emplace_back([this] { Run(); });
  }
  void Add(std::string path) {
    {
      std::unique_lock<std::mutex> hold(lock);
      notFull.wait(hold, [this] { return queue.size() < Capacity; });
      queue.push_back(std::move(path));
    }
    notEmpty.notify_one();
  }
  void Finish() {
    {
      std::lock_guard<std::mutex> hold(lock);
      done = true;
    }
    notEmpty.notify_all();
    for (auto& t : threads) t.join();
  }
  void Run() {
    char own[Chunk];
    long long myFiles = 0, myBytes = 0;
    for (;;) {
      std::string path;
      {
        std::unique_lock<std::mutex> hold(lock);
        notEmpty.wait(hold, [this] { return done || !queue.empty(); });
        if (queue.empty()) break;
        path = std::move(queue.front());
        queue.pop_front();
      }
      notFull.notify_one();
      ReadEnds(path, own, &myFiles, &myBytes);
    }
    std::lock_guard<std::mutex> hold(lock);
    files += myFiles;
    bytes += myBytes;
  }
};
Readers* readers = nullptr;

void ReadEnds(const std::string& path) {
  if (readers) {
    readers->Add(path);
  } else {
    ReadEnds(path, buffer, &files, &bytes);
  }
}

void Walk(const std::string& dir) {
  DIR* d = opendir(dir.c_str());
  if (!d) return;
  while (dirent* e = readdir(d)) {
    if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
    std::string path = dir + "/" + e->d_name;
    unsigned char type = e->d_type;
    if (type == DT_UNKNOWN) {
      struct stat st;
      if (lstat(path.c_str(), &st) != 0) continue;
      type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_LNK;
    }
    if (type == DT_DIR) {
      Walk(path);
    } else if (type == DT_REG) {
      ReadEnds(path);
    }
  }
  closedir(d);
}

long long PeakKib() { return 0; }  // the benchmark takes it from wait4
#endif

}  // namespace

int main(int argc, char** argv) {
  int threads = 0;
#ifndef _WIN32
  if (argc == 4 && !std::strcmp(argv[1], "--threads")) {
    threads = std::atoi(argv[2]);
    argv += 2;
    argc -= 2;
  }
#endif
  if (argc != 2 || threads < 0) {
    std::fprintf(stderr, "usage: floor [--threads N] DIR\n");
    return 2;
  }
  std::string root = argv[1];
  while (root.size() > 1 && (root.back() == '/' || root.back() == '\\')) root.pop_back();
  auto start = std::chrono::steady_clock::now();
#ifndef _WIN32
  if (threads > 0) readers = new Readers(threads);
  Walk(root);
  if (readers) readers->Finish();
#else
  Walk(root);
#endif
  std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  std::printf("files %lld bytes %lld seconds %.3f peak_kib %lld\n", files, bytes, took.count(),
              PeakKib());
  return 0;
}
