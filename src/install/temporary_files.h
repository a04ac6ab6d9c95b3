// Removal of what start-up and extraction leave in the temporary folder.
#pragma once

#include "platform/platform.h"
#include "startup/setup_state.h"

namespace zul {

// Deletes the data folder with everything in it when it is one plain folder
// directly inside the temporary folder and not the program's own folder, and,
// with `deletePayloadCopy`, the payload copy when it lies in the temporary
// folder but not in the program's own folder. Any other data folder (empty,
// test mode's own folder, one reached through "..") is left alone. Best
// effort: what cannot be removed stays.
void cleanupTemporaryFiles(Platform& platform, const SetupState& state, bool deletePayloadCopy);

}  // namespace zul
