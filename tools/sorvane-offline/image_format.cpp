// Format magic and the files an image names, read from its headers.
#include "tools/sorvane-offline/image_format.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace {

uint32_t Be32(const std::string& b, size_t at) {
  if (at + 4 > b.size()) return 0;
  return (uint32_t(uint8_t(b[at])) << 24) | (uint32_t(uint8_t(b[at + 1])) << 16) |
         (uint32_t(uint8_t(b[at + 2])) << 8) | uint32_t(uint8_t(b[at + 3]));
}
uint64_t Be64(const std::string& b, size_t at) { return (uint64_t(Be32(b, at)) << 32) | Be32(b, at + 4); }
uint32_t Le32(const std::string& b, size_t at) {
  if (at + 4 > b.size()) return 0;
  return uint32_t(uint8_t(b[at])) | (uint32_t(uint8_t(b[at + 1])) << 8) | (uint32_t(uint8_t(b[at + 2])) << 16) |
         (uint32_t(uint8_t(b[at + 3])) << 24);
}
uint64_t Le64(const std::string& b, size_t at) { return uint64_t(Le32(b, at)) | (uint64_t(Le32(b, at + 4)) << 32); }
uint16_t Le16(const std::string& b, size_t at) {
  return at + 2 > b.size() ? 0 : uint16_t(uint8_t(b[at]) | (uint8_t(b[at + 1]) << 8));
}

bool At(const std::string& b, size_t at, const char* text, size_t n) {
  return at + n <= b.size() && std::memcmp(b.data() + at, text, n) == 0;
}

// Up to `length` bytes of `path` from `offset` (fewer at its end).
bool ReadAt(const std::string& path, uint64_t offset, size_t length, std::string* bytes) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  bytes->assign(length, '\0');
  ssize_t n = pread(fd, &(*bytes)[0], length, static_cast<off_t>(offset));
  close(fd);
  if (n < 0) return false;
  bytes->resize(static_cast<size_t>(n));
  return true;
}

// A GUID as the VHDX file stores it (the first three groups little-endian).
std::string GuidBytes(const char* text) {
  std::string hex;
  for (const char* p = text; *p; ++p)
    if (*p != '-') hex += *p;
  std::string b(16, '\0');
  for (int i = 0; i < 16; ++i) b[i] = static_cast<char>(std::strtoul(hex.substr(2 * i, 2).c_str(), nullptr, 16));
  std::swap(b[0], b[3]);
  std::swap(b[1], b[2]);
  std::swap(b[4], b[5]);
  std::swap(b[6], b[7]);
  return b;
}

void Qcow2References(const std::string& path, ImageReferences* refs) {
  std::string h;
  if (!ReadAt(path, 0, 65536, &h) || h.size() < 72) {
    refs->unsupported = "its qcow2 header is cut short";
    return;
  }
  uint32_t version = Be32(h, 4);
  if (version < 2 || version > 3) {
    refs->unsupported = "qcow version " + std::to_string(version) + " is not read";
    return;
  }
  uint64_t backingAt = Be64(h, 8);
  uint32_t backingSize = Be32(h, 16);
  if (backingAt && backingSize) {
    std::string name;
    if (backingSize > 1023 || !ReadAt(path, backingAt, backingSize, &name) || name.size() != backingSize) {
      refs->unsupported = "its backing file name cannot be read";
      return;
    }
    refs->backing = name;
  }
  uint32_t headerLength = version == 3 ? Be32(h, 100) : 72;
  uint64_t incompatible = version == 3 ? Be64(h, 72) : 0;
  bool dataFileNamed = false;
  for (size_t at = headerLength; at + 8 <= h.size();) {
    uint32_t type = Be32(h, at), length = Be32(h, at + 4);
    if (type == 0 || at + 8 + length > h.size()) break;
    std::string data = h.substr(at + 8, length);
    if (type == 0xE2792ACAu) refs->backingFormat = data;
    if (type == 0x44415441u) {  // external data file
      refs->files.push_back(data);
      dataFileNamed = true;
    }
    at += 8 + ((length + 7) & ~7u);
  }
  if ((incompatible & 4) && !dataFileNamed) refs->unsupported = "its data is in an external file it does not name";
}

// The descriptor of a VMDK: extents by name, a parent by its hint; device
// extents are named with their path so that they are refused.
void VmdkDescriptor(const std::string& text, bool embedded, ImageReferences* refs) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    line = line.substr(first);
    if (line.rfind("parentFileNameHint", 0) == 0) {
      size_t q1 = line.find('"'), q2 = line.rfind('"');
      if (q1 != std::string::npos && q2 > q1) refs->backing = line.substr(q1 + 1, q2 - q1 - 1);
      if (refs->backing.empty()) refs->backing = "(an unnamed parent)";
    } else if (line.rfind("createType", 0) == 0) {
      if (line.find("Device") != std::string::npos || line.find("vmfsRaw") != std::string::npos ||
          line.find("Passthrough") != std::string::npos) {
        refs->unsupported = "its extents are a raw device";
      }
    } else if (!embedded && (line.rfind("RW ", 0) == 0 || line.rfind("RDONLY ", 0) == 0 ||
                             line.rfind("NOACCESS ", 0) == 0)) {
      size_t q1 = line.find('"'), q2 = line.rfind('"');
      if (q1 != std::string::npos && q2 > q1) refs->files.push_back(line.substr(q1 + 1, q2 - q1 - 1));
    }
  }
}

void VmdkReferences(const std::string& path, const std::string& head, ImageReferences* refs) {
  if (At(head, 0, "KDMV", 4)) {
    uint64_t at = Le64(head, 28), sectors = Le64(head, 36);
    if (at == 0 || sectors == 0) return;
    std::string text;
    if (sectors > 2048 || !ReadAt(path, at * 512, static_cast<size_t>(sectors * 512), &text)) {
      refs->unsupported = "its embedded descriptor cannot be read";
      return;
    }
    VmdkDescriptor(text.substr(0, text.find('\0')), true, refs);
    return;
  }
  std::string text;
  if (!ReadAt(path, 0, 1 << 20, &text) || text.size() >= (1 << 20) - 1) {
    refs->unsupported = "its descriptor is too large to be one";
    return;
  }
  VmdkDescriptor(text, false, refs);
}

void VhdxReferences(const std::string& path, ImageReferences* refs) {
  std::string regions;
  if (!ReadAt(path, 192 * 1024, 65536, &regions) || !At(regions, 0, "regi", 4)) {
    refs->unsupported = "its region table cannot be read";
    return;
  }
  static const std::string metadataRegion = GuidBytes("8B7CA206-4790-4B9A-B8FE-575F050F886E");
  static const std::string fileParameters = GuidBytes("CAA16737-FA36-4D43-B3B6-33F0AA44E76B");
  static const std::string parentLocator = GuidBytes("A8D35F2D-B30B-454D-ABF7-D3D84834AB0C");
  uint32_t count = Le32(regions, 8);
  for (uint32_t i = 0; i < count && i < 2047; ++i) {
    size_t e = 16 + 32 * i;
    if (regions.compare(e, 16, metadataRegion) != 0) continue;
    uint64_t start = Le64(regions, e + 16);
    std::string table;
    if (!ReadAt(path, start, 65536, &table) || !At(table, 0, "metadata", 8)) break;
    for (uint16_t j = 0; j < Le16(table, 10) && j < 2047; ++j) {
      size_t m = 32 + 32 * j;
      if (table.compare(m, 16, parentLocator) == 0) refs->backing = "(a parent disk)";
      if (table.compare(m, 16, fileParameters) == 0) {
        std::string params;
        if (ReadAt(path, start + Le32(table, m + 16), 8, &params) && (Le32(params, 4) & 2))
          refs->backing = "(a parent disk)";
      }
    }
    if (!refs->backing.empty()) refs->unsupported = "it is a differencing VHDX, whose parent is not opened";
    return;
  }
  refs->unsupported = "its metadata cannot be read";
}

// A name an image gives another file: only a plain name in the image's
// own folder, a regular file there (no link).
bool Beside(const std::string& imageDir, const std::string& name, std::string* path, std::string* why) {
  if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
    *why = "is not a file beside the image";
    return false;
  }
  *path = imageDir + "/" + name;
  struct stat st;
  if (lstat(path->c_str(), &st) != 0) {
    *why = std::string("cannot be found beside the image (") + std::strerror(errno) + ")";
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    *why = "is not a regular file";
    return false;
  }
  return true;
}

}  // namespace

bool KnownFormat(const std::string& format) {
  for (const char* f : {"raw", "qcow2", "vmdk", "vhdx", "vdi", "vpc"})
    if (format == f) return true;
  return false;
}

std::string FormatOfBytes(const std::string& head, unsigned long long size) {
  if (At(head, 0, "QFI\xfb", 4)) return "qcow2";
  if (At(head, 0, "KDMV", 4)) return "vmdk";
  if (At(head, 0, "vhdxfile", 8)) return "vhdx";
  if (At(head, 0, "conectix", 8)) return "vpc";
  if (Le32(head, 0x40) == 0xBEDA107Fu && At(head, 0, "<<< ", 4)) return "vdi";
  // A VMDK descriptor is text that says so in its first lines.
  if (size < (1 << 20) && head.find("# Disk DescriptorFile") != std::string::npos &&
      head.find("# Disk DescriptorFile") < 256) {
    return "vmdk";
  }
  bool mbr = At(head, 510, "\x55\xaa", 2);
  if (mbr || At(head, 512, "EFI PART", 8) || At(head, 3, "NTFS    ", 8)) return "raw";
  return "";
}

bool ReadReferences(const std::string& path, const std::string& format, ImageReferences* refs,
                    std::string* error) {
  *refs = ImageReferences();
  std::string head;
  if (!ReadAt(path, 0, 4096, &head)) {
    *error = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  if (format == "qcow2") {
    Qcow2References(path, refs);
  } else if (format == "vmdk") {
    if (At(head, 0, "COWD", 4)) refs->unsupported = "the old VMDK 3 format is not read";
    else VmdkReferences(path, head, refs);
  } else if (format == "vhdx") {
    VhdxReferences(path, refs);
  } else if (format == "vdi") {
    if (Le32(head, 0x4c) == 4 || Le32(head, 0x4c) == 3) refs->unsupported = "it is a differencing VDI";
  } else if (format == "vpc") {
    if (Be32(head, 60) == 4) refs->unsupported = "it is a differencing VHD, whose parent is not opened";
  }
  return true;
}

bool ResolveImage(const std::string& path, const std::string& forced, bool allowBacking, ImageChain* chain,
                  std::string* error) {
  *chain = ImageChain();
  char* real = realpath(path.c_str(), nullptr);
  if (!real) {
    *error = "cannot open the image " + path + ": " + std::strerror(errno);
    return false;
  }
  std::string current = real;
  std::free(real);
  std::string dir = current.substr(0, current.rfind('/'));
  if (dir.empty()) dir = "/";
  std::string format = forced;
  for (int depth = 0;; ++depth) {
    struct stat st;
    if (stat(current.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      *error = current + " is not a regular file";
      return false;
    }
    std::string head;
    if (!ReadAt(current, 0, 4096, &head)) {
      *error = "cannot read " + current + ": " + std::strerror(errno);
      return false;
    }
    std::string magic = FormatOfBytes(head, static_cast<unsigned long long>(st.st_size));
    if (format.empty()) format = magic;
    if (format.empty()) {
      *error = current + " is no disk image: no format's magic, and its first sectors hold no partition "
               "table and no NTFS boot sector (--format raw reads it as a raw disk anyway)";
      return false;
    }
    if (depth > 0 && magic != format && !(format == "raw" && magic.empty())) {
      *error = "the backing file " + current + " is recorded as " + format + " but reads as " +
               (magic.empty() ? "no known format" : magic);
      return false;
    }
    ImageReferences refs;
    if (!ReadReferences(current, format, &refs, error)) return false;
    if (!refs.unsupported.empty()) {
      *error = "cannot open " + current + " as " + format + ": " + refs.unsupported;
      return false;
    }
    chain->layers.push_back(ImageLayer{current, format});
    for (const auto& name : refs.files) {
      // The extents of a VMDK split into several files are one disk: those
      // beside it are read without --allow-backing.
      std::string file, why;
      if (!allowBacking && format != "vmdk") {
        *error = current + " names another file, \"" + name + "\", which is not opened without --allow-backing";
        return false;
      }
      if (!Beside(dir, name, &file, &why)) {
        *error = current + " names the file \"" + name + "\", which " + why + ": refused";
        return false;
      }
      chain->otherFiles.push_back(file);
    }
    if (refs.backing.empty()) return true;
    if (!allowBacking) {
      *error = current + " has the backing file \"" + refs.backing + "\"" +
               (refs.backingFormat.empty() ? " with no recorded format" : "") +
               ", which is not opened without --allow-backing";
      return false;
    }
    std::string next, why;
    if (!Beside(dir, refs.backing, &next, &why)) {
      *error = "the backing file \"" + refs.backing + "\" of " + current + " " + why + ": refused";
      return false;
    }
    if (depth >= 15) {
      *error = "the backing chain of " + path + " is longer than 16 files (a loop?)";
      return false;
    }
    for (const auto& l : chain->layers) {
      if (l.path == next) {
        *error = "the backing chain of " + path + " comes back to " + next;
        return false;
      }
    }
    current = next;
    format = refs.backingFormat;
    if (!format.empty() && !KnownFormat(format)) {
      *error = "the backing file " + next + " is recorded as " + format + ", which is not read";
      return false;
    }
  }
}
