// One argument of sorvane-offline's command line, as "--name=value" or
// "--name value": the three option parsers split it the same way.
#pragma once

#include <string>

struct OptionArgument {
  std::string name;          // the option without its inline value
  std::string value;         // set by TakeValue
  std::string inlineText;    // what followed '=' in "--name=value"
  bool inlineValue = false;  // "--name=value"
};

OptionArgument SplitArgument(const char* arg);

// Gives the option its value: the inline one, or the next argument (then
// *i moves past it). False, with "missing value after NAME", when there is
// none.
bool TakeValue(int argc, char** argv, int* i, OptionArgument* option, std::string* error);
