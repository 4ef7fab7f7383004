// Forged samples of the worm file disinfector and of the script and page
// cleaner. Plain standard C++ on byte vectors, like the rest of the forge.
//
// A worm sample is a copy of a host executable infected the way the
// appending worm does it: a nameless last section marked code, executable,
// readable and writable, the entry point moved to its start, a decryptor
// loop and an encrypted body that decrypts to the variant's plaintext and
// the host's entry address. The section's first byte is a "ret", so the
// sample ends at once if it is ever started; the decryptor after it never
// runs. Repairing a sample gives back the host byte for byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/forge/forge.h"

namespace forge {

// ---- Worm-infected executables ----------------------------------------------------

// One decryptor instruction between "lodsb" and "stosb".
struct WormOp {
  enum Kind { Xor, Rol, Ror, RolByCounter, Nop, Raw } kind;
  uint8_t value = 0;  // xor operand, rotation count, or Nop repeat count
  Bytes raw;          // Raw: bytes written as they are (the encryption ignores them)
};

// Parses a key: comma-separated "xor=HEX", "rol=N", "ror=N", "rolcl",
// "nop=N" (N one-byte instructions the decryptor ignores) and "raw=HEX..."
// (for example raw=C0D003, a shift form the disinfector does not know).
bool ParseWormKey(const std::string& text, std::vector<WormOp>* ops, std::string* why);

// The key a sample gets when none is given: xor, rol, ror and rol-by-cl.
std::vector<WormOp> DefaultWormKey();

struct WormOptions {
  std::vector<WormOp> key;            // empty: DefaultWormKey()
  int64_t immediate = -1;             // Q only: the "mov ecx" value (default 0x00000C40)
  std::string sectionName;            // non-empty: the last section is named (no match)
  uint32_t characteristics = 0xE0000020;
  bool loopEndBeforeAnchor = false;   // a stray stosb/loop pair before the anchor too
  bool loopEndOnlyBeforeAnchor = false;  // the decryptor's pair only before the anchor
  int64_t hostEntryField = -1;        // stored host entry address (before Q's complement)
};

// Infects `host` with variant "N", "O" or "Q". False with a reason when the
// host is not a PE32 with the standard optional header, has an overlay or a
// COFF symbol table, or has no free, zero section-table slot.
bool InfectWithWorm(const Bytes& host, const std::string& variant, const WormOptions& options,
                    Bytes* out, std::string* why);

// A small synthetic host: three sections, no overlay, a free slot. Machine
// type 0 and "int 20h" at the start, so no loader runs it.
Bytes SyntheticHost(uint32_t seed = 1);

// ---- Script and page samples --------------------------------------------------------

// The plain pattern of script record `index` (0-based), whatever the state
// of the table's scrambling.
Bytes ScriptPattern(int index);

enum class ScriptMiss {
  None,
  SizeBelow,      // one byte below the record's size window
  SizeAbove,      // one byte above it
  OutsideRegion,  // the pattern just outside the 4096 bytes examined
  NoTextGate,     // no line feed near either end and no closing tag
};

struct ScriptOptions {
  bool reflow = false;  // the pattern spread over indented lines
  uint32_t size = 0;    // file length; 0: the record's reference size (or fitting)
  ScriptMiss miss = ScriptMiss::None;
};

// A file matching script record `index` (0-based), or, with a miss, a file
// that comes as close as the miss allows without matching. False with a
// reason when the options cannot be met for that record.
bool ScriptSample(int index, const ScriptOptions& options, Bytes* out, std::string* why);

// ---- Commands ------------------------------------------------------------------------

// Runs the forge commands worm, worm-host, script and fuzz-seeds: the exit
// code, or -1 when argv[1] names none of them.
int WormScriptCommand(int argc, char** argv);
void WormScriptUsage();

}  // namespace forge
