// The project's registry list, DIR/registry.txt, compiled into the
// configuration archive's "ZULREG.db".
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "archive_writer.h"

namespace zul::pack {

// Appends "ZULREG.db" to `config` when the project has a registry list; a
// project without one gets no file. False with `*error` naming the file,
// the line and the reason when the list is malformed.
[[nodiscard]] bool addRegistryList(const std::filesystem::path& project, std::vector<ArchiveEntry>* config,
                                   std::string* error);

}  // namespace zul::pack
