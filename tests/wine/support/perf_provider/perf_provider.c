/* A test-only performance provider for the Wine prefix: it reports the
   Process object (title index 230) with its "ID Process" counter (784),
   one instance per process of a Toolhelp snapshot, named as Windows names
   them (image name without extension, "#n" for the second and later).
   Wine 8 hands a provider a pointer past the place where the caller reads
   the first object, so the object is written where the data block's
   TotalByteLength says it ends, found from the block's header. */
#include <windows.h>
#include <tlhelp32.h>
#include <winperf.h>

#define PROCESS_INDEX 230
#define ID_PROCESS_INDEX 784
#define MAX_INSTANCES 512
#define NAME_CHARS 64
#define COUNTER_BLOCK 16 /* ByteLength, ID Process, padding */

struct Instance {
  WCHAR name[NAME_CHARS];
  DWORD id;
};

static struct Instance instances[MAX_INSTANCES];

static DWORD Align8(DWORD n) { return (n + 7) & ~7u; }

static int SameName(const WCHAR* a, const WCHAR* b) {
  for (;; ++a, ++b) {
    WCHAR x = *a >= 'A' && *a <= 'Z' ? *a + 32 : *a;
    WCHAR y = *b >= 'A' && *b <= 'Z' ? *b + 32 : *b;
    if (x != y) return 0;
    if (!x) return 1;
  }
}

/* Whether the query names the Process object ("Global" or its index). */
static int AsksForProcesses(const WCHAR* query) {
  static const WCHAR global[] = {'G', 'l', 'o', 'b', 'a', 'l', 0};
  if (!query || !*query || SameName(query, global)) return 1;
  while (*query) {
    DWORD n = 0;
    int digits = 0;
    while (*query >= '0' && *query <= '9') {
      n = n * 10 + (DWORD)(*query++ - '0');
      digits = 1;
    }
    if (digits && n == PROCESS_INDEX) return 1;
    if (!digits) ++query;
  }
  return 0;
}

static int Snapshot(void) {
  int count = 0;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32 entry;
  BOOL more;
  int i, j;
  if (snap == INVALID_HANDLE_VALUE) return 0;
  entry.dwSize = sizeof entry;
  for (more = Process32First(snap, &entry); more && count < MAX_INSTANCES;
       more = Process32Next(snap, &entry)) {
    struct Instance* inst = &instances[count];
    const char* base = entry.szExeFile;
    const char* dot = 0;
    const char* p;
    int seen = 0;
    for (p = entry.szExeFile; *p; ++p) {
      if (*p == '\\') base = p + 1;
    }
    for (p = base; *p; ++p) {
      if (*p == '.') dot = p;
    }
    for (i = 0; base + i != dot && base[i] && i < NAME_CHARS - 8; ++i) {
      inst->name[i] = (unsigned char)base[i];
    }
    inst->name[i] = 0;
    for (j = 0; j < count; ++j) {
      WCHAR plain[NAME_CHARS];
      int k;
      for (k = 0; instances[j].name[k] && instances[j].name[k] != '#'; ++k) plain[k] = instances[j].name[k];
      plain[k] = 0;
      if (SameName(plain, inst->name)) ++seen;
    }
    if (seen) {
      WCHAR digits[8];
      int n = 0;
      do {
        digits[n++] = (WCHAR)('0' + seen % 10);
        seen /= 10;
      } while (seen);
      inst->name[i++] = '#';
      while (n) inst->name[i++] = digits[--n];
      inst->name[i] = 0;
    }
    inst->id = entry.th32ProcessID;
    ++count;
  }
  CloseHandle(snap);
  return count;
}

static DWORD NameBytes(const WCHAR* name) {
  DWORD n = 0;
  while (name[n]) ++n;
  return (n + 1) * sizeof(WCHAR);
}

/* The data block header the caller placed before `at`. */
static BYTE* FindBlock(BYTE* at) {
  DWORD back;
  for (back = sizeof(PERF_DATA_BLOCK); back < 4096; back += 2) {
    PERF_DATA_BLOCK* block = (PERF_DATA_BLOCK*)(at - back);
    if (block->Signature[0] == 'P' && block->Signature[1] == 'E' && block->Signature[2] == 'R' &&
        block->Signature[3] == 'F' && block->LittleEndian == 1 &&
        block->TotalByteLength == block->HeaderLength && block->HeaderLength <= back) {
      return (BYTE*)block;
    }
  }
  return 0;
}

__declspec(dllexport) DWORD WINAPI OpenPerfData(LPWSTR context) {
  (void)context;
  return ERROR_SUCCESS;
}

__declspec(dllexport) DWORD WINAPI ClosePerfData(void) { return ERROR_SUCCESS; }

__declspec(dllexport) DWORD WINAPI CollectPerfData(LPWSTR query, LPVOID* data, LPDWORD size,
                                                   LPDWORD objects) {
  BYTE* given = (BYTE*)*data;
  BYTE* block = FindBlock(given);
  BYTE* out;
  DWORD available = *size, total, at, i;
  int count;
  PERF_OBJECT_TYPE* object;
  PERF_COUNTER_DEFINITION* counter;
  *objects = 0;
  if (!AsksForProcesses(query) || !block) {
    *size = 0;
    return ERROR_SUCCESS;
  }
  out = block + ((PERF_DATA_BLOCK*)block)->TotalByteLength;
  count = Snapshot();
  total = sizeof(PERF_OBJECT_TYPE) + sizeof(PERF_COUNTER_DEFINITION);
  for (i = 0; i < (DWORD)count; ++i) {
    total += sizeof(PERF_INSTANCE_DEFINITION) + Align8(NameBytes(instances[i].name)) + COUNTER_BLOCK;
  }
  if (total > available) {
    *size = 0;
    return ERROR_MORE_DATA;
  }
  ZeroMemory(out, total);
  object = (PERF_OBJECT_TYPE*)out;
  object->TotalByteLength = total;
  object->DefinitionLength = sizeof(PERF_OBJECT_TYPE) + sizeof(PERF_COUNTER_DEFINITION);
  object->HeaderLength = sizeof(PERF_OBJECT_TYPE);
  object->ObjectNameTitleIndex = PROCESS_INDEX;
  object->ObjectHelpTitleIndex = PROCESS_INDEX + 1;
  object->DetailLevel = PERF_DETAIL_NOVICE;
  object->NumCounters = 1;
  object->NumInstances = count;
  counter = (PERF_COUNTER_DEFINITION*)(out + sizeof(PERF_OBJECT_TYPE));
  counter->ByteLength = sizeof(PERF_COUNTER_DEFINITION);
  counter->CounterNameTitleIndex = ID_PROCESS_INDEX;
  counter->CounterHelpTitleIndex = ID_PROCESS_INDEX + 1;
  counter->DetailLevel = PERF_DETAIL_NOVICE;
  counter->CounterType = PERF_COUNTER_RAWCOUNT;
  counter->CounterSize = sizeof(DWORD);
  counter->CounterOffset = sizeof(DWORD);
  at = object->DefinitionLength;
  for (i = 0; i < (DWORD)count; ++i) {
    PERF_INSTANCE_DEFINITION* inst = (PERF_INSTANCE_DEFINITION*)(out + at);
    DWORD nameBytes = NameBytes(instances[i].name);
    inst->ByteLength = sizeof(PERF_INSTANCE_DEFINITION) + Align8(nameBytes);
    inst->UniqueID = PERF_NO_UNIQUE_ID;
    inst->NameOffset = sizeof(PERF_INSTANCE_DEFINITION);
    inst->NameLength = nameBytes;
    CopyMemory(out + at + inst->NameOffset, instances[i].name, nameBytes);
    at += inst->ByteLength;
    ((PERF_COUNTER_BLOCK*)(out + at))->ByteLength = COUNTER_BLOCK;
    *(DWORD*)(out + at + sizeof(DWORD)) = instances[i].id;
    at += COUNTER_BLOCK;
  }
  *data = out + total;
  *size = total;
  *objects = 1;
  return ERROR_SUCCESS;
}
