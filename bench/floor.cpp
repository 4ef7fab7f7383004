// The floor of the benchmark: walks a tree and, per file, opens it, reads
// its first and last 4 KiB and closes it, the least any scanner with these
// rules must read. Prints the files visited, the bytes read, the seconds
// of the walk and (on Windows) the peak working set.
//   floor DIR        (natively a host directory; on Windows e.g. C:\tree)
#include <chrono>
#include <cstdio>
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
void ReadEnds(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  ++files;
  ssize_t n = read(fd, buffer, Chunk);
  if (n > 0) bytes += n;
  struct stat st;
  if (fstat(fd, &st) == 0 && st.st_size > static_cast<off_t>(Chunk)) {
    n = pread(fd, buffer, Chunk, st.st_size - Chunk);
    if (n > 0) bytes += n;
  }
  close(fd);
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
  if (argc != 2) {
    std::fprintf(stderr, "usage: floor DIR\n");
    return 2;
  }
  std::string root = argv[1];
  while (root.size() > 1 && (root.back() == '/' || root.back() == '\\')) root.pop_back();
  auto start = std::chrono::steady_clock::now();
  Walk(root);
  std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  std::printf("files %lld bytes %lld seconds %.3f peak_kib %lld\n", files, bytes, took.count(),
              PeakKib());
  return 0;
}
