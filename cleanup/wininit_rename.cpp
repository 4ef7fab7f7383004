// Adds an entry to the "[rename]" section of "wininit.ini". An existing file
// is copied to the temporary directory and rewritten from that copy line by
// line, with the entry placed at the end of the section; lines copied from
// the old file keep a line feed alone, as text-mode reading leaves them.
#include "cleanup/wininit_rename.h"

#include "platform/system.h"

namespace {

const char IniName[] = "wininit.ini";
// The copy's name where the temporary folder is the Windows folder itself.
const char CopyNameInWindowsFolder[] = "wininit.old";
const char SectionHeader[] = "[rename]";
const int LineBufferSize = 648;

bool WriteAll(int fd, const char* text, size_t length) {
  return _write(fd, text, static_cast<unsigned>(length)) == static_cast<int>(length);
}

bool WriteText(int fd, const char* text) { return WriteAll(fd, text, strlen(text)); }

bool WriteEntry(int fd, const char* destination, const char* source) {
  return WriteText(fd, destination) && WriteText(fd, "=") && WriteText(fd, source) &&
         WriteText(fd, "\r\n");
}

// Reads a descriptor in pieces of at most size - 1 bytes that end at a line
// feed, turning each carriage return and line feed into a line feed, as
// fgets does on a file opened in text mode. Bytes are returned as they
// are, a zero byte included.
class LineReader {
 public:
  explicit LineReader(int fd) : fd_(fd) {}

  // Length of the piece read into `line` (terminated), 0 at the end or
  // after a read error.
  size_t Read(char* line, size_t size) {
    size_t n = 0;
    while (n + 1 < size) {
      int c = Next();
      if (c < 0) break;
      if (c == '\r' && Peek() == '\n') c = Next();
      line[n++] = static_cast<char>(c);
      if (c == '\n') break;
    }
    line[n] = 0;
    return n;
  }

  // True once a read of the descriptor failed.
  bool Failed() const { return failed_; }

 private:
  int Peek() {
    if (pos_ == len_ && !Fill()) return -1;
    return static_cast<unsigned char>(buffer_[pos_]);
  }
  int Next() {
    int c = Peek();
    if (c >= 0) ++pos_;
    return c;
  }
  bool Fill() {
    if (failed_) return false;
    int n = _read(fd_, buffer_, sizeof buffer_);
    failed_ = n < 0;
    pos_ = 0;
    len_ = n > 0 ? n : 0;
    return len_ > 0;
  }

  int fd_;
  char buffer_[4096];
  int pos_ = 0;
  int len_ = 0;
  bool failed_ = false;
};

// A folder path in the form compared by SameFolder: its short form where
// the system gives one, without trailing backslashes ("C:\\" keeps its own).
void NormaliseFolder(char* path, size_t size) {
  char shortForm[260];
  DWORD n = GetShortPathNameA(path, shortForm, sizeof shortForm);
  if (n > 0 && n < sizeof shortForm && n < size) memcpy(path, shortForm, n + 1);
  size_t k = strlen(path);
  while (k > 3 && path[k - 1] == '\\') path[--k] = 0;
}

// True when the folder `dir` and the first `length` characters of
// `windowsPath` name the same folder, ignoring case.
bool SameFolder(const char* dir, const char* windowsPath, size_t length) {
  char a[260], b[260];
  if (strlen(dir) >= sizeof a || length >= sizeof b) return false;
  strcpy(a, dir);
  memcpy(b, windowsPath, length);
  b[length] = 0;
  NormaliseFolder(a, sizeof a);
  NormaliseFolder(b, sizeof b);
  return _stricmp(a, b) == 0;
}

bool CreateWithEntry(const char* path, const char* destination, const char* source) {
  int fd = _open(path, _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd < 0) return false;
  bool ok = WriteText(fd, "[rename]\r\n") && WriteEntry(fd, destination, source);
  _close(fd);
  return ok;
}

// Writes the old lines with the entry placed before the section that
// follows "[rename]", or at the end.
bool Rewrite(int in, int out, const char* destination, const char* source) {
  LineReader reader(in);
  char line[LineBufferSize];
  bool sectionFound = false;
  bool entryWritten = false;
  bool atLineStart = true;
  bool endsWithLineFeed = true;
  size_t length;
  while ((length = reader.Read(line, sizeof line)) > 0) {
    // Only a piece that starts a line can be a section header: the rest
    // of a long line never is.
    if (!entryWritten && atLineStart) {
      if (sectionFound && line[0] == '[') {
        if (!WriteEntry(out, destination, source)) return false;
        entryWritten = true;
      } else if (!sectionFound && length >= 8 && _strnicmp(line, SectionHeader, 8) == 0) {
        sectionFound = true;
      }
    }
    if (!WriteAll(out, line, length)) return false;
    endsWithLineFeed = line[length - 1] == '\n';
    atLineStart = endsWithLineFeed;
  }
  // A read error is no end of the file: the rest of the old lines would be
  // lost.
  if (reader.Failed()) return false;
  if (entryWritten) return true;
  // A last line without its line end is ended first, so the entry stays a
  // line of its own.
  if (!endsWithLineFeed && !WriteText(out, "\r\n")) return false;
  if (!sectionFound && !WriteText(out, "[rename]\r\n")) return false;
  return WriteEntry(out, destination, source);
}

}  // namespace

bool AddWininitRename(const char* destination, const char* source) {
  char iniPath[350];
  UINT n = GetWindowsDirectoryA(iniPath, sizeof iniPath);
  if (n == 0 || n >= sizeof iniPath) return false;
  const char* separator = iniPath[n - 1] == '\\' ? "" : "\\";
  if (strlen(separator) + strlen(IniName) >= sizeof iniPath - n) return false;
  strcat(iniPath, separator);
  strcat(iniPath, IniName);

  if (_access(iniPath, 0) != 0) return CreateWithEntry(iniPath, destination, source);

  char copyPath[260];
  DWORD t = GetTempPathA(sizeof copyPath, copyPath);
  if (t == 0 || t >= sizeof copyPath) return false;
  // Where the temporary folder is the Windows folder, a copy named
  // wininit.ini would be the file itself: the rewrite would read what it
  // has just emptied.
  copyPath[t] = 0;
  const char* copyName = SameFolder(copyPath, iniPath, n) ? CopyNameInWindowsFolder : IniName;
  if (strlen(copyName) >= sizeof copyPath - t) return false;
  strcat(copyPath, copyName);
  // Without a fresh copy the rewrite could start from an older one.
  if (!CopyFileA(iniPath, copyPath, FALSE)) return false;
  int in = _open(copyPath, _O_RDONLY | _O_BINARY);
  if (in < 0) return false;
  int out = _open(iniPath, _O_WRONLY | _O_TRUNC | _O_BINARY);
  if (out < 0) {
    _close(in);
    return false;
  }
  bool ok = Rewrite(in, out, destination, source);
  _close(in);
  if (_close(out) != 0) ok = false;
  if (!ok) CopyFileA(copyPath, iniPath, FALSE);  // no entry of the old file is lost
  return ok;
}
