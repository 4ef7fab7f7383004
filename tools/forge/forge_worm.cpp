// Worm-infected copies of a host executable, and a small synthetic host.
#include <algorithm>
#include <cstring>

#include "scanners/worm_variants.h"
#include "tools/forge/forge_bytes.h"
#include "tools/forge/forge_worm_script.h"

namespace forge {
namespace {

constexpr uint32_t kMaxSections = 20;         // what the probes accept
constexpr uint32_t kDefaultQImmediate = 0x00000C40;
constexpr uint32_t kMinBody = 512;            // the probes read 500 body bytes
constexpr uint32_t kMaxBody = 0x4000;

struct Host {
  uint32_t pe = 0, count = 0, imageBase = 0, sectionAlign = 0, fileAlign = 0;
  uint32_t sizeOfImage = 0, entry = 0, sizeOfHeaders = 0;
};

uint32_t AlignUp(uint32_t v, uint32_t a) { return a ? (v + a - 1) / a * a : v; }

size_t SectionAt(const Host& h, uint32_t i) { return h.pe + 248 + 40 * size_t(i); }

bool ParseHost(const Bytes& b, Host* h, std::string* why) {
  auto fail = [why](const char* text) {
    *why = text;
    return false;
  };
  if (!Inside(b, 0x3C, 4)) return fail("too short for a PE file");
  const uint32_t pe = Get32(b, 0x3C);
  if (pe > 0xFFFF || !Inside(b, pe, 248) || Get32(b, pe) != 0x00004550)
    return fail("no PE header within the first 64 KiB");
  if (Get16(b, pe + 20) != 224 || Get16(b, pe + 24) != 0x10B)
    return fail("not a PE32 with the standard 224-byte optional header");
  if (Get32(b, pe + 12) != 0) return fail("has a COFF symbol table (strip it)");
  h->pe = pe;
  h->count = Get16(b, pe + 6);
  h->entry = Get32(b, pe + 24 + 16);
  h->imageBase = Get32(b, pe + 24 + 28);
  h->sectionAlign = Get32(b, pe + 24 + 32);
  h->fileAlign = Get32(b, pe + 24 + 36);
  h->sizeOfImage = Get32(b, pe + 24 + 56);
  h->sizeOfHeaders = Get32(b, pe + 24 + 60);
  if (h->count == 0 || h->count >= kMaxSections) return fail("needs 1 to 19 sections");
  uint64_t rawEnd = h->sizeOfHeaders, firstRaw = UINT32_MAX;
  for (uint32_t i = 0; i < h->count; ++i) {
    const size_t s = SectionAt(*h, i);
    if (!Inside(b, s, 40)) return fail("section table beyond the file");
    const uint32_t rawSize = Get32(b, s + 16), rawPtr = Get32(b, s + 20);
    if (rawSize) {
      rawEnd = std::max<uint64_t>(rawEnd, uint64_t(rawPtr) + rawSize);
      firstRaw = std::min<uint64_t>(firstRaw, rawPtr);
    }
  }
  if (rawEnd != b.size()) return fail("has an overlay (or is cut short)");
  const size_t slot = SectionAt(*h, h->count);
  if (!Inside(b, slot, 40) || slot + 40 > h->sizeOfHeaders || slot + 40 > firstRaw)
    return fail("no free section-table slot");
  for (size_t i = 0; i < 40; ++i)
    if (b[slot + i]) return fail("the free section-table slot is not zero");
  return true;
}

uint8_t Rol(uint8_t b, unsigned n) {
  n &= 7;
  return n ? uint8_t((b << n) | (b >> (8 - n))) : b;
}
uint8_t Ror(uint8_t b, unsigned n) { return Rol(b, (8 - (n & 7)) & 7); }

// Inverse of the decryptor for one byte whose counter is `c`.
uint8_t Encrypt(const std::vector<WormOp>& key, uint8_t plain, uint8_t c) {
  uint8_t b = plain;
  for (auto it = key.rbegin(); it != key.rend(); ++it) {
    switch (it->kind) {
      case WormOp::Xor: b ^= it->value; break;
      case WormOp::Rol: b = Ror(b, it->value); break;
      case WormOp::Ror: b = Rol(b, it->value); break;
      case WormOp::RolByCounter: b = Ror(b, c & 7); break;
      case WormOp::Nop:
      case WormOp::Raw: break;
    }
  }
  return b;
}

void AppendKey(Bytes& code, const std::vector<WormOp>& key) {
  for (const WormOp& op : key) {
    switch (op.kind) {
      case WormOp::Xor: code.insert(code.end(), {0x34, op.value}); break;
      case WormOp::Rol: code.insert(code.end(), {0xC0, 0xC0, op.value}); break;
      case WormOp::Ror: code.insert(code.end(), {0xC0, 0xC8, op.value}); break;
      case WormOp::RolByCounter: code.insert(code.end(), {0xD2, 0xC0}); break;
      case WormOp::Nop: code.insert(code.end(), op.value, 0x90); break;
      case WormOp::Raw: code.insert(code.end(), op.raw.begin(), op.raw.end()); break;
    }
  }
}

const WormVariant* VariantByLetter(const std::string& letter) {
  for (const WormVariant& v : WormVariants) {
    const std::string name = v.Name;  // "W32/Bagle.N.Worm"
    if (name.size() > 11 && name.compare(10, letter.size() + 1, letter + ".") == 0) return &v;
  }
  return nullptr;
}

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool HexBytes(const std::string& text, Bytes* out) {
  if (text.empty() || text.size() % 2) return false;
  for (size_t i = 0; i < text.size(); i += 2) {
    const int hi = Hex(text[i]), lo = Hex(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(uint8_t(hi * 16 + lo));
  }
  return true;
}

}  // namespace

std::vector<WormOp> DefaultWormKey() {
  return {{WormOp::Xor, 0x5C, {}},
          {WormOp::Rol, 3, {}},
          {WormOp::RolByCounter, 0, {}},
          {WormOp::Ror, 1, {}},
          {WormOp::Xor, 0xA7, {}}};
}

bool ParseWormKey(const std::string& text, std::vector<WormOp>* ops, std::string* why) {
  ops->clear();
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(',', start);
    if (end == std::string::npos) end = text.size();
    const std::string item = text.substr(start, end - start);
    const size_t eq = item.find('=');
    const std::string kind = item.substr(0, eq);
    const std::string arg = eq == std::string::npos ? "" : item.substr(eq + 1);
    WormOp op{WormOp::Nop, 0, {}};
    Bytes bytes;
    if (kind == "rolcl" && arg.empty()) {
      op.kind = WormOp::RolByCounter;
    } else if (kind == "raw" && HexBytes(arg, &bytes)) {
      op.kind = WormOp::Raw;
      op.raw = bytes;
    } else if ((kind == "xor" || kind == "rol" || kind == "ror" || kind == "nop") && !arg.empty()) {
      char* stop = nullptr;
      const unsigned long v = std::strtoul(arg.c_str(), &stop, kind == "xor" ? 16 : 10);
      if (*stop || v > 255) {
        *why = "bad value in key item \"" + item + "\"";
        return false;
      }
      op.kind = kind == "xor" ? WormOp::Xor : kind == "rol" ? WormOp::Rol
                : kind == "ror" ? WormOp::Ror : WormOp::Nop;
      op.value = uint8_t(v);
    } else {
      *why = "unknown key item \"" + item + "\" (xor=HEX, rol=N, ror=N, rolcl, nop=N, raw=HEX)";
      return false;
    }
    ops->push_back(op);
    start = end + 1;
  }
  return true;
}

bool InfectWithWorm(const Bytes& host, const std::string& letter, const WormOptions& o,
                    Bytes* out, std::string* why) {
  const WormVariant* v = VariantByLetter(letter);
  if (!v) {
    *why = "unknown variant " + letter + " (N, O or Q)";
    return false;
  }
  Host h;
  if (!ParseHost(host, &h, why)) return false;
  const std::vector<WormOp> key = o.key.empty() ? DefaultWormKey() : o.key;

  uint32_t imm = v->Immediate ? *v->Immediate : kDefaultQImmediate;
  if (v->AnyImmediate && o.immediate >= 0) imm = uint32_t(o.immediate);

  // The worm's code: "ret" (keeps the sample inert), the decryptor, the body.
  Bytes code = {0xC3};
  if (o.loopEndBeforeAnchor || o.loopEndOnlyBeforeAnchor) code.insert(code.end(), {0xAA, 0xE2, 0xFE});
  const size_t anchor = code.size();
  code.push_back(0xB9);
  for (int i = 0; i < 4; ++i) code.push_back(uint8_t(imm >> (8 * i)));
  code.push_back(0xAC);  // lodsb
  AppendKey(code, key);
  if (!o.loopEndOnlyBeforeAnchor) {
    const long rel = long(anchor + 5) - long(code.size() + 3);
    if (rel < -128) {
      *why = "key too long for the loop instruction";
      return false;
    }
    code.insert(code.end(), {0xAA, 0xE2, uint8_t(int8_t(rel))});
  }
  if (code.size() > 400) {
    *why = "key too long";
    return false;
  }

  const uint32_t bodyLength = std::min(std::max(imm, kMinBody), kMaxBody);
  Bytes body = Filler(bodyLength, 0x574F524D ^ imm);
  std::memcpy(body.data(), v->Plaintext, size_t(v->PlaintextLength));
  uint32_t field = o.hostEntryField >= 0 ? uint32_t(o.hostEntryField) : h.imageBase + h.entry;
  Put32(body, size_t(v->HostEntryOffset), v->HostEntryComplemented ? ~field : field);
  uint8_t counter = uint8_t(imm);
  for (uint8_t& b : body) b = Encrypt(key, b, counter--);
  code.insert(code.end(), body.begin(), body.end());

  // The new last section, its raw data right where the host ends.
  const uint32_t rawPointer = uint32_t(host.size());
  const uint32_t rawSize = AlignUp(uint32_t(code.size()), h.fileAlign);
  const uint32_t virtualSize = AlignUp(uint32_t(code.size()), h.sectionAlign);
  const uint32_t virtualAddress = AlignUp(h.sizeOfImage, h.sectionAlign);
  for (uint32_t i = 0; i < h.count; ++i) {
    const size_t s = SectionAt(h, i);
    if (uint64_t(Get32(host, s + 12)) + Get32(host, s + 8) > virtualAddress) {
      *why = "a host section reaches beyond SizeOfImage";
      return false;
    }
  }
  *out = host;
  code.resize(rawSize, 0);
  out->insert(out->end(), code.begin(), code.end());
  const size_t slot = SectionAt(h, h.count);
  std::memcpy(&(*out)[slot], o.sectionName.data(), std::min<size_t>(8, o.sectionName.size()));
  Put32(*out, slot + 8, virtualSize);
  Put32(*out, slot + 12, virtualAddress);
  Put32(*out, slot + 16, rawSize);
  Put32(*out, slot + 20, rawPointer);
  Put32(*out, slot + 36, o.characteristics);
  Put16(*out, h.pe + 6, h.count + 1);
  Put32(*out, h.pe + 24 + 16, virtualAddress);
  Put32(*out, h.pe + 24 + 56, h.sizeOfImage + virtualSize);
  return true;
}

Bytes SyntheticHost(uint32_t seed) {
  constexpr uint32_t kPe = 0x40, kHeaders = 0x400, kRaw = 0x600;
  static const char* const kNames[] = {".text", ".rdata", ".data"};
  static const uint32_t kFlags[] = {0x60000020, 0x40000040, 0xC0000040};
  Bytes b = Filler(kHeaders + 3 * kRaw, seed);
  std::fill(b.begin(), b.begin() + kHeaders, 0);
  static const char kNote[] = "Sorvane inert test host";
  b[0] = 0xCD;  // int 20h: ends at once if ever run as a flat image
  b[1] = 0x20;
  std::memcpy(&b[2], kNote, sizeof kNote);
  Put32(b, 0x3C, kPe);
  Put32(b, kPe, 0x00004550);
  Put16(b, kPe + 4, 0);  // machine 0: no loader accepts it
  Put16(b, kPe + 6, 3);
  Put32(b, kPe + 8, 0x40000000u + seed);
  Put16(b, kPe + 20, 224);
  Put16(b, kPe + 22, 0x010F);
  const uint32_t opt = kPe + 24;
  Put16(b, opt, 0x10B);
  Put32(b, opt + 4, kRaw);
  Put32(b, opt + 16, 0x1010);  // entry point inside .text
  Put32(b, opt + 20, 0x1000);
  Put32(b, opt + 28, 0x400000);
  Put32(b, opt + 32, 0x1000);
  Put32(b, opt + 36, 0x200);
  Put16(b, opt + 40, 4);
  Put16(b, opt + 48, 4);
  Put32(b, opt + 56, 0x4000);
  Put32(b, opt + 60, kHeaders);
  Put16(b, opt + 68, 2);
  Put32(b, opt + 92, 16);
  for (uint32_t i = 0; i < 3; ++i) {
    const size_t s = kPe + 248 + 40 * i;
    std::memcpy(&b[s], kNames[i], std::strlen(kNames[i]));
    Put32(b, s + 8, kRaw - 0x20 * i);
    Put32(b, s + 12, 0x1000 * (i + 1));
    Put32(b, s + 16, kRaw);
    Put32(b, s + 20, kHeaders + kRaw * i);
    Put32(b, s + 36, kFlags[i]);
  }
  b[kHeaders + 0x10] = 0xC3;  // the host's entry: ret
  return b;
}

}  // namespace forge
