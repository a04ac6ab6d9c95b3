// Removal of what start-up and extraction leave in the temporary folder.
#pragma once

#include "platform/platform.h"
#include "startup/setup_state.h"

namespace zul {

// Deletes the data folder with everything in it, unless it is the program's
// own folder (test mode), and, with `deletePayloadCopy`, the payload copy
// when it lies in the temporary folder but not in the program's own folder. Never removes an empty path or a
// drive root. Best effort: what cannot be removed stays.
void cleanupTemporaryFiles(Platform& platform, const SetupState& state, bool deletePayloadCopy);

}  // namespace zul
