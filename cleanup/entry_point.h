// Entry points looked up by name in a loaded library, as typed calls.
#pragma once

#include "platform/system.h"

// The export `name` of `module` as a call of type F (a function pointer),
// or null when the library does not export it.
template <typename F>
F EntryPoint(HMODULE module, const char* name) {
  FARPROC proc = GetProcAddress(module, name);
  F call;
  static_assert(sizeof call == sizeof proc, "entry point size");
  memcpy(&call, &proc, sizeof call);
  return call;
}
