// HKEY_PERFORMANCE_DATA on the emulated machine: the Process object built
// from the process table in the published PERF_* layouts (instance names
// are image names without extension, "#n" for the second and later of a
// name, plus "Idle" and "_Total" with id 0), and the perflib "Counters"
// value with the English counter names the object's indexes refer to.
#include <strings.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>

#include "platform/emu/machine.h"
#include "platform/emu/perf_data.h"
#include "platform/emu/process_table.h"
#include "platform/emu/registry_tree.h"
#include "platform/emu/system_state.h"

namespace emu {
namespace {

const char* const PerflibKey = "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\009";

PerfConfig config;
std::vector<DWORD> querySizes;

struct CounterSpec {
  DWORD index;
  DWORD size;
  DWORD type;
  DWORD offset;
};

std::string CountersText() {
  std::vector<std::pair<DWORD, std::string>> names = {
      {1, "1847"},          {2, "System"},        {4, "Memory"},
      {6, "% Processor Time"}, {config.processIndex, "Process"}, {232, "Thread"},
      {238, "Processor"},   {680, "Thread Count"}, {684, "Elapsed Time"},
      {config.idProcessIndex, "ID Process"}, {804, "ID Thread"}, {1410, "Creating Process ID"},
  };
  std::string text;
  for (const auto& n : names) {
    text += std::to_string(n.first);
    text += '\0';
    text += n.second;
    text += '\0';
  }
  text += '\0';
  return text;
}

void InstallCounters() {
  std::string rest;
  reg::Root* root = reg::RootByName(PerflibKey, &rest);
  reg::Key* key = reg::Create(root->key.get(), rest, false, true);
  reg::Value* v = reg::FindValue(key, "Counters");
  if (!v || v->provided) reg::SetValue(key, "Counters", REG_MULTI_SZ, CountersText(), true);
}

void InstallPerf() {
  config = PerfConfig();
  querySizes.clear();
  InstallCounters();
}
reg::ProvidedContent perfContent(InstallPerf);

template <typename T>
void Put(std::string* out, size_t at, const T& value) {
  std::memcpy(&(*out)[at], &value, sizeof value);
}

size_t Align8(size_t n) { return (n + 7) & ~size_t(7); }

std::string InstanceName(const std::string& image) {
  std::string base = BaseName(image);
  size_t dot = base.rfind('.');
  return dot == std::string::npos ? base : base.substr(0, dot);
}

std::string ProcessObject() {
  std::vector<CounterSpec> counters = {
      {6, 8, PERF_100NSEC_TIMER, 8},
      {680, 4, PERF_COUNTER_RAWCOUNT, 24},
      {684, 8, PERF_ELAPSED_TIME, 16},
      {config.idProcessIndex, 4, PERF_COUNTER_RAWCOUNT, 28},
      {1410, 4, PERF_COUNTER_RAWCOUNT, 32},
  };
  if (!config.idProcessCounter) counters.erase(counters.begin() + 3);
  const DWORD blockLength = 40;

  std::vector<std::pair<std::string, DWORD>> instances = {{"Idle", 0}};
  std::map<std::string, int> seen;
  for (const auto& p : RunningProcesses()) {
    std::string name = InstanceName(p.image);
    std::string lower = name;
    for (auto& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    int n = seen[lower]++;
    if (n > 0) name += "#" + std::to_string(n);
    instances.push_back({name, p.id});
  }
  instances.push_back({"_Total", 0});

  size_t definitionLength = sizeof(PERF_OBJECT_TYPE) + counters.size() * sizeof(PERF_COUNTER_DEFINITION);
  std::string out(definitionLength, '\0');
  for (size_t i = 0; i < counters.size(); ++i) {
    PERF_COUNTER_DEFINITION d = {};
    d.ByteLength = sizeof d;
    d.CounterNameTitleIndex = counters[i].index;
    d.CounterHelpTitleIndex = counters[i].index + 1;
    d.DetailLevel = PERF_DETAIL_NOVICE;
    d.CounterType = counters[i].type;
    d.CounterSize = counters[i].size;
    d.CounterOffset = counters[i].offset;
    Put(&out, sizeof(PERF_OBJECT_TYPE) + i * sizeof d, d);
  }
  for (const auto& inst : instances) {
    size_t nameBytes = (inst.first.size() + 1) * 2;
    size_t at = out.size();
    out.resize(at + sizeof(PERF_INSTANCE_DEFINITION) + Align8(nameBytes) + blockLength, '\0');
    PERF_INSTANCE_DEFINITION def = {};
    def.ByteLength = static_cast<DWORD>(sizeof def + Align8(nameBytes));
    def.UniqueID = PERF_NO_UNIQUE_ID;
    def.NameOffset = sizeof def;
    def.NameLength = static_cast<DWORD>(nameBytes);
    Put(&out, at, def);
    for (size_t i = 0; i < inst.first.size(); ++i) {
      WCHAR c = static_cast<unsigned char>(inst.first[i]);
      Put(&out, at + sizeof def + i * 2, c);
    }
    size_t block = at + def.ByteLength;
    Put(&out, block, blockLength);
    Put(&out, block + 24, DWORD(1));  // thread count
    if (config.idProcessCounter) Put(&out, block + 28, inst.second);
  }
  PERF_OBJECT_TYPE object = {};
  object.TotalByteLength = static_cast<DWORD>(out.size());
  object.DefinitionLength = static_cast<DWORD>(definitionLength);
  object.HeaderLength = sizeof object;
  object.ObjectNameTitleIndex = config.processIndex;
  object.ObjectHelpTitleIndex = config.processIndex + 1;
  object.DetailLevel = PERF_DETAIL_NOVICE;
  object.NumCounters = static_cast<DWORD>(counters.size());
  object.NumInstances = static_cast<LONG>(instances.size());
  Put(&out, 0, object);
  return out;
}

bool NamesProcessObject(const char* name) {
  if (!name) return false;
  if (strcasecmp(name, "Global") == 0) return true;
  const char* p = name;
  while (*p) {
    while (*p == ' ') ++p;
    if (!*p) break;
    char* end;
    unsigned long index = strtoul(p, &end, 10);
    if (end == p) return false;
    if (index == config.processIndex) return true;
    p = end;
  }
  return false;
}

std::string DataBlock(const char* name) {
  std::string object = config.processObject && NamesProcessObject(name) ? ProcessObject() : "";
  const char systemName[] = "EMU";
  size_t nameBytes = sizeof systemName * 2;
  size_t header = Align8(sizeof(PERF_DATA_BLOCK) + nameBytes);
  std::string out(header, '\0');
  out += object;
  PERF_DATA_BLOCK block = {};
  const char* sig = config.signature ? "PERF" : "FREP";
  for (int i = 0; i < 4; ++i) block.Signature[i] = static_cast<WCHAR>(sig[i]);
  block.LittleEndian = 1;
  block.Version = 1;
  block.Revision = 1;
  block.TotalByteLength = static_cast<DWORD>(out.size());
  block.HeaderLength = static_cast<DWORD>(header);
  block.NumObjectTypes = object.empty() ? 0 : 1;
  block.DefaultObject = 238;
  block.PerfFreq.QuadPart = 10000000;
  block.SystemNameLength = static_cast<DWORD>(nameBytes);
  block.SystemNameOffset = sizeof(PERF_DATA_BLOCK);
  Put(&out, 0, block);
  for (size_t i = 0; i < sizeof systemName; ++i) {
    Put(&out, sizeof(PERF_DATA_BLOCK) + i * 2, static_cast<WCHAR>(systemName[i]));
  }
  return out;
}

}  // namespace

void SetPerfConfig(const PerfConfig& c) {
  config = c;
  InstallCounters();
}

const std::vector<DWORD>& PerfQuerySizes() { return querySizes; }

LONG QueryPerformanceData(LPCSTR name, LPDWORD type, LPBYTE data, LPDWORD size) {
  CountCall("RegQueryValueExA");
  querySizes.push_back(data && size ? *size : 0);
  DWORD error;
  std::string path = std::string("HKEY_PERFORMANCE_DATA\\") + (name ? name : "");
  if (ShouldFail("RegQueryValueExA", path.c_str(), &error)) return static_cast<LONG>(error);
  if (IsWin9xFamily()) return ERROR_BADKEY;
  std::string bytes = DataBlock(name);
  DWORD n = static_cast<DWORD>(bytes.size());
  if (!size) return ERROR_INVALID_PARAMETER;
  if (data) {
    if (*size < n) return ERROR_MORE_DATA;
    std::memcpy(data, bytes.data(), n);
  }
  *size = n;
  if (type) *type = REG_BINARY;
  return ERROR_SUCCESS;
}

}  // namespace emu
