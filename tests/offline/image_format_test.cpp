// Image formats from their first bytes, and partitions' boot sectors.
#include <gtest/gtest.h>

#include <string>

#include "tools/sorvane-offline/image_format.h"
#include "tools/sorvane-offline/partitions.h"

namespace {

std::string Sector(size_t at, const std::string& text, size_t size = 1024) {
  std::string bytes(size, '\0');
  bytes.replace(at, text.size(), text);
  return bytes;
}

TEST(ImageFormat, FromFirstBytes) {
  std::string vdi = Sector(0, "<<< Oracle VM VirtualBox Disk Image >>>\n");
  vdi.replace(0x40, 4, std::string("\x7f\x10\xda\xbe", 4));
  const struct {
    const char* name;
    std::string head;
    unsigned long long size;
    const char* format;
  } cases[] = {
      {"qcow2", Sector(0, "QFI\xfb"), 1 << 20, "qcow2"},
      {"sparse vmdk", Sector(0, "KDMV"), 1 << 20, "vmdk"},
      {"vmdk descriptor", Sector(0, "# Disk DescriptorFile\nversion=1\n"), 200, "vmdk"},
      {"large text naming a descriptor", Sector(0, "# Disk DescriptorFile\n"), 4 << 20, ""},
      {"vhdx", Sector(0, "vhdxfile"), 1 << 20, "vhdx"},
      {"vhd", Sector(0, "conectix"), 1 << 20, "vpc"},
      {"vdi", vdi, 1 << 20, "vdi"},
      {"MBR", Sector(510, "\x55\xaa"), 1 << 20, "raw"},
      {"GPT", Sector(512, "EFI PART"), 1 << 20, "raw"},
      {"bare NTFS volume", Sector(3, "NTFS    "), 1 << 20, "raw"},
      {"zeros", Sector(0, ""), 1 << 20, ""},
      {"text", Sector(0, "hello, world"), 12, ""},
      {"vdi text without its signature", Sector(0, "<<< Oracle VM VirtualBox Disk Image >>>\n"), 1 << 20, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatOfBytes(c.head, c.size), c.format) << c.name;
}

TEST(ImageFormat, BootSectors) {
  std::string ntfs = Sector(3, "NTFS    ", 512);
  ntfs.replace(0x48, 8, std::string("\x88\x77\x66\x55\x44\x33\x22\x11", 8));
  const struct {
    const char* name;
    std::string sector;
    const char* kind;
    const char* serial;
  } cases[] = {
      {"NTFS", ntfs, "ntfs", "1122334455667788"},
      {"BitLocker", Sector(3, "-FVE-FS-", 512), "bitlocker", ""},
      {"other", Sector(3, "MSDOS5.0", 512), "", ""},
      {"cut short", std::string("\xeb\x52\x90NTFS    ", 11), "", ""},
  };
  for (const auto& c : cases) {
    Partition p;
    ClassifyBootSector(c.sector, &p);
    EXPECT_EQ(p.kind, c.kind) << c.name;
    EXPECT_EQ(p.serial, c.serial) << c.name;
  }
}

}  // namespace
