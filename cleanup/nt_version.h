// Which NT version the memory scan runs on: it stops infected processes as
// services only on NT 4 and the NT 5 line.
#pragma once

enum NtVersionKind : int {
  NtVersionOther = 0,  // not NT, version unknown, or major version 6 and above
  NtVersion4 = 5,      // NT family, major version 4 or lower
  NtVersion5 = 6,      // NT family, major version 5
};

NtVersionKind GetNtVersionKind();
