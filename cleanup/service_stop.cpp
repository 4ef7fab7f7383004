// Stops a Windows service through the service control manager and waits,
// boundedly, until it has stopped.
#include "cleanup/service_stop.h"

#include "platform/system.h"

namespace {

// Every right of the service up to starting and stopping it, with the
// standard rights.
const DWORD ServiceAccess = 0xF003F;
const DWORD PollPause = 1000;

}  // namespace

int StopService(const char* serviceName) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (!manager) return 0;
  SC_HANDLE service = OpenServiceA(manager, serviceName, ServiceAccess);
  if (!service) {
    CloseServiceHandle(manager);
    return 0;
  }
  int result = 0;
  SERVICE_STATUS status;
  memset(&status, 0, sizeof status);
  if (ControlService(service, SERVICE_CONTROL_STOP, &status)) {
    // The last state the service reported decides; a service that is still
    // stopping after MaxStopPolls pauses counts as not stopped.
    SERVICE_STATUS now;
    for (int polls = 0; QueryServiceStatus(service, &now); ++polls) {
      status = now;
      if (status.dwCurrentState != SERVICE_STOP_PENDING || polls == MaxStopPolls) break;
      Sleep(PollPause);
    }
    result = status.dwCurrentState == SERVICE_STOPPED ? 1 : 0;
  }
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return result;
}

bool ServiceNameForImage(const char* imagePath, char* name, unsigned size) {
  const char* slash = strrchr(imagePath, '\\');
  const char* file = slash ? slash + 1 : imagePath;
  const char* dot = strrchr(file, '.');
  size_t length = dot ? static_cast<size_t>(dot - file) : strlen(file);
  if (size == 0 || length >= size) return false;
  memcpy(name, file, length);
  name[length] = 0;
  return true;
}
