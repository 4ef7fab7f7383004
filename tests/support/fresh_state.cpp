// A fresh emulated machine in a test also puts the core's shared state
// back to its program-start value and clears the host layer's faults:
// linked into every test program that resets the machine between cases.
#include "engine/shared_state.h"
#include "platform/emu/machine.h"
#include "platform/host/host_faults.h"

namespace {

emu::ResetHook sharedStateReset(ResetSharedState);
emu::ResetHook hostFaultsReset(host::ClearFaults);

}  // namespace
