// Performance-data layouts for the Linux build, as the Windows SDK publishes
// them for 32-bit programs (the title pointers are 32-bit fields there).
// The sizes are pinned so that data built here reads the same as on Windows.
#pragma once

#include <cstddef>

#include "platform/emu/win32_types.h"

typedef uint16_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;

struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};

// 8-byte aligned as on Windows, also on hosts that align 64-bit integers to 4.
union alignas(8) LARGE_INTEGER {
  struct {
    DWORD LowPart;
    LONG HighPart;
  } u;
  LONGLONG QuadPart;
};

struct PERF_DATA_BLOCK {
  WCHAR Signature[4];
  DWORD LittleEndian;
  DWORD Version;
  DWORD Revision;
  DWORD TotalByteLength;
  DWORD HeaderLength;
  DWORD NumObjectTypes;
  LONG DefaultObject;
  SYSTEMTIME SystemTime;
  LARGE_INTEGER PerfTime;
  LARGE_INTEGER PerfFreq;
  LARGE_INTEGER PerfTime100nSec;
  DWORD SystemNameLength;
  DWORD SystemNameOffset;
};

struct PERF_OBJECT_TYPE {
  DWORD TotalByteLength;
  DWORD DefinitionLength;
  DWORD HeaderLength;
  DWORD ObjectNameTitleIndex;
  DWORD ObjectNameTitle;  // LPWSTR on 32-bit Windows, unused in data
  DWORD ObjectHelpTitleIndex;
  DWORD ObjectHelpTitle;
  DWORD DetailLevel;
  DWORD NumCounters;
  LONG DefaultCounter;
  LONG NumInstances;
  DWORD CodePage;
  LARGE_INTEGER PerfTime;
  LARGE_INTEGER PerfFreq;
};

struct PERF_COUNTER_DEFINITION {
  DWORD ByteLength;
  DWORD CounterNameTitleIndex;
  DWORD CounterNameTitle;  // LPWSTR on 32-bit Windows, unused in data
  DWORD CounterHelpTitleIndex;
  DWORD CounterHelpTitle;
  LONG DefaultScale;
  DWORD DetailLevel;
  DWORD CounterType;
  DWORD CounterSize;
  DWORD CounterOffset;
};

struct PERF_INSTANCE_DEFINITION {
  DWORD ByteLength;
  DWORD ParentObjectTitleIndex;
  DWORD ParentObjectInstance;
  LONG UniqueID;
  DWORD NameOffset;
  DWORD NameLength;
};

struct PERF_COUNTER_BLOCK {
  DWORD ByteLength;
};

static_assert(sizeof(PERF_DATA_BLOCK) == 88, "PERF_DATA_BLOCK layout");
static_assert(offsetof(PERF_DATA_BLOCK, PerfTime) == 56, "PERF_DATA_BLOCK layout");
static_assert(offsetof(PERF_DATA_BLOCK, SystemNameLength) == 80, "PERF_DATA_BLOCK layout");
static_assert(sizeof(PERF_OBJECT_TYPE) == 64, "PERF_OBJECT_TYPE layout");
static_assert(offsetof(PERF_OBJECT_TYPE, NumInstances) == 40, "PERF_OBJECT_TYPE layout");
static_assert(sizeof(PERF_COUNTER_DEFINITION) == 40, "PERF_COUNTER_DEFINITION layout");
static_assert(sizeof(PERF_INSTANCE_DEFINITION) == 24, "PERF_INSTANCE_DEFINITION layout");
static_assert(sizeof(PERF_COUNTER_BLOCK) == 4, "PERF_COUNTER_BLOCK layout");

#define PERF_NO_INSTANCES (-1)
#define PERF_NO_UNIQUE_ID (-1)
#define PERF_DETAIL_NOVICE 100
#define PERF_COUNTER_RAWCOUNT 0x00010000
#define PERF_COUNTER_LARGE_RAWCOUNT 0x00010100
#define PERF_100NSEC_TIMER 0x20510500
#define PERF_ELAPSED_TIME 0x30240500
