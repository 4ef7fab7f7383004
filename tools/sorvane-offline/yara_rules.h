// The detection data as YARA rules, for the tools incident responders run
// over many machines. Each rule reproduces one record's or one archive
// matcher's test with YARA's integer reads (and, for the script records,
// regular expressions), so that a file matches the rules of the
// detections the scanner reports for it, and no other.
#pragma once

#include <string>

// The whole rule file. `version` and `commit` go into its heading.
std::string YaraRules(const std::string& version, const std::string& commit);

// Writes the rule file to `path` ("-": stdout) through a temporary file
// beside it, so that a failed write leaves no partial rule file. False
// with a reason in *error.
bool WriteYaraRules(const std::string& path, std::string* error);
