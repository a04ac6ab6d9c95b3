// Start-up: the role decision and the filling of SetupState.
#pragma once

#include <functional>

#include "platform/platform.h"
#include "startup/setup_package.h"
#include "startup/setup_state.h"

namespace zul {

// What start-up needs beyond the platform. Every hook may be left empty:
// tests leave out what they do not exercise.
struct StartupServices {
  explicit StartupServices(Platform& p) : platform(p) {}

  Platform& platform;
  // Extracts `archive` into `destination` with `password`; true on success.
  std::function<bool(const Text& archive, const Text& destination, const Text& password)> extractArchive;
  // Lower-case hexadecimal MD5 of the bytes.
  std::function<Text(std::string_view)> md5Hex;
  // Expands the package's variables in the data folder's files and builds
  // the uninstaller's companion block.
  std::function<void(SetupState&)> expandVariables;
  // The wait window shown while a large payload is copied out.
  std::function<void()> showWaitWindow;
  std::function<void(int percent)> waitWindowProgress;
  std::function<void()> closeWaitWindow;
  // Retries and chunk sizes of the section readers.
  int emptyFileRetries = 50;
  uint64_t sectionChunk = kSectionChunk;
};

// The free-name rule for temporary files and folders: the tick count plus a
// per-process counter as lower-case hexadecimal, then ".tmp", counted up
// while the name exists in `folder`. Returns folder (with "\") + name;
// creates nothing.
Text newTemporaryName(Platform& platform, const Text& folder);

// Decides the role from the arguments and the package-mode section and, for
// an installer, takes the package apart: configuration into a new data
// folder, payload copy, volume check, switches, variables. A missing volume
// shows a message and ends the process.
RunMode determineRunMode(StartupServices& services, SetupState& state);

// Installer start-up steps that follow the role decision: the configuration
// archive, the payload copy and the volumes. Called by determineRunMode.
void preparePackage(StartupServices& services, SetupState& state);

// Fills `state` for the role; in the uninstaller's first stage restores the
// companion files, starts the copy in the temporary folder and ends the
// process. Returns the program's first icon as .ico bytes (may be empty).
Bytes startup(StartupServices& services, SetupState& state);

}  // namespace zul
