// The script and page records as YARA rules: each pattern as a regular
// expression that allows white space between its bytes, bounded to the
// record's region, behind the same text gates and size rule.
#pragma once

#include <string>

// The rules of the script records in table order, each requiring that the
// private rule `backdoorRowFinished` (a file the backdoor row is done
// with) did not match and that no earlier script record matched.
std::string ScriptYaraRules(const std::string& backdoorRowFinished);
