// The project's plug-in DLLs, DIR/plugins/, compiled into the configuration
// archive's "ZULDLL_s.ini" (descriptors) and "ZULDLL.db" (the DLLs).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "archive_writer.h"

namespace zul::pack {

// Appends "ZULDLL_s.ini" and "ZULDLL.db" to `config` when the project has
// plug-ins; a project without them gets neither file. False with `*error`
// naming the file and the reason when a descriptor or DLL is bad.
[[nodiscard]] bool addPlugins(const std::filesystem::path& project, std::vector<ArchiveEntry>* config,
                              std::string* error);

}  // namespace zul::pack
