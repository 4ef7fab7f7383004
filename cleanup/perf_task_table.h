// The NT family's process list read from the performance data: one row per
// instance of the Process object, with its id and instance name.
#pragma once

#include "platform/system.h"

struct PerfTaskEntry {
  DWORD ProcessId;  // 0 from the data is stored as 0xFFFFFFFE
  char Name[17];    // at most 16 characters; empty for longer names
};

constexpr int PerfTaskTableRows = 255;
constexpr int PerfTaskRowLimit = 254;  // rows ever filled
constexpr DWORD IdleProcessStandIn = 0xFFFFFFFE;

// Performance-data buffer: first size, growth step and the size it stops at.
constexpr DWORD PerfBufferStart = 51200;
constexpr DWORD PerfBufferStep = 25600;
constexpr DWORD PerfBufferLimit = 64u * 1024 * 1024;

// Title indexes used when the perflib counter names lack them.
constexpr DWORD StandardProcessIndex = 230;
constexpr DWORD StandardIdProcessIndex = 784;

extern PerfTaskEntry PerfTaskTable[PerfTaskTableRows];

// Title indexes of the "process" object and its "id process" counter from
// the English counter names (perflib 009 "Counters"), or the standard ones.
void FindPerfIndexes(DWORD* processIndex, DWORD* idProcessIndex);

// Fills PerfTaskTable from HKEY_PERFORMANCE_DATA; returns the rows filled
// (0 when the data is unreadable or holds no process rows).
int ReadPerfTaskTable();

// Fills PerfTaskTable from one performance-data block of `size` bytes.
int ParsePerfTaskTable(const BYTE* data, DWORD size, DWORD processIndex, DWORD idProcessIndex);
