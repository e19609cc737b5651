// What a machine keeps outside its disk images from one tavu-sim run to the
// next (--state FILE): the boot store, the firmware mode, the registered
// tasks and the moves Windows carries out at the next restart.
#pragma once

#include <string>

#include "sim/core/machine.h"

namespace tavu::tool {

// Reads FILE into the machine when it exists; false with a one-line reason
// when it exists but is not such a state.
bool LoadMachineState(sim::SimMachine& machine, const std::string& path, std::string* error);
// Writes the machine's state to FILE, whole or not at all.
bool SaveMachineState(sim::SimMachine& machine, const std::string& path, std::string* error);

}  // namespace tavu::tool
