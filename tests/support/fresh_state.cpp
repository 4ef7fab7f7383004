// A fresh emulated machine in a test also puts the core's shared state
// back to its program-start value: linked into every test program that
// resets the machine between cases.
#include "engine/shared_state.h"
#include "platform/emu/machine.h"

namespace {

emu::ResetHook sharedStateReset(ResetSharedState);

}  // namespace
