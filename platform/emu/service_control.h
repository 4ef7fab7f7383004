// Control API of the emulated services: services known to the service
// control manager, each run by a process of the process table, with the
// states it passes through after a stop request. Faults: OpenSCManagerA is
// keyed by ""; OpenServiceA, ControlService and QueryServiceStatus by the
// service name.
#pragma once

#include <string>
#include <vector>

#include "platform/system.h"

namespace emu {

struct ServiceOptions {
  // The process that runs the service (0: none). When that process ends,
  // the service reads as stopped; when the service stops, the process ends.
  DWORD processId = 0;
  // States QueryServiceStatus reports after a stop request, one per query;
  // the last one stays. SERVICE_STOPPED stops the service, SERVICE_RUNNING
  // means the stop failed and the service runs on.
  std::vector<DWORD> stopStates = {SERVICE_STOP_PENDING, SERVICE_STOPPED};
  bool acceptsStop = true;  // else ControlService refuses the stop (1061)
  // "ImagePath" as the registry holds it; empty: the image path of the
  // process, quoted when it holds a blank.
  std::string imagePath;
  DWORD imagePathType = REG_EXPAND_SZ;
};

// Registers a running service. The registry gets its key as Windows keeps
// it, SYSTEM\CurrentControlSet\Services\NAME under HKLM with "ImagePath",
// "Type", "Start" and the subkeys "Enum" and "Security"; the same key is
// written under SYSTEM\ControlSet001, which CurrentControlSet stands for on
// Windows (the emulated registry has no links).
void AddService(const std::string& name, const ServiceOptions& options = {});

// The state the service is in now (SERVICE_RUNNING, SERVICE_STOP_PENDING,
// SERVICE_STOPPED), 0 for an unknown name.
DWORD ServiceState(const std::string& name);

struct ServiceControlCall {
  std::string service;
  DWORD control;
  bool accepted;
  DWORD time;  // virtual clock at the call
};
// Every ControlService call, in order.
const std::vector<ServiceControlCall>& ServiceControls();

// Service control handles (manager and services) not yet closed.
int OpenServiceHandles();

}  // namespace emu
