// Dirty hives with their transaction logs, written from the published
// layout of both log formats so that replay can be tested on files made
// again at will. Three states of one profile hive are built through the
// hive layer: the primary file holds the first, the logs take it to the
// last. New format: LOG1 holds an entry already applied (whose pages would
// undo everything) and the entry to the middle state, LOG2 the entry to
// the last state. Old format: one LOG with a dirty vector and the pages
// that differ. The corrupt variant damages the last entry (a changed page
// byte, so its hash fails) or, in the old format, the header of a dirty
// bin.
#include <cstring>

#include "tools/forge/forge.h"
#include "tools/forge/forge_hive_builder.h"
#include "tools/sorvane-offline/regf/base_block.h"
#include "tools/sorvane-offline/regf/marvin32.h"

namespace forge {
namespace {

constexpr uint64_t Stamp = 0x01D0000000000000ull;  // the forge's fixed FILETIME
constexpr uint32_t Sequence = 40;                  // the primary's last clean sequence number


const std::u16string Run = u"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// The 4 KiB pages of `to`'s bins that differ from `from`'s.
std::vector<uint32_t> ChangedPages(const Bytes& from, const Bytes& to) {
  std::vector<uint32_t> pages;
  for (size_t at = regf::BaseBlockSize; at < to.size(); at += regf::PageSize) {
    if (at + regf::PageSize > from.size() || std::memcmp(&from[at], &to[at], regf::PageSize) != 0) {
      pages.push_back(uint32_t(at - regf::BaseBlockSize));
    }
  }
  return pages;
}

Bytes LogEntry(const Bytes& from, const Bytes& to, uint32_t seq) {
  std::vector<uint32_t> pages = ChangedPages(from, to);
  size_t size = (40 + 8 * pages.size() + regf::PageSize * pages.size() + 511) / 512 * 512;
  Bytes e(size, 0);
  std::memcpy(e.data(), "HvLE", 4);
  regf::Put32(&e[4], uint32_t(size));
  regf::Put32(&e[12], seq);
  regf::Put32(&e[16], regf::Get32(&to[regf::BinsSize]));
  regf::Put32(&e[20], uint32_t(pages.size()));
  size_t data = 40 + 8 * pages.size();
  for (size_t i = 0; i < pages.size(); ++i) {
    regf::Put32(&e[40 + 8 * i], pages[i]);
    regf::Put32(&e[44 + 8 * i], uint32_t(regf::PageSize));
    std::memcpy(&e[data + regf::PageSize * i], &to[regf::BaseBlockSize + pages[i]], regf::PageSize);
  }
  regf::Put64(&e[24], regf::Marvin32(&e[40], size - 40, regf::LogEntrySeed));
  regf::Put64(&e[32], regf::Marvin32(e.data(), 32, regf::LogEntrySeed));
  return e;
}

// The first sector of a log: the hive's base block as a log of `type`.
Bytes LogHead(const Bytes& hive, uint32_t type, uint32_t seq) {
  Bytes head(hive.begin(), hive.begin() + 512);
  regf::Put32(&head[regf::FileType], type);
  regf::Put32(&head[regf::SeqPrimary], seq);
  regf::Put32(&head[regf::SeqSecondary], seq);
  regf::Put32(&head[regf::ChecksumField], regf::BaseChecksum(head.data()));
  return head;
}

Bytes Append(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace

DirtyHive MakeDirtyHive(HiveLogFormat format, bool corrupt) {
  HiveBuilder b(EmptyHive("ROOT"));
  b.Set(Run, u"keep.exe", 1, Utf16z(u"C:\\keep.exe"));
  b.Set(Run, u"stale.exe", 1, Utf16z(u"C:\\stale.exe"));
  b.Set(u"Software\\Old", u"gone", 4, std::string("\1\0\0\0", 4));
  b.Key(u"Software\\Old\\Below");
  const Bytes first = b.Sealed(Sequence, Stamp);
  // The middle state: a value and a key removed, a key added.
  b.RemoveValue(Run, u"stale.exe");
  b.RemoveKey(u"Software\\Old");
  b.Set(u"Software\\New", u"added", 1, Utf16z(u"in the log"));
  const Bytes middle = b.Sealed(Sequence + 1, Stamp);
  // The last state: a worm's Run entry and data large enough for segments.
  b.Set(Run, u"d3dupdate.exe", 1, Utf16z(u"C:\\WINDOWS\\system32\\bbeagle.exe"));
  b.Set(u"Software\\New", u"large", 3, std::string(20000, 'L'));
  const Bytes last = b.Sealed(Sequence + 2, Stamp);

  DirtyHive out;
  out.expected = last;
  out.primary = first;
  regf::Put32(&out.primary[regf::SeqPrimary], Sequence + 1);  // a write begun, never ended
  regf::Put32(&out.primary[regf::ChecksumField], regf::BaseChecksum(out.primary.data()));
  if (format == HiveLogFormat::New) {
    Bytes stale = LogEntry(last, EmptyHive("ROOT"), Sequence);  // applied long ago
    Bytes second = LogEntry(middle, last, Sequence + 2);
    if (corrupt) second[second.size() - 100] ^= 1;
    out.logs.push_back({".LOG1", Append(Append(LogHead(first, regf::NewLogFile, Sequence), stale),
                                        LogEntry(first, middle, Sequence + 1))});
    out.logs.push_back({".LOG2", Append(LogHead(middle, regf::NewLogFile, Sequence + 1), second)});
    return out;
  }
  // Old format: one log from the first state to the last, its pages marked
  // in 4 KiB blocks (eight bits each) as Windows marks them.
  Bytes log = LogHead(last, regf::OldLogFile, Sequence + 1);
  regf::Put64(&log[regf::LastWritten], regf::Get64(&first[regf::LastWritten]));
  regf::Put32(&log[regf::ChecksumField], regf::BaseChecksum(log.data()));
  uint32_t binsSize = regf::Get32(&last[regf::BinsSize]);
  Bytes vector(4 + binsSize / 512 / 8, 0);
  std::memcpy(vector.data(), "DIRT", 4);
  std::vector<uint32_t> pages = ChangedPages(first, last);
  for (uint32_t page : pages) vector[4 + page / 4096] = 0xFF;
  vector.resize((vector.size() + 511) / 512 * 512, 0);
  log = Append(log, vector);
  for (uint32_t page : pages) {
    log.insert(log.end(), last.begin() + regf::BaseBlockSize + page,
               last.begin() + regf::BaseBlockSize + page + regf::PageSize);
  }
  if (corrupt) {
    // The last dirty page block that starts a bin loses its signature.
    size_t at = log.size() - regf::PageSize;
    for (size_t i = pages.size(); i-- > 0;) {
      const uint8_t* p = &last[regf::BaseBlockSize + pages[i]];
      if (std::memcmp(p, "hbin", 4) == 0) {
        at = log.size() - regf::PageSize * (pages.size() - i);
        break;
      }
    }
    log[at + 3] = 'x';
  }
  out.logs.push_back({".LOG", log});
  return out;
}

}  // namespace forge
