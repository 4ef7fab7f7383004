// The sweep of the worms' start-up registry entries: every rule in order,
// each with its follow-up steps, then the Run entries that launch the file
// under examination.
#include "cleanup/registry_cleanup.h"

#include "cleanup/registry_values.h"
#include "cleanup/run_entries.h"
#include "cleanup/worm_registry_rules.h"
#include "engine/scan_result.h"
#include "engine/shared_state.h"

namespace {

char ValueData[1000];

bool Matches(MatchForm form, const char* marker) {
  if (form == MatchSysdir && strstr(ValueData, "sysdir")) return true;
  return strstr(ValueData, "system") && strstr(ValueData, marker);
}

ProfileSweepHook sweepHook;

void Removed(const char* detection, HKEY root, const char* keyPath, const char* valueName) {
  EmitRegistryRemoval(detection, RegistryRemoval{root, keyPath, valueName});
}

void RunFollowUp(const FollowUpStep& step) {
  switch (step.kind) {
    case FollowUpKey:
      if (DeleteRegistryKey(HKEY_CURRENT_USER, step.target)) {
        Removed(step.detection, HKEY_CURRENT_USER, step.target, nullptr);
      }
      break;
    case FollowUpParams:
      if (ReadRegistryValue(HKEY_CURRENT_USER, ParamsKeyPath, step.target, ValueData,
                            sizeof ValueData) &&
          DeleteRegistryValue(HKEY_CURRENT_USER, ParamsKeyPath, step.target)) {
        Removed(step.detection, HKEY_CURRENT_USER, ParamsKeyPath, step.target);
      }
      break;
    case FollowUpNone:
      break;
  }
}

void RunRule(const RegistryRule& rule) {
  HKEY root = RuleRootKey(rule.root);
  if (!ReadRegistryValue(root, rule.keyPath, rule.valueName, ValueData, sizeof ValueData)) return;
  _strlwr(ValueData);
  if (Matches(rule.match, rule.marker)) {
    if (DeleteRegistryValue(root, rule.keyPath, rule.valueName)) {
      Removed(rule.detection, root, rule.keyPath, rule.valueName);
    }
  } else if (!rule.followUpsWhenRead) {
    return;
  }
  for (const FollowUpStep& step : rule.followUps) RunFollowUp(step);
}

int SweepOnce() {
  for (const RegistryRule& rule : WormRegistryRules) RunRule(rule);
  if (CurrentScanFile[0]) {
    CleanRunEntriesForFile(HKEY_LOCAL_MACHINE, RunKeyPath);
    CleanRunEntriesForFile(HKEY_CURRENT_USER, RunKeyPath);
  }
  return 1;
}

}  // namespace

int CleanWormRegistry() { return sweepHook ? sweepHook(SweepOnce) : SweepOnce(); }

void SetProfileSweepHook(ProfileSweepHook hook) { sweepHook = hook; }
