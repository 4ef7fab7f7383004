// The emulated service control manager: services run by processes of the
// process table, stopped through ControlService and watched through
// QueryServiceStatus, each stop request playing the service's scripted
// sequence of states. The 9x family has no service manager.
#include <strings.h>

#include <cstring>
#include <map>

#include "platform/emu/fs.h"
#include "platform/emu/machine.h"
#include "platform/emu/process_table.h"
#include "platform/emu/service_control.h"
#include "platform/emu/system_state.h"

namespace emu {
namespace {

struct Service {
  std::string name;
  ServiceOptions options;
  DWORD state = SERVICE_RUNNING;
  size_t nextStopState = 0;  // index into options.stopStates while stopping
  DWORD checkPoint = 0;
};

struct ServiceHandle {
  bool manager;
  std::string service;  // services only
  DWORD access;
};

std::vector<Service> services;
std::vector<ServiceControlCall> controls;
std::map<uintptr_t, ServiceHandle> handles;
uintptr_t nextHandle = 0x74000000;

void ResetServices() {
  services.clear();
  controls.clear();
  handles.clear();
  nextHandle = 0x74000000;
}
ResetHook serviceHook(ResetServices);

Service* Find(const std::string& name) {
  for (auto& s : services) {
    if (strcasecmp(s.name.c_str(), name.c_str()) == 0) return &s;
  }
  return nullptr;
}

// A running service whose process has gone (terminated, say) reads as stopped.
void Refresh(Service* s) {
  if (s->state != SERVICE_STOPPED && s->options.processId != 0 &&
      !ProcessRunning(s->options.processId)) {
    s->state = SERVICE_STOPPED;
  }
}

void Stopped(Service* s) {
  s->state = SERVICE_STOPPED;
  RecordServiceStopped(s->name, s->options.processId);
  if (s->options.processId != 0) RemoveProcess(s->options.processId);
}

void Report(const Service& s, LPSERVICE_STATUS status) {
  if (!status) return;
  *status = SERVICE_STATUS{};
  status->dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status->dwCurrentState = s.state;
  status->dwControlsAccepted =
      s.state == SERVICE_RUNNING && s.options.acceptsStop ? SERVICE_ACCEPT_STOP : 0;
  status->dwCheckPoint = s.state == SERVICE_STOP_PENDING ? s.checkPoint : 0;
  status->dwWaitHint = s.state == SERVICE_STOP_PENDING ? 3000 : 0;
}

SC_HANDLE NewHandle(ServiceHandle h) {
  uintptr_t value = nextHandle;
  nextHandle += 4;
  handles.emplace(value, std::move(h));
  return reinterpret_cast<SC_HANDLE>(value);
}

ServiceHandle* HandleOf(SC_HANDLE handle) {
  auto it = handles.find(reinterpret_cast<uintptr_t>(handle));
  return it == handles.end() ? nullptr : &it->second;
}

// The service behind an open service handle, or null with the last error set.
Service* ServiceOf(SC_HANDLE handle, ServiceHandle** h) {
  *h = HandleOf(handle);
  if (!*h || (*h)->manager) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  Service* s = Find((*h)->service);
  if (!s) SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
  return s;
}

std::string ImageOf(DWORD processId) {
  for (const auto& p : RunningProcesses()) {
    if (p.id == processId) return p.image;
  }
  return "";
}

std::string Dword(DWORD value) {
  return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

}  // namespace

void AddService(const std::string& name, const ServiceOptions& options) {
  Service s;
  s.name = name;
  s.options = options;
  if (s.options.imagePath.empty()) {
    std::string image = ImageOf(options.processId);
    s.options.imagePath = image.find(' ') == std::string::npos ? image : "\"" + image + "\"";
  }
  if (Service* old = Find(name)) {
    *old = s;
  } else {
    services.push_back(s);
  }
  for (const char* set : {"CurrentControlSet", "ControlSet001"}) {
    std::string key = std::string("HKLM\\SYSTEM\\") + set + "\\Services\\" + name;
    SetRegistryString(key, "ImagePath", s.options.imagePath, s.options.imagePathType);
    SetRegistryValue(key, "Type", REG_DWORD, Dword(SERVICE_WIN32_OWN_PROCESS));
    SetRegistryValue(key, "Start", REG_DWORD, Dword(SERVICE_AUTO_START));
    SetRegistryValue(key + "\\Enum", "Count", REG_DWORD, Dword(1));
    SetRegistryValue(key + "\\Security", "Security", REG_BINARY, std::string(20, '\x01'));
  }
}

DWORD ServiceState(const std::string& name) {
  Service* s = Find(name);
  if (!s) return 0;
  Refresh(s);
  return s->state;
}

const std::vector<ServiceControlCall>& ServiceControls() { return controls; }
int OpenServiceHandles() { return static_cast<int>(handles.size()); }

}  // namespace emu

using namespace emu;

SC_HANDLE WINAPI OpenSCManagerA(LPCSTR machineName, LPCSTR, DWORD access) {
  if (FaultFor("OpenSCManagerA", "")) return nullptr;
  if (IsWin9xFamily()) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return nullptr;
  }
  if (machineName && *machineName) {
    SetLastError(1722);  // RPC_S_SERVER_UNAVAILABLE: no other machines here
    return nullptr;
  }
  return NewHandle(ServiceHandle{true, "", access});
}

SC_HANDLE WINAPI OpenServiceA(SC_HANDLE manager, LPCSTR serviceName, DWORD access) {
  if (FaultFor("OpenServiceA", serviceName ? serviceName : "")) return nullptr;
  ServiceHandle* m = HandleOf(manager);
  if (!m || !m->manager) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (!serviceName || !*serviceName || std::strchr(serviceName, '\\')) {
    SetLastError(ERROR_INVALID_NAME);
    return nullptr;
  }
  Service* s = Find(serviceName);
  if (!s) {
    SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
    return nullptr;
  }
  return NewHandle(ServiceHandle{false, s->name, access});
}

BOOL WINAPI ControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status) {
  ServiceHandle* h;
  Service* s = ServiceOf(service, &h);
  std::string name = h && !h->manager ? h->service : "";
  if (FaultFor("ControlService", name.c_str())) {
    controls.push_back(ServiceControlCall{name, control, false, GetTickCount()});
    return FALSE;
  }
  if (!s) return FALSE;
  Refresh(s);
  DWORD error = ERROR_SUCCESS;
  if (control != SERVICE_CONTROL_STOP) {
    error = ERROR_INVALID_SERVICE_CONTROL;
  } else if (!(h->access & SERVICE_STOP)) {
    error = ERROR_ACCESS_DENIED;
  } else if (s->state == SERVICE_STOPPED) {
    error = ERROR_SERVICE_NOT_ACTIVE;
  } else if (s->state != SERVICE_RUNNING || !s->options.acceptsStop) {
    error = ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
  }
  controls.push_back(ServiceControlCall{name, control, error == ERROR_SUCCESS, GetTickCount()});
  if (error != ERROR_SUCCESS) return Fail(error);
  s->state = SERVICE_STOP_PENDING;
  s->nextStopState = 0;
  s->checkPoint = 1;
  Report(*s, status);
  return TRUE;
}

BOOL WINAPI QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status) {
  ServiceHandle* h;
  Service* s = ServiceOf(service, &h);
  std::string name = h && !h->manager ? h->service : "";
  if (FaultFor("QueryServiceStatus", name.c_str())) return FALSE;
  if (!s) return FALSE;
  if (!(h->access & SERVICE_QUERY_STATUS)) return Fail(ERROR_ACCESS_DENIED);
  if (!status) return Fail(998);  // ERROR_NOACCESS
  Refresh(s);
  if (s->state == SERVICE_STOP_PENDING && !s->options.stopStates.empty()) {
    const std::vector<DWORD>& states = s->options.stopStates;
    DWORD next = states[s->nextStopState < states.size() ? s->nextStopState : states.size() - 1];
    if (s->nextStopState < states.size()) ++s->nextStopState;
    ++s->checkPoint;
    if (next == SERVICE_STOPPED) {
      Stopped(s);
    } else {
      s->state = next;
    }
  }
  Report(*s, status);
  return TRUE;
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE handle) {
  CountCall("CloseServiceHandle");
  auto it = handles.find(reinterpret_cast<uintptr_t>(handle));
  if (it == handles.end()) return Fail(ERROR_INVALID_HANDLE);
  handles.erase(it);
  return TRUE;
}
