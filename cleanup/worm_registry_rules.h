// The worms' start-up registry entries: one rule per value the sweep tests,
// in the order the sweep runs them.
#pragma once

#include "platform/system.h"

enum RuleRoot { RuleCurrentUser, RuleLocalMachine };

enum MatchForm {
  MatchSystem,  // data holds "system" and the marker
  MatchSysdir,  // data holds "sysdir", or "system" and the marker
};

enum FollowUpKind {
  FollowUpNone,
  FollowUpKey,     // delete a marker key under HKCU
  FollowUpParams,  // delete a value of HKCU Params, if it can be read
};

struct FollowUpStep {
  FollowUpKind kind;
  const char* target;     // key path or Params value name
  const char* detection;  // name on the step's line
};

struct RegistryRule {
  RuleRoot root;
  const char* keyPath;
  const char* valueName;
  MatchForm match;
  const char* marker;
  const char* detection;     // name on the value's line
  bool followUpsWhenRead;    // follow-ups run even when the data does not match
  FollowUpStep followUps[2];
};

constexpr int WormRegistryRuleCount = 32;
extern const RegistryRule WormRegistryRules[WormRegistryRuleCount];

extern const char RunKeyPath[];
extern const char ParamsKeyPath[];

HKEY RuleRootKey(RuleRoot root);
