// Writes a setup file: the stub followed by the package-mode, payload and
// configuration blocks.
#pragma once

#include <functional>
#include <string>

#include "base/text.h"

namespace zul::pack {

struct SetupFileParts {
  std::string stubPath;      // host path of the stub executable
  Text packageMode = "zul-1";
  std::string payloadPath;   // host path of the payload 7z archive; empty: the payload is in volumes
  std::string configPath;    // host path of the configuration 7z archive
};

// Writes the setup file to `outPath` through a temporary file beside it, so
// a failure leaves no partial output. `progress` (may be empty) receives the
// bytes written so far and the total. False with `*error` set on failure.
bool writeSetupFile(const SetupFileParts& parts, const std::string& outPath,
                    const std::function<void(uint64_t done, uint64_t total)>& progress, std::string* error);

// The byte that replaces the configuration archive's second byte ("z") in
// the setup file.
inline constexpr char kConfigSignatureMask = 'Z';

}  // namespace zul::pack
