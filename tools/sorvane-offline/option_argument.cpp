// Splitting of "--name=value" and "--name value" arguments.
#include "tools/sorvane-offline/option_argument.h"

OptionArgument SplitArgument(const char* arg) {
  OptionArgument option;
  std::string text = arg;
  size_t eq = text.find('=');
  option.inlineValue = text.rfind("--", 0) == 0 && eq != std::string::npos;
  option.name = option.inlineValue ? text.substr(0, eq) : text;
  if (option.inlineValue) option.inlineText = text.substr(eq + 1);
  return option;
}

bool TakeValue(int argc, char** argv, int* i, OptionArgument* option, std::string* error) {
  if (option->inlineValue) {
    option->value = option->inlineText;
    return true;
  }
  if (*i + 1 >= argc) {
    *error = "missing value after " + option->name;
    return false;
  }
  option->value = argv[++*i];
  return true;
}
