// Text helpers shared by the YARA rule writers: formatting, identifiers,
// quoted strings, and the match / public / "seen" rule triple each
// detection is written as.
#pragma once

#include <string>

std::string YaraFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));

// "W32/Murkel.A.Backdoor" -> "W32_Murkel_A_Backdoor".
std::string YaraIdentifier(const char* name);

// A YARA string literal holding `text`.
std::string YaraQuoted(const char* text);

// One detection: the private match rule sorvane_<tag>_match, the public
// rule that also requires that the private rule `before` (when not empty)
// did not match, and the private rule sorvane_<tag>_seen (this match or an
// earlier one) the next detection builds on. Returns the seen rule's name.
std::string EmitYaraRule(std::string* out, const std::string& tag, const std::string& publicName,
                         const std::string& meta, const std::string& strings, const std::string& condition,
                         const std::string& before);
