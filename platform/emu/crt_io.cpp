// The run-time's low-level descriptor calls over emulated drives, with the
// Windows semantics a scanner relies on: 32-bit offsets, read-only files
// refusing write access, directories refusing to open.
//
// Each descriptor keeps its own file position and reads with pread, so a
// seek costs no host call. Read-only descriptors serve small reads from a
// few 4 KiB blocks shared by every descriptor of the same file (the three
// scanners each open a file and read many small headers near its start and
// its end); a block belongs to the file's device, inode, length and
// modification time as the descriptor showed them at the open. Blocks and
// cached lengths are dropped whenever the emulation changes a host file.
// For the same reason the host descriptor of a read-only file is kept
// after _close while the walk is still at that entry: the next scanner's
// _open of the same path takes it over instead of opening again.
//
// Only regular files open: a link, FIFO, socket or device is refused from
// its lstat without being opened, and the open itself (O_NOFOLLOW,
// O_NONBLOCK) is confirmed with fstat. A file with other hard links, or
// on a read-only drive, refuses write access: a write must not reach
// another name of the file, nor a volume meant to stay untouched.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <climits>
#include <cstdarg>
#include <cstring>
#include <map>

#include "platform/emu/fs.h"
#include "platform/emu/host_changes.h"
#include "platform/emu/machine.h"
#include "platform/host/host_open.h"
#include "platform/host/read_ahead.h"

using namespace emu;

namespace {

constexpr unsigned BlockSize = 4096;
constexpr int BlockSlots = 8;

// Which file a block belongs to.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t length = -1;
  struct timespec modified = {0, 0};

  bool operator==(const FileIdentity& o) const {
    return device == o.device && inode == o.inode && length == o.length &&
           modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec;
  }
};

struct Block {
  FileIdentity file;
  int64_t index = -1;  // block number in the file, -1: empty
  unsigned length = 0;
  uint64_t generation = 0;
  uint64_t lastUse = 0;
  char data[BlockSize];
};

Block blocks[BlockSlots];
uint64_t blockUses;

struct OpenFile {
  std::string windowsPath;
  std::string host;
  bool readOnly = false;
  bool append = false;
  int64_t position = 0;
  int64_t length = -1;  // cached length, valid while lengthGeneration is current
  uint64_t lengthGeneration = 0;
  bool cached = false;  // a read-only regular file: reads use the blocks
  FileIdentity identity;
};

std::map<int, OpenFile> openFiles;
// The descriptor looked up last, and a node kept from the last close for the
// next open: the rows make dozens of calls per file on one descriptor, and
// open and close one descriptor after another.
int lastFd = -1;
OpenFile* lastFile;
std::map<int, OpenFile>::node_type spareNode;
int64_t bytesRead;
// The block found last: reads mostly come back to it.
Block* recentBlock;

// A closed read-only descriptor kept for the next open of the same file.
struct Parked {
  int fd = -1;
  std::string host;
  uint64_t generation = 0, epoch = 0;
} parked;

void DropParked() {
  // A file the emulation has not changed since: the read-ahead may close it.
  if (parked.fd >= 0 && parked.generation == HostGeneration()) {
    ::host::ReadAheadClose(parked.fd);
  } else if (parked.fd >= 0) {
    close(parked.fd);
  }
  parked.fd = -1;
}

}  // namespace

void emu::CloseParkedDescriptor() {
  if (parked.fd >= 0) close(parked.fd);
  parked.fd = -1;
}

namespace {

// The parked descriptor when it was closed for the same host path while
// the walk is still at the same entry and nothing changed, else -1.
int TakeParked(const std::string& host) {
  if (parked.fd < 0) return -1;
  if (parked.generation != HostGeneration() || parked.epoch != EntryEpoch() || parked.host != host) {
    DropParked();
    return -1;
  }
  int fd = parked.fd;
  parked.fd = -1;
  return fd;
}

void ResetCrt() {
  DropParked();
  for (auto& f : openFiles) close(f.first);
  openFiles.clear();
  lastFd = -1;
  lastFile = nullptr;
  spareNode = {};
  bytesRead = 0;
  for (Block& b : blocks) b = Block();
  blockUses = 0;
  recentBlock = nullptr;
}
ResetHook crtHook(ResetCrt);

OpenFile* Lookup(int fd) {
  if (fd == lastFd && lastFile) return lastFile;
  auto it = openFiles.find(fd);
  if (it == openFiles.end()) {
    errno = EBADF;
    return nullptr;
  }
  lastFd = fd;
  lastFile = &it->second;
  return lastFile;
}

// A fresh entry for descriptor `fd`, in the node the last close left when
// there is one (its strings keep their room).
OpenFile& AddOpenFile(int fd) {
  if (spareNode.empty()) return openFiles[fd] = OpenFile();
  spareNode.key() = fd;
  OpenFile& f = openFiles.insert(std::move(spareNode)).position->second;
  spareNode = {};
  std::string keepPath = std::move(f.windowsPath), keepHost = std::move(f.host);
  f = OpenFile();
  f.windowsPath = std::move(keepPath);
  f.host = std::move(keepHost);
  return f;
}

void RemoveOpenFile(int fd) {
  if (fd == lastFd) lastFile = nullptr;
  auto it = openFiles.find(fd);
  if (it != openFiles.end()) spareNode = openFiles.extract(it);
}

int FailWith(int error) {
  errno = error;
  return -1;
}

// The file's length, from the host once per content generation.
int64_t LengthOf(int fd, OpenFile& f) {
  if (f.length < 0 || f.lengthGeneration != HostGeneration()) {
    struct stat st;
    if (fstat(fd, &st) != 0) return -1;
    f.length = st.st_size;
    f.lengthGeneration = HostGeneration();
  }
  return f.length;
}

// pread until `count` bytes or the end of the file; -1 on an error.
ssize_t ReadAt(int fd, char* out, size_t count, int64_t offset) {
  size_t done = 0;
  while (done < count) {
    ssize_t n = pread(fd, out + done, count - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

// How many of `count` bytes from block `index` on lie inside the file's
// length as seen at the open (asking for no more spares a read that only
// finds the end).
size_t Within(const OpenFile& f, int64_t index, size_t count) {
  const int64_t left = f.identity.length - index * int64_t(BlockSize);
  if (left <= 0) return 0;
  return size_t(left) < count ? size_t(left) : count;
}

// The slot holding block `index` of the descriptor's file, or nullptr.
Block* Cached(const OpenFile& f, int64_t index) {
  const uint64_t generation = HostGeneration();
  for (Block& b : blocks) {
    if (b.index == index && b.generation == generation && b.file == f.identity) return &b;
  }
  return nullptr;
}

// The least recently used slot other than `except`.
Block* Victim(const Block* except) {
  Block* victim = nullptr;
  for (Block& b : blocks) {
    if (&b != except && (!victim || b.lastUse < victim->lastUse)) victim = &b;
  }
  return victim;
}

// Reads blocks `index` and `index + 1` with one call into two slots;
// -1 on an error.
ssize_t ReadPair(int fd, const OpenFile& f, int64_t index, Block* first, Block* second) {
  const size_t wanted = Within(f, index, 2 * BlockSize);
  const size_t inFirst = wanted < BlockSize ? wanted : BlockSize;
  struct iovec parts[2] = {{first->data, inFirst}, {second->data, wanted - inFirst}};
  ssize_t n;
  do {
    n = preadv(fd, parts, 2, static_cast<off_t>(index * BlockSize));
  } while (n < 0 && errno == EINTR);
  if (n < 0) return -1;
  // A short read (a signal, or the file shrank): the rest one call at a time.
  if (size_t(n) < inFirst) {
    ssize_t more = ReadAt(fd, first->data + n, inFirst - size_t(n), index * BlockSize + n);
    if (more < 0) return -1;
    n += more;
    if (size_t(n) < inFirst) return n;
  }
  if (size_t(n) < wanted) {
    ssize_t more = ReadAt(fd, second->data + (size_t(n) - inFirst), wanted - size_t(n), index * BlockSize + n);
    if (more < 0) return -1;
    n += more;
  }
  return n;
}

void Claim(Block* b, const OpenFile& f, int64_t index, unsigned length) {
  b->file = f.identity;
  b->index = index;
  b->length = length;
  b->generation = HostGeneration();
  b->lastUse = ++blockUses;
}

// Block `index` of the descriptor's file, read when no slot holds it.
// `continues`: the read goes on into the next block, which then comes in
// the same call. The last block of a file longer than one block comes
// with the block before it (the tail reads of the scanners reach back
// 4 KiB) unless that one is held already.
const Block* BlockOf(int fd, OpenFile& f, int64_t index, bool continues) {
  Block* held = recentBlock && recentBlock->index == index && recentBlock->generation == HostGeneration() &&
                        recentBlock->file == f.identity
                    ? recentBlock
                    : Cached(f, index);
  if (held) {
    held->lastUse = ++blockUses;
    recentBlock = held;
    return held;
  }
  const int64_t last = (f.identity.length - 1) / BlockSize;
  int64_t first = index;
  if (continues && index < last && !Cached(f, index + 1)) {
    first = index;
  } else if (index == last && index > 0 && !Cached(f, index - 1)) {
    first = index - 1;
  } else {
    Block* victim = Victim(nullptr);
    ssize_t n = ReadAt(fd, victim->data, Within(f, index, BlockSize), index * BlockSize);
    if (n < 0) return nullptr;
    Claim(victim, f, index, static_cast<unsigned>(n));
    recentBlock = victim;
    return victim;
  }
  Block* a = Victim(nullptr);
  Block* b = Victim(a);
  ssize_t n = ReadPair(fd, f, first, a, b);
  if (n < 0) return nullptr;
  const unsigned inA = n < ssize_t(BlockSize) ? unsigned(n) : BlockSize;
  Claim(a, f, first, inA);
  Claim(b, f, first + 1, unsigned(n) - inA);
  recentBlock = first == index ? a : b;
  return recentBlock;
}

// A read of up to two blocks through the block cache; -1 on an error.
ssize_t CachedRead(int fd, OpenFile& f, char* out, unsigned count) {
  unsigned done = 0;
  while (done < count) {
    int64_t at = f.position + done;
    const int64_t index = at / BlockSize;
    const Block* b = BlockOf(fd, f, index, (f.position + count - 1) / BlockSize > index);
    if (!b) return -1;
    unsigned inBlock = static_cast<unsigned>(at % BlockSize);
    if (inBlock >= b->length) break;  // the end of the file
    unsigned n = b->length - inBlock;
    if (n > count - done) n = count - done;
    std::memcpy(out + done, b->data + inBlock, n);
    done += n;
    if (b->length < BlockSize) break;
  }
  return done;
}

// True when the file carries the read-only attribute.
bool ReadOnlyAttribute(const std::string& host) {
  DWORD a;
  return StoredAttributes(host, &a) && (a & FILE_ATTRIBUTE_READONLY);
}

}  // namespace

int _open(const char* path, int flags, ...) {
  if (FaultFor("_open", path)) return -1;
  int access = flags & 3;
  const bool writes = access != _O_RDONLY || (flags & (_O_TRUNC | _O_CREAT));
  // A read takes the entry kept for the walk's path as it is; a write
  // resolves its own copy (its checks may resolve other paths).
  HostEntry scratch;
  DWORD error;
  const HostEntry* kept = writes ? nullptr : ResolveKept(path, &scratch, &error);
  if (!writes && !kept) return FailWith(ErrnoFromError(error));
  if (writes && !Resolve(path, &scratch, &error, (flags & _O_CREAT) != 0)) return FailWith(ErrnoFromError(error));
  const HostEntry& e = kept ? *kept : scratch;
  const std::string& host = e.host;
  struct stat st = e.st;
  const bool exists = e.exists;
  if (writes && RefusedWininitWrite(e)) return FailWith(EACCES);
  if (e.isRoot || (exists && !::host::MayOpen(st, writes))) return FailWith(EACCES);
  // A read-only file or a running image is not writable.
  if (exists && writes && (ReadOnlyAttribute(host) || IsImageRunning(path))) return FailWith(EACCES);
  if (writes && WriteProtected(e)) return FailWith(EACCES);
  if (writes && !BeforeHostChange((flags & _O_TRUNC) ? HostChange::Truncate : HostChange::Write, host, path)) {
    return FailWith(EACCES);
  }
  int hostFlags = access == _O_WRONLY ? O_WRONLY : access == _O_RDWR ? O_RDWR : O_RDONLY;
  if (flags & _O_APPEND) hostFlags |= O_APPEND;
  if (flags & _O_CREAT) hostFlags |= O_CREAT;
  if (flags & _O_EXCL) hostFlags |= O_EXCL;
  if (flags & (_O_TRUNC | _O_CREAT)) HostFilesChanged();
  bool plainRead = exists && hostFlags == O_RDONLY;
  // A plain read takes the descriptor an earlier row of this entry closed,
  // or the one the read-ahead opened for it. Either way its status is
  // taken again below: the file may have been rewritten on the host since.
  int fd = plainRead ? TakeParked(host) : -1;
  if (fd < 0 && plainRead) fd = ::host::ReadAheadTake(e.dir->host, e.name, HostGeneration());
  if (fd < 0) fd = ::host::OpenEntry(e.dir->fd, e.name, hostFlags);
  if (fd < 0) {
    if (!writes && (errno == EACCES || errno == EPERM)) Note(FileNote::NotScanned, path, "unreadable");
    if (errno == ELOOP) errno = EACCES;  // a link put in its place since
    return -1;
  }
  // The file as it is now, from the descriptor itself; its length and the
  // identity its cached blocks go by.
  struct stat now;
  if (!::host::CheckOpened(fd, writes, &now)) return -1;
  if ((flags & _O_TRUNC) && ftruncate(fd, 0) != 0) {
    int saved = errno;
    close(fd);
    return FailWith(saved);
  }
  st = now;
  FileIdentity identity;
  if (plainRead) {
    identity.device = st.st_dev;
    identity.inode = st.st_ino;
    identity.length = st.st_size;
    identity.modified = st.st_mtim;
  } else {
    plainRead = false;
  }
  OpenFile& f = AddOpenFile(fd);
  f.windowsPath = path;
  f.host = host;
  f.readOnly = access == _O_RDONLY;
  f.append = (flags & _O_APPEND) != 0;
  if (plainRead) {
    f.length = st.st_size;  // the status just taken: no fstat for the length
    f.lengthGeneration = HostGeneration();
    f.cached = true;
    f.identity = identity;
  }
  return fd;
}

int _close(int fd) {
  CountCall("_close");
  OpenFile* f = Lookup(fd);
  if (!f) return -1;
  if (f->cached && f->lengthGeneration == HostGeneration()) {
    DropParked();
    parked.fd = fd;
    parked.host = f->host;
    parked.generation = HostGeneration();
    parked.epoch = EntryEpoch();
    RemoveOpenFile(fd);
    return 0;
  }
  RemoveOpenFile(fd);
  return close(fd);
}

int _read(int fd, void* buffer, unsigned count) {
  OpenFile* f = Lookup(fd);
  if (!f) {
    CountCall("_read");
    return -1;
  }
  if (FaultFor("_read", f->windowsPath.c_str())) return -1;
  if (count > INT_MAX) return FailWith(EINVAL);
  char* out = static_cast<char*>(buffer);
  ssize_t done = f->cached && count <= BlockSize ? CachedRead(fd, *f, out, count)
                                                 : ReadAt(fd, out, count, f->position);
  if (done < 0) return -1;
  f->position += done;
  bytesRead += done;
  return static_cast<int>(done);
}

int _write(int fd, const void* buffer, unsigned count) {
  OpenFile* f = Lookup(fd);
  if (!f) {
    CountCall("_write");
    return -1;
  }
  if (FaultFor("_write", f->windowsPath.c_str())) return -1;
  if (count > INT_MAX) return FailWith(EINVAL);
  HostFilesChanged();
  if (f->append) {
    struct stat st;
    if (fstat(fd, &st) != 0) return -1;
    f->position = st.st_size;
  }
  const char* in = static_cast<const char*>(buffer);
  unsigned done = 0;
  while (done < count) {
    ssize_t n = pwrite(fd, in + done, count - done, static_cast<off_t>(f->position + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    done += static_cast<unsigned>(n);
  }
  f->position += done;
  return static_cast<int>(done);
}

long _lseek(int fd, long offset, int origin) {
  OpenFile* f = Lookup(fd);
  if (!f) {
    CountCall("_lseek");
    return -1;
  }
  if (FaultFor("_lseek", f->windowsPath.c_str())) return -1;
  // Windows' long is 32 bits: an offset the caller built from an unsigned
  // 32-bit value arrives negative there, and so it does here.
  int64_t delta = static_cast<int32_t>(static_cast<uint32_t>(offset));
  int64_t base;
  if (origin == SEEK_SET) {
    base = 0;
  } else if (origin == SEEK_CUR) {
    base = f->position;
  } else if (origin == SEEK_END) {
    base = LengthOf(fd, *f);
  } else {
    return FailWith(EINVAL);
  }
  if (base < 0) return -1;
  int64_t target = base + delta;
  if (target < 0 || target > INT32_MAX) return FailWith(EINVAL);
  f->position = target;
  return static_cast<long>(target);
}

long _filelength(int fd) {
  OpenFile* f = Lookup(fd);
  if (!f) {
    CountCall("_filelength");
    return -1;
  }
  if (FaultFor("_filelength", f->windowsPath.c_str())) return -1;
  int64_t length = LengthOf(fd, *f);
  if (length < 0) return -1;
  if (length > INT32_MAX) return FailWith(EFBIG);  // beyond a 32-bit long
  return static_cast<long>(length);
}

int _chsize(int fd, long size) {
  OpenFile* f = Lookup(fd);
  if (!f) {
    CountCall("_chsize");
    return -1;
  }
  if (FaultFor("_chsize", f->windowsPath.c_str())) return -1;
  if (size < 0 || size > INT32_MAX) return FailWith(EINVAL);
  HostFilesChanged();
  return ftruncate(fd, size) == 0 ? 0 : -1;
}

int _access(const char* path, int mode) {
  if (FaultFor("_access", path)) return -1;
  HostEntry e;
  DWORD error;
  if (!Resolve(path, &e, &error)) return FailWith(ErrnoFromError(error));
  // A link gives access to nothing: it is never followed.
  if (e.IsLink()) return FailWith(EACCES);
  if (mode & 2) {
    DWORD a;
    if (StoredAttributes(e.host, &a) && (a & FILE_ATTRIBUTE_READONLY)) return FailWith(EACCES);
    if (WriteProtected(e)) return FailWith(EACCES);
  }
  return 0;
}

namespace emu {

bool ScreenedOut(const char* path) {
  // The checks of a plain read's _open: a file it would refuse is never
  // screened out, so its row still meets the refusal.
  HostEntry scratch;
  DWORD error;
  const HostEntry* e = ResolveKept(path, &scratch, &error);
  if (!e || !e->exists || e->isRoot || !::host::MayOpen(e->st, false)) return false;
  return ::host::ReadAheadScreenedOut(e->dir->host, e->name, HostGeneration());
}

int64_t BytesRead() { return bytesRead; }
size_t OpenDescriptors() { return openFiles.size(); }
}  // namespace emu
