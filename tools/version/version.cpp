// The version text. The record counts are taken from the tables themselves
// (up to their all-zero end record), so they say what this binary carries.
#include "tools/version/version.h"

#include <iterator>

#include "scanners/script_signatures.h"
#include "scanners/signature_record.h"
#include "scanners/worm_variants.h"

namespace {

int CountRecords(const SignatureRecord* table) {
  int count = 0;
  while (table[count].Name[0]) ++count;
  return count;
}

}  // namespace

std::string VersionText(const char* program) {
  int scripts = 0;
  for (const ScriptSignature& s : ScriptSignatureTable)
    if (s.Name[0]) ++scripts;
  return std::string(program) + " " + BuildVersion + "\n" + "commit: " + BuildCommit + "\n" +
         "detection data: " + std::to_string(CountRecords(BackdoorSignatures)) + " backdoor records, " +
         std::to_string(CountRecords(ArchiveSignatures)) + " archive records, " +
         std::to_string(scripts) + " script records, " + std::to_string(std::size(WormVariants)) +
         " worm variants\n";
}
