// The rule table of the worm registry sweep. Rules that share a value name
// follow one another: a later rule acts only when the earlier one did not
// match or could not delete the value.
#include "cleanup/worm_registry_rules.h"

const char RunKeyPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char ParamsKeyPath[] = "Software\\Microsoft\\Params";

namespace {

// The look-alike key with the digit one: a key of its own.
const char Ru1nKeyPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Ru1n";

const FollowUpStep None = {FollowUpNone, nullptr, nullptr};

constexpr FollowUpStep Key(const char* path, const char* detection) {
  return {FollowUpKey, path, detection};
}
constexpr FollowUpStep Params(const char* value, const char* detection) {
  return {FollowUpParams, value, detection};
}

}  // namespace

HKEY RuleRootKey(RuleRoot root) {
  return root == RuleLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

const RegistryRule WormRegistryRules[WormRegistryRuleCount] = {
    {RuleCurrentUser, RunKeyPath, "d3dupdate.exe", MatchSystem, "bbeagle.exe", "W32/Bagle.A.Worm", false, {None, None}},
    {RuleCurrentUser, RunKeyPath, "au.exe", MatchSystem, "au.exe", "W32/Bagle.B.Worm", false, {None, None}},
    {RuleCurrentUser, RunKeyPath, "gouday.exe", MatchSystem, "readme.exe", "W32/Bagle.C.Worm", false,
     {Key("Software\\DateTime2", "W32/Bagle.C.Worm"), Key("Software\\DateTime3", "W32/Bagle.D.Worm")}},
    {RuleCurrentUser, RunKeyPath, "rate.exe", MatchSystem, "i1ru74n4.exe", "W32/Bagle.E.Worm", false,
     {Key("Software\\DateTime4", "W32/Bagle.E.Worm"), None}},
    {RuleCurrentUser, RunKeyPath, "rate.exe", MatchSystem, "i1ru54n4.exe", "W32/Bagle.F.Worm", false,
     {Key("Software\\winword", "W32/Bagle.F.Worm"), None}},
    {RuleCurrentUser, RunKeyPath, "rate.exe", MatchSystem, "i11r54n4.exe", "W32/Bagle.G.Worm", false, {None, None}},
    {RuleCurrentUser, RunKeyPath, "ssate.exe", MatchSystem, "irun4.exe", "W32/Bagle.J.Worm", false, {None, None}},
    {RuleCurrentUser, RunKeyPath, "ssate.exe", MatchSystem, "winsys.exe", "W32/Bagle.K.Worm", false, {None, None}},
    {RuleCurrentUser, RunKeyPath, "winupd.exe", MatchSystem, "winupd.exe", "W32/Bagle.N.Worm", false, {None, None}},
    {RuleCurrentUser, RunKeyPath, "directs.exe", MatchSystem, "directs.exe", "W32/Bagle.Q.Worm", false, {None, None}},
    {RuleCurrentUser, RunKeyPath, "gigabit.exe", MatchSystem, "gigabit.exe", "W32/Bagle.U.Worm", false,
     {Key("Software\\Windows2004", "W32/Bagle.U.Worm"), None}},
    {RuleCurrentUser, RunKeyPath, "sysinfo.exe", MatchSystem, "sysinfo.exe", "W32/Bagle.V.Worm", false,
     {Key("Software\\Windows2005", "W32/Bagle.V.Worm"), None}},
    {RuleCurrentUser, RunKeyPath, "drvsys.exe", MatchSystem, "drvsys.exe", "W32/Bagle.Z.Worm", false, {None, None}},
    {RuleCurrentUser, RunKeyPath, "drvddll.exe", MatchSystem, "drvddll.exe", "W32/Bagle.Aa.Worm", false, {None, None}},
    {RuleCurrentUser, RunKeyPath, "reg_key", MatchSystem, "loader_name.exe", "W32/Bagle.Ae.Worm", false, {None, None}},
    {RuleCurrentUser, RunKeyPath, "reg_key", MatchSystem, "loader_name.exe", "W32/Bagle.Ac.Worm", false, {None, None}},
    {RuleCurrentUser, RunKeyPath, "key", MatchSystem, "sysxp.exe", "W32/Bagle.Af.Worm", false, {None, None}},
    {RuleCurrentUser, RunKeyPath, "key", MatchSystem, "sys_xp.exe", "W32/Bagle.Ag.Worm", false, {None, None}},
    {RuleCurrentUser, RunKeyPath, "key", MatchSystem, "winxp.exe", "W32/Bagle.Ah.Worm", false, {None, None}},
    {RuleCurrentUser, RunKeyPath, "win_upd2.exe", MatchSystem, "windirect.exe", "W32/Bagle.Aq.Worm", false, {None, None}},
    {RuleLocalMachine, RunKeyPath, "win_upd2.exe", MatchSystem, "windirect.exe", "W32/Bagle.Aq.Worm", false, {None, None}},
    {RuleLocalMachine, RunKeyPath, "wersds.exe", MatchSysdir, "doriot.exe", "W32/Bagle.Dl.A.Worm", false, {None, None}},
    {RuleCurrentUser, RunKeyPath, "wersds.exe", MatchSysdir, "doriot.exe", "W32/Bagle.Dl.A.Worm", false, {None, None}},
    {RuleLocalMachine, Ru1nKeyPath, "erthgdr", MatchSysdir, "windll.exe", "W32/Bagle.Al.Worm", false, {None, None}},
    {RuleCurrentUser, Ru1nKeyPath, "erthgdr", MatchSysdir, "windll.exe", "W32/Bagle.Al.Worm", false, {None, None}},
    {RuleCurrentUser, RunKeyPath, "bawindo", MatchSysdir, "bawindo.exe", "W32/Bagle.Az.Worm", true,
     {Params("TimeKey", "W32/Bagle.Av.Worm"), None}},
    {RuleCurrentUser, RunKeyPath, "wingo", MatchSysdir, "wingo.exe", "W32/Bagle.At.Worm", false,
     {Params("TimeKey", "W32/Bagle.At.Worm"), None}},
    {RuleCurrentUser, RunKeyPath, "bawindo", MatchSysdir, "bawindo.exe", "W32/Bagle.Av.Worm", false,
     {Params("TimeKey", "W32/Bagle.Av.Worm"), None}},
    {RuleCurrentUser, RunKeyPath, "sysformat", MatchSysdir, "sysformat.exe", "W32/Bagle.Ax.Worm", false,
     {Params("TimeKey", "W32/Bagle.Ax.Worm"), Params("riga", "W32/Bagle.Ay.Worm")}},
    {RuleCurrentUser, RunKeyPath, "Syskey", MatchSysdir, "sysinit.exe", "W32/Bagle.Aw.Worm", false, {None, None}},
    {RuleCurrentUser, RunKeyPath, "winshost.exe", MatchSysdir, "winshost.exe", "W32/Bagle.Be.Worm", false, {None, None}},
    {RuleLocalMachine, RunKeyPath, "winshost.exe", MatchSysdir, "winshost.exe", "W32/Bagle.Be.Worm", false, {None, None}},
};
