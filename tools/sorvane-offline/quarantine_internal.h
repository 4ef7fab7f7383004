// What the quarantine's copying and restoring share.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "tools/sorvane-offline/quarantine_journal.h"
#include "tools/sorvane-offline/volume_identity.h"

namespace quarantine {

// {"exists": bool, "sha256": text} of `rel` below `root`, read without
// following a link.
nlohmann::json FileState(const std::string& root, const std::string& rel);

// IdentityOf, asked once per root while a quarantine is open (Open
// forgets what was asked before).
VolumeIdentity IdentityOfRoot(const std::string& root);
void ForgetIdentities();

// Puts back the original of a hive whose write a stopped run left
// unfinished, when its volume is the one recorded, and records that in
// the journal; false with the reason.
bool RollBackHive(const std::string& dir, const Entry& e, int journal, std::string* why);

}  // namespace quarantine
