// Reads the NT family's process list from the performance data. The block
// comes from another component and is checked as untrusted input: every
// structure must lie inside the data returned before it is read.
#include "cleanup/perf_task_table.h"

#include <cctype>
#include <cstdlib>

PerfTaskEntry PerfTaskTable[PerfTaskTableRows];

namespace {

const char PerflibKey[] = "software\\microsoft\\windows nt\\currentversion\\perflib";
const int EnglishLanguage = 9;

bool Fits(DWORD off, DWORD len, DWORD size) { return off <= size && len <= size - off; }

template <typename T>
bool ReadAt(const BYTE* data, DWORD size, DWORD off, T* out) {
  if (!Fits(off, sizeof *out, size)) return false;
  memcpy(out, data + off, sizeof *out);
  return true;
}

bool AllDigits(const char* s) {
  if (!*s) return false;
  for (; *s; ++s) {
    if (!isdigit(static_cast<unsigned char>(*s))) return false;
  }
  return true;
}

// The counter names alternate between an index and a name; the index of a
// name is the string before it.
void WalkCounterNames(const char* text, DWORD size, DWORD* processIndex, DWORD* idIndex) {
  const char* end = text + size;
  const char* previous = nullptr;
  for (const char* p = text; p < end && *p;) {
    size_t n = strnlen(p, static_cast<size_t>(end - p));
    if (previous && AllDigits(previous)) {
      if (_stricmp(p, "process") == 0) *processIndex = static_cast<DWORD>(atol(previous));
      if (_stricmp(p, "id process") == 0) *idIndex = static_cast<DWORD>(atol(previous));
    }
    previous = p;
    p += n + 1;
  }
}

// Converts an instance's UTF-16 name into the row's name: "unknown" when it
// cannot be converted, empty when longer than 16 characters.
void ConvertName(const BYTE* data, DWORD limit, DWORD instance,
                 const PERF_INSTANCE_DEFINITION& def, char* name) {
  WCHAR wide[260];
  char narrow[260];
  name[0] = 0;
  if (!Fits(instance, def.NameOffset, limit)) {
    strcpy(name, "unknown");
    return;
  }
  DWORD start = instance + def.NameOffset;
  DWORD bytes = def.NameLength < limit - start ? def.NameLength : limit - start;
  DWORD chars = bytes / 2;
  DWORD length = 0;
  while (length < chars) {
    WCHAR c;
    memcpy(&c, data + start + length * 2, sizeof c);
    if (c == 0) break;
    if (length == 259) return;  // far longer than 16: stays empty
    wide[length++] = c;
  }
  if (length == 0) return;
  int n = WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(length), narrow,
                              static_cast<int>(sizeof narrow - 1), nullptr, nullptr);
  if (n <= 0) {
    strcpy(name, "unknown");
    return;
  }
  narrow[n] = 0;
  if (strlen(narrow) <= 16) strcpy(name, narrow);
}

int ReadInstances(const BYTE* data, DWORD limit, DWORD object, const PERF_OBJECT_TYPE& type,
                  DWORD idIndex) {
  if (!Fits(object, type.HeaderLength, limit)) return 0;
  DWORD definition = object + type.HeaderLength;
  bool found = false;
  DWORD counterOffset = 0;
  for (DWORD i = 0; i < type.NumCounters && !found; ++i) {
    PERF_COUNTER_DEFINITION def;
    if (i > (limit - definition) / sizeof def) break;
    if (!ReadAt(data, limit, definition + i * static_cast<DWORD>(sizeof def), &def)) break;
    if (def.CounterNameTitleIndex == idIndex) {
      counterOffset = def.CounterOffset;
      found = true;
    }
  }
  if (!found) return 0;  // without process ids no row can be used
  DWORD count = type.NumInstances < 0 ? 0 : static_cast<DWORD>(type.NumInstances);
  if (count > PerfTaskRowLimit) count = PerfTaskRowLimit;
  if (!Fits(object, type.DefinitionLength, limit)) return 0;
  DWORD instance = object + type.DefinitionLength;
  int rows = 0;
  for (DWORD i = 0; i < count; ++i) {
    PERF_INSTANCE_DEFINITION def;
    PERF_COUNTER_BLOCK block;
    if (!ReadAt(data, limit, instance, &def) || def.ByteLength < sizeof def ||
        !Fits(instance, def.ByteLength, limit)) {
      break;
    }
    DWORD counters = instance + def.ByteLength;
    if (!ReadAt(data, limit, counters, &block) || block.ByteLength < sizeof block ||
        !Fits(counters, block.ByteLength, limit)) {
      break;
    }
    DWORD pid;
    if (Fits(counterOffset, sizeof pid, block.ByteLength)) {
      PerfTaskEntry& row = PerfTaskTable[rows++];
      ConvertName(data, limit, instance, def, row.Name);
      memcpy(&pid, data + counters + counterOffset, sizeof pid);
      row.ProcessId = pid == 0 ? IdleProcessStandIn : pid;
    }
    instance = counters + block.ByteLength;
  }
  return rows;
}

}  // namespace

void FindPerfIndexes(DWORD* processIndex, DWORD* idProcessIndex) {
  char keyName[1024];
  *processIndex = 0;
  *idProcessIndex = 0;
  snprintf(keyName, sizeof keyName, "%s\\%03x", PerflibKey, EnglishLanguage);
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyName, 0, KEY_READ, &key) == ERROR_SUCCESS) {
    DWORD size = 0;
    if (RegQueryValueExA(key, "Counters", nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS &&
        size > 0) {
      // Two spare terminators keep the walk inside the buffer whatever the value holds.
      char* text = static_cast<char*>(calloc(size + 2, 1));
      DWORD got = size;
      if (text && RegQueryValueExA(key, "Counters", nullptr, nullptr,
                                   reinterpret_cast<BYTE*>(text), &got) == ERROR_SUCCESS) {
        WalkCounterNames(text, got < size ? got : size, processIndex, idProcessIndex);
      }
      free(text);
    }
    RegCloseKey(key);
  }
  if (*processIndex == 0) *processIndex = StandardProcessIndex;
  if (*idProcessIndex == 0) *idProcessIndex = StandardIdProcessIndex;
}

int ParsePerfTaskTable(const BYTE* data, DWORD size, DWORD processIndex, DWORD idProcessIndex) {
  PERF_DATA_BLOCK block;
  if (!ReadAt(data, size, 0, &block)) return 0;
  if (block.Signature[0] != 'P' || block.Signature[1] != 'E' || block.Signature[2] != 'R' ||
      block.Signature[3] != 'F') {
    return 0;
  }
  // The Process object is picked by its title index among the objects returned.
  DWORD object = block.HeaderLength;
  for (DWORD i = 0; i < block.NumObjectTypes; ++i) {
    PERF_OBJECT_TYPE type;
    if (!ReadAt(data, size, object, &type)) return 0;
    bool whole = type.TotalByteLength >= sizeof type && Fits(object, type.TotalByteLength, size);
    if (type.ObjectNameTitleIndex == processIndex) {
      return ReadInstances(data, whole ? object + type.TotalByteLength : size, object, type,
                           idProcessIndex);
    }
    if (!whole) return 0;
    object += type.TotalByteLength;
  }
  return 0;
}

int ReadPerfTaskTable() {
  memset(PerfTaskTable, 0, sizeof PerfTaskTable);
  DWORD processIndex, idIndex;
  FindPerfIndexes(&processIndex, &idIndex);
  char objectName[16];
  snprintf(objectName, sizeof objectName, "%lu", static_cast<unsigned long>(processIndex));

  DWORD capacity = PerfBufferStart;
  BYTE* data = static_cast<BYTE*>(calloc(capacity, 1));
  DWORD size = capacity;
  LONG result = data ? RegQueryValueExA(HKEY_PERFORMANCE_DATA, objectName, nullptr, nullptr,
                                        data, &size)
                     : ERROR_NOT_ENOUGH_MEMORY;
  while (result == ERROR_MORE_DATA) {
    // Grows from what the query left in the size or the size offered,
    // whichever is larger, and stops at the limit.
    DWORD base = size > capacity ? size : capacity;
    free(data);
    data = nullptr;
    if (base > PerfBufferLimit - PerfBufferStep) break;
    capacity = base + PerfBufferStep;
    data = static_cast<BYTE*>(calloc(capacity, 1));
    if (!data) break;
    size = capacity;
    result = RegQueryValueExA(HKEY_PERFORMANCE_DATA, objectName, nullptr, nullptr, data, &size);
  }
  int rows = 0;
  if (data && result == ERROR_SUCCESS && size > 0) {
    rows = ParsePerfTaskTable(data, size < capacity ? size : capacity, processIndex, idIndex);
  }
  free(data);
  RegCloseKey(HKEY_PERFORMANCE_DATA);
  return rows;
}
