// The read-ahead pool (read_ahead.h). The threads are started with the
// first listing and live as long as the process; their state is never
// destroyed, so that a thread still reading at exit touches nothing freed.
// Only the walk's thread sets the current listing, so it reads it without
// the lock; what a thread took of an entry sits in a ring of slots, each
// published by its state. With a screen set, the pool reads the ends of
// every regular file it opens (over a warm tree too) and screens them
// there, so the walk never reads a file that no row could act on.
#include "platform/host/read_ahead.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <climits>
#include <ctime>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

namespace host {
namespace {

// 16 threads keep a disk about as busy as it gets on this kind of machine
// (the bench's floor with 16 reading threads beats the one with 64); 64
// entries ahead leave them work while the walk scans.
constexpr int Threads = 16;
constexpr size_t Window = 64;
// Entry i uses slot i % Ring: a thread takes entry i only when i <= the
// walk's entry + Window, so the slot's previous entry is one the walk has
// left behind.
constexpr size_t Ring = 2 * Window;
constexpr size_t Block = 4096;
constexpr size_t FirstFiles = 16;
// Over a tree already in memory reading gains nothing, and many threads at
// work would take the walk's CPU: after WarmAfter files in a row whose
// blocks were all in the page cache, one thread at a time works ahead of
// the walk, taking each entry's status and opening its regular files
// without reading them (it only checks that their blocks are still
// cached), and lists no subdirectory, until a file's blocks were not.
constexpr int WarmAfter = 64;
// While warm, every CheckEvery-th file is checked (the others count as
// neither cached nor not).
constexpr size_t CheckEvery = 8;

// What a thread took of one entry.
enum class Verdict { None, MayAct, ScreenedOut };

struct Slot {
  // Set under the pool's lock when a thread takes the entry: state 1, then
  // the index; state 2 once the rest is written. A reader loads the index,
  // then the state: entry i is ready when they read i and 2.
  std::atomic<int> state{0};  // 0: nothing, 1: being read, 2: ready
  std::atomic<size_t> index{0};
  bool listed = false;  // `status` holds the entry's lstat
  struct stat status;
  int fd = -1;  // a regular file's descriptor until the walk takes it
  Verdict verdict = Verdict::None;

  void Clear() {
    if (fd >= 0) close(fd);
    fd = -1;
    listed = false;
    verdict = Verdict::None;
  }
};

// One directory listing being read ahead.
struct Job {
  int dirFd;
  std::string hostDir;
  std::vector<std::string> names;
  uint64_t id, generation;
  Slot slots[Ring];
  Job(int fd, const std::string& dir, const std::vector<std::string>& n, uint64_t i, uint64_t g)
      : dirFd(fd), hostDir(dir), names(n), id(i), generation(g) {}
  ~Job() {
    for (Slot& s : slots) s.Clear();
    close(dirFd);
  }
};

struct Pool {
  std::mutex lock;
  std::condition_variable work;
  std::shared_ptr<Job> job;
  size_t next = 0;     // the next entry to read
  // Written by the walk's thread only; it moves `reached` within the
  // window without the lock.
  std::atomic<size_t> limit{0};    // entries up to this index may be read
  std::atomic<size_t> reached{0};  // the entry the walk is at
  uint64_t lastId = 0;
  int idle = 0;
  int busy = 0;  // threads reading an entry
  int cachedInARow = 0;
  bool warm = false;
  bool started = false;
  // Descriptors the walk is done with, closed by the thread at work.
  static constexpr size_t Closing = 128;
  int closing[Closing];
  size_t closingCount = 0;
  bool closingNow = false;  // a thread is closing descriptors taken from the list
  std::condition_variable closed;
  // The screen, and how many threads may run it at once.
  FileScreen screen = nullptr;
  int workers = 1;
  int screening = 0;
  std::condition_variable screenFree;
  // The walk waits for an entry a thread is reading.
  std::atomic<bool> walkWaiting{false};
  std::condition_variable published;
};
Pool* pool = new Pool;  // never deleted (see the top)

int onSetting = -1;  // -1: from the environment

// Threads at work over a warm tree: one that only opens files; with
// screens, one fewer than the workers (the walk's thread takes a core of
// its own), at least one.
int WarmThreads(const Pool& p) { return p.screen && p.workers > 2 ? p.workers - 1 : 1; }

// The next entry a thread should read, or -1. Over a warm tree only one
// thread reads at a time, and entries the walk has passed are passed over.
long NextEntry(Pool& p) {
  if (!p.job) return -1;
  const size_t size = p.job->names.size();
  if (p.warm) {
    if (p.busy >= WarmThreads(p)) return -1;
    if (p.next < p.reached) p.next = p.reached;
  }
  return p.next < size && p.next <= p.limit ? long(p.next) : -1;
}

bool Available(Pool& p) { return NextEntry(p) >= 0; }

// What reading an entry showed of the page cache.
enum class Found { Cached, NotCached, Unknown };

// Reads `count` bytes at `offset`, first without waiting for the disk;
// false when they were not all in the page cache.
bool ReadFindingCached(int fd, char* buffer, size_t count, off_t offset) {
  struct iovec v = {buffer, count};
  ssize_t n = preadv2(fd, &v, 1, offset, RWF_NOWAIT);
  if (n == ssize_t(count)) return true;
  (void)!pread(fd, buffer, count, offset);
  return false;
}

// Opens a regular file whose lstat through the directory was `listed`,
// neither following a link nor waiting (a FIFO put there since): the
// descriptor's own status (*now) must show the same regular file; -1
// otherwise.
int OpenOnly(int dirFd, const char* name, const struct stat& listed, struct stat* now = nullptr) {
  int fd = openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat own;
  struct stat& st = now ? *now : own;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_ino != listed.st_ino ||
      st.st_dev != listed.st_dev) {
    close(fd);
    return -1;
  }
  return fd;
}

// True when a byte of each block a full read below would read is in the
// page cache (asked without waiting for the disk).
bool BlocksCached(int fd, off_t size) {
  char byte;
  struct iovec v = {&byte, 1};
  const auto cached = [&](off_t block) { return preadv2(fd, &v, 1, block * off_t(Block), RWF_NOWAIT) == 1; };
  const off_t last = (size - 1) / off_t(Block);
  const off_t from = last > 1 ? last - 1 : 1;  // as the full read
  return cached(0) && (last == 0 || cached(from)) && (last <= from || cached(last));
}

// A read the page cache answers takes a few microseconds; one that waits
// for a disk, far more.
constexpr int64_t DiskReadNanoseconds = 100000;
// How often the walk checks a slot being filled before it sleeps (a few
// tens of microseconds).
constexpr int SpinBeforeSleep = 2000;

int64_t Now() {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// Reads `count` bytes at `offset`; false when not all of them could be
// read. With `check`, first without waiting for the disk, and *cached
// turns false when the bytes were not in the page cache: the read without
// waiting also gives up over cached pages that would start the kernel's
// own read-ahead, so a read that then completes at once still counts as
// cached.
bool ReadAllNoting(int fd, uint8_t* buffer, size_t count, off_t offset, bool check, bool* cached) {
  if (!check) return pread(fd, buffer, count, offset) == ssize_t(count);
  struct iovec v = {buffer, count};
  if (preadv2(fd, &v, 1, offset, RWF_NOWAIT) == ssize_t(count)) return true;
  const int64_t start = Now();
  const bool whole = pread(fd, buffer, count, offset) == ssize_t(count);
  if (Now() - start >= DiskReadNanoseconds) *cached = false;
  return whole;
}

// Runs the pool's screen, on at most its `workers` threads at a time
// (over a warm tree no more threads are at work).
Verdict Screen(Pool& p, FileScreen screen, const ScreenBytes& bytes, bool warm) {
  if (warm) return screen(bytes) ? Verdict::MayAct : Verdict::ScreenedOut;
  {
    std::unique_lock<std::mutex> hold(p.lock);
    p.screenFree.wait(hold, [&p] { return p.screening < p.workers; });
    ++p.screening;
  }
  const bool mayAct = screen(bytes);
  {
    std::lock_guard<std::mutex> hold(p.lock);
    --p.screening;
  }
  p.screenFree.notify_one();
  return mayAct ? Verdict::MayAct : Verdict::ScreenedOut;
}

// OpenOnly, then reads the file's ends (the same blocks OpenAndRead reads)
// and screens them; *verdict stays None when a read fell short. The
// descriptor of a file screened out is closed here. Only with
// `check` is *found told whether the blocks were in the page cache.
int OpenReadAndScreen(Pool& p, FileScreen screen, int dirFd, const char* name, const struct stat& listed,
                      bool warm, bool check, Found* found, Verdict* verdict) {
  struct stat st;
  int fd = OpenOnly(dirFd, name, listed, &st);
  if (fd < 0) return -1;
  uint8_t head[Block], ends[2 * Block];
  bool cached = true, read;
  ScreenBytes bytes{};
  bytes.length = st.st_size;
  bytes.fd = fd;
  if (st.st_size <= off_t(2 * Block)) {
    read = ReadAllNoting(fd, ends, size_t(st.st_size), 0, check, &cached);
    bytes.head = ends;
    bytes.headLength = size_t(st.st_size);
  } else {
    const off_t last = (st.st_size - 1) / off_t(Block);
    const off_t from = (last > 1 ? last - 1 : 1) * off_t(Block);
    const size_t tail = size_t(st.st_size - from);  // more than one block
    read = ReadAllNoting(fd, head, Block, 0, check, &cached) &&
           ReadAllNoting(fd, ends, tail, from, check, &cached);
    bytes.head = head;
    bytes.headLength = Block;
    bytes.tail = ends + (tail - Block);
    bytes.tailLength = Block;
  }
  if (check) *found = cached ? Found::Cached : Found::NotCached;
  if (read) *verdict = Screen(p, screen, bytes, warm);
  if (*verdict != Verdict::ScreenedOut) return fd;
  close(fd);  // the walk will not read it
  return -1;
}

// OpenOnly, then reads the file's first block and its last two
// (`onlyCheck`: only when they are not all in the page cache). *found
// tells whether the blocks were in the page cache.
int OpenAndRead(int dirFd, const char* name, const struct stat& listed, Found* found, bool onlyCheck = false) {
  struct stat st;
  int fd = OpenOnly(dirFd, name, listed, &st);
  if (fd < 0) return -1;
  if (onlyCheck && st.st_size > 0 && BlocksCached(fd, st.st_size)) {
    *found = Found::Cached;
    return fd;
  }
  char buffer[2 * Block];
  const size_t head = st.st_size < off_t(Block) ? size_t(st.st_size) : Block;
  bool cached = ReadFindingCached(fd, buffer, head, 0);
  if (st.st_size > off_t(Block)) {
    const off_t last = (st.st_size - 1) / off_t(Block);
    const off_t from = (last > 1 ? last - 1 : 1) * off_t(Block);
    cached = ReadFindingCached(fd, buffer, size_t(st.st_size - from), from) && cached;
  }
  *found = cached ? Found::Cached : Found::NotCached;
  return fd;
}

// A subdirectory's listing and the statuses of its entries, which the
// walk asks for when it gets there, and the ends of its first FirstFiles
// regular files in the walk's order (ignoring case, then bytewise, as a
// search sorts), so that the walk meets a warm directory when it gets
// there.
void ListDirectory(int dirFd, const char* name) {
  int fd = openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  // The first files so far, sorted; kept on the stack, since a thread that
  // allocated would get an arena of its own from malloc.
  struct First {
    char name[NAME_MAX + 1];
    struct stat st;
  } first[FirstFiles + 1];
  size_t count = 0;
  auto before = [](const char* a, const char* b) {
    int c = strcasecmp(a, b);
    return c != 0 ? c < 0 : std::strcmp(a, b) < 0;
  };
  char buffer[8192];
  for (;;) {
    ssize_t n = getdents64(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    for (ssize_t at = 0; at < n;) {
      const auto* e = reinterpret_cast<const struct dirent64*>(buffer + at);
      at += e->d_reclen;
      if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
      struct stat st;
      if (fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
      if (count == FirstFiles && !before(e->d_name, first[count - 1].name)) continue;
      size_t place = count;
      while (place > 0 && before(e->d_name, first[place - 1].name)) {
        first[place] = first[place - 1];
        --place;
      }
      std::memcpy(first[place].name, e->d_name, std::strlen(e->d_name) + 1);  // at most NAME_MAX
      first[place].st = st;
      if (count < FirstFiles) ++count;
    }
  }
  for (size_t i = 0; i < count; ++i) {
    const First& f = first[i];
    Found found;
    int file = OpenAndRead(fd, f.name, f.st, &found);
    if (file >= 0) close(file);
  }
  close(fd);
}

Found ReadEntry(Pool& p, FileScreen screen, Job& job, size_t index, bool warm) {
  Slot& slot = job.slots[index % Ring];
  slot.Clear();  // an entry the walk has left behind
  const std::string& name = job.names[index];
  Found found = Found::Unknown;
  if (name != "." && name != "..") {
    slot.listed = fstatat(job.dirFd, name.c_str(), &slot.status, AT_SYMLINK_NOFOLLOW) == 0;
    if (slot.listed && S_ISREG(slot.status.st_mode)) {
      if (screen) {
        const bool check = !warm || index % CheckEvery == 0;
        slot.fd = OpenReadAndScreen(p, screen, job.dirFd, name.c_str(), slot.status, warm, check, &found,
                                    &slot.verdict);
      } else if (warm && index % CheckEvery != 0) {
        slot.fd = OpenOnly(job.dirFd, name.c_str(), slot.status);
      } else {
        slot.fd = OpenAndRead(job.dirFd, name.c_str(), slot.status, &found, warm);
      }
    } else if (slot.listed && S_ISDIR(slot.status.st_mode) && !warm) {
      ListDirectory(job.dirFd, name.c_str());
    }
  }
  // Sequentially consistent, as the load of walkWaiting after it in Work:
  // either the walk sees the state, or the thread sees the walk waiting.
  slot.state.store(2);
  return found;
}

void Work(Pool* p) {
  Found found = Found::Unknown;
  bool reading = false;
  for (;;) {
    std::shared_ptr<Job> job;
    size_t index;
    bool warm;
    FileScreen screen;
    {
      std::unique_lock<std::mutex> hold(p->lock);
      if (p->closingCount && !p->closingNow) {
        int fds[Pool::Closing];
        const size_t n = p->closingCount;
        std::memcpy(fds, p->closing, n * sizeof *fds);
        p->closingCount = 0;
        p->closingNow = true;
        hold.unlock();
        for (size_t i = 0; i < n; ++i) close(fds[i]);
        hold.lock();
        p->closingNow = false;
        p->closed.notify_all();
      }
      if (reading) --p->busy;
      if (found == Found::Cached && ++p->cachedInARow >= WarmAfter) p->warm = true;
      if (found == Found::NotCached) {
        p->cachedInARow = 0;
        if (p->warm) p->work.notify_all();
        p->warm = false;
      }
      ++p->idle;
      p->work.wait(hold, [p] { return Available(*p); });
      --p->idle;
      job = p->job;
      index = p->next++;
      Slot& slot = job->slots[index % Ring];
      slot.state.store(1);
      slot.index.store(index);
      ++p->busy;
      reading = true;
      warm = p->warm;
      screen = p->screen;
    }
    found = ReadEntry(*p, screen, *job, index, warm);
    if (p->walkWaiting.load()) {
      std::lock_guard<std::mutex> hold(p->lock);
      p->published.notify_all();
    }
  }
}

// A child of fork has none of the threads: it starts afresh (the old
// state, whose lock the fork may have caught held, is left alone).
void ForkPrepare() { pool->lock.lock(); }
void ForkParent() { pool->lock.unlock(); }
void ForkChild() { pool = new Pool; }

void StartThreads(Pool& p) {
  static const bool registered = pthread_atfork(ForkPrepare, ForkParent, ForkChild) == 0;
  (void)registered;
  for (int i = 0; i < Threads; ++i) std::thread(Work, &p).detach();
  p.started = true;
}

// The ready slot of entry `index` of the current listing, when the host
// generation is still the listing's.
Slot* ReadySlot(uint64_t id, size_t index, uint64_t generation) {
  Job* job = pool->job.get();
  if (!id || !job || job->id != id || job->generation != generation) return nullptr;
  Slot& slot = job->slots[index % Ring];
  if (slot.index.load() != index || slot.state.load() != 2) return nullptr;
  return &slot;
}

// How many threads should be at work: all over a cold tree, else
// WarmThreads.
int Wanted(const Pool& p) { return !p.warm ? Threads : WarmThreads(p); }

// Wakes `count` threads (all for Threads or more).
void Wake(int count) {
  if (count >= Threads) {
    pool->work.notify_all();
    return;
  }
  for (int i = 0; i < count; ++i) pool->work.notify_one();
}

}  // namespace

void ResetReadAhead() {
  std::shared_ptr<Job> old;
  std::lock_guard<std::mutex> hold(pool->lock);
  old.swap(pool->job);
  for (size_t i = 0; i < pool->closingCount; ++i) close(pool->closing[i]);
  pool->closingCount = 0;
  pool->cachedInARow = 0;
  pool->warm = false;
  pool->screen = nullptr;
  pool->workers = 1;
}
bool ReadAheadOn() {
  if (onSetting < 0) {
    const char* value = std::getenv("SORVANE_READ_AHEAD");
    onSetting = value && !std::strcmp(value, "0") ? 0 : 1;
  }
  return onSetting == 1;
}

void SetReadAhead(bool on) {
  onSetting = on ? 1 : 0;
  if (!on) ResetReadAhead();
}

uint64_t ReadAheadListing(int dirFd, const std::string& hostDir, const std::vector<std::string>& names,
                          uint64_t generation) {
  if (!ReadAheadOn() || names.empty()) return 0;
  int fd = fcntl(dirFd, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return 0;
  std::shared_ptr<Job> job;
  uint64_t id;
  int wanted;
  {
    std::lock_guard<std::mutex> hold(pool->lock);
    id = ++pool->lastId;
    job = std::make_shared<Job>(fd, hostDir, names, id, generation);
    pool->job.swap(job);  // the listing before ends when its last reader does
    pool->next = 0;
    pool->reached = 0;
    pool->limit = Window;
    if (!pool->started) StartThreads(*pool);
    wanted = Wanted(*pool);
  }
  Wake(wanted);
  return id;
}

void ReadAheadReached(uint64_t id, size_t index) {
  if (!id) return;
  // Only the walk's thread changes the current listing: it reads it
  // without the lock.
  const Job* job = pool->job.get();
  if (!job || job->id != id) return;
  pool->reached = index;
  if (index + Window <= pool->limit) return;
  int wake = 0;
  {
    std::lock_guard<std::mutex> hold(pool->lock);
    if (index + Window <= pool->limit) return;
    pool->limit = index + Window;
    // Waking threads costs the walk a host call: only once a quarter of
    // the window is free, or the rest of the listing.
    const size_t size = pool->job->names.size();
    const size_t end = pool->limit + 1 < size ? pool->limit + 1 : size;
    // Over a warm tree the threads are woken once half the window is free.
    const size_t batch = pool->warm ? Window / 2 : Window / 4;
    const bool due = pool->idle > 0 && pool->next < end && (end - pool->next >= batch || end == size);
    if (due) wake = Wanted(*pool) - pool->busy;
  }
  Wake(wake);
}

void ReadAheadCloseWaiting() {
  std::unique_lock<std::mutex> hold(pool->lock);
  for (size_t i = 0; i < pool->closingCount; ++i) close(pool->closing[i]);
  pool->closingCount = 0;
  pool->closed.wait(hold, [] { return !pool->closingNow; });
}

void ReadAheadClose(int fd) {
  {
    std::lock_guard<std::mutex> hold(pool->lock);
    if (pool->warm && pool->closingCount < Pool::Closing) {
      pool->closing[pool->closingCount++] = fd;
      return;
    }
  }
  close(fd);
}

bool ReadAheadStatus(uint64_t id, size_t index, uint64_t generation, struct stat* st) {
  Slot* slot = ReadySlot(id, index, generation);
  if (!slot || !slot->listed) return false;
  *st = slot->status;
  return true;
}

void SetReadAheadScreen(FileScreen screen, int workers) {
  std::lock_guard<std::mutex> hold(pool->lock);
  pool->screen = screen;
  pool->workers = workers > 0 ? workers : 1;
}

bool ReadAheadScreenedOut(const std::string& hostDir, const std::string& name, uint64_t generation) {
  Job* job = pool->job.get();
  if (!job || !pool->screen) return false;
  const size_t index = pool->reached;
  if (index >= job->names.size() || job->names[index] != name || job->hostDir != hostDir) return false;
  if (job->generation != generation) return false;
  Slot& slot = job->slots[index % Ring];
  if (!ReadySlot(job->id, index, generation)) {
    // An entry a thread has taken is being read into its slot (a slot is
    // taken again only for an entry a window beyond the walk's); one no
    // thread has taken yet the walk reads itself.
    std::unique_lock<std::mutex> hold(pool->lock);
    if (pool->job.get() != job || index >= pool->next) return false;
    // The thread reading it is at work on another core: a short spin
    // spares both a sleep and a wake-up, each a system call.
    hold.unlock();
    for (int spin = 0; spin < SpinBeforeSleep && slot.state.load() != 2; ++spin) __builtin_ia32_pause();
    hold.lock();
    pool->walkWaiting.store(true);
    pool->published.wait(hold, [&slot] { return slot.state.load() == 2; });
    pool->walkWaiting.store(false);
  }
  Slot* ready = ReadySlot(job->id, index, generation);
  return ready && ready->verdict == Verdict::ScreenedOut;
}

int ReadAheadTake(const std::string& hostDir, const std::string& name, uint64_t generation) {
  Job* job = pool->job.get();
  if (!job) return -1;
  const size_t index = pool->reached;
  if (index >= job->names.size() || job->names[index] != name || job->hostDir != hostDir) return -1;
  Slot* slot = ReadySlot(job->id, index, generation);
  if (!slot || slot->fd < 0) return -1;
  int fd = slot->fd;
  slot->fd = -1;
  return fd;
}

}  // namespace host
