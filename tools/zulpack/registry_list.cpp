#include "registry_list.h"

namespace zul::pack {

bool addRegistryList(const std::filesystem::path& project, std::vector<ArchiveEntry>* config, std::string* error) {
  if (!std::filesystem::exists(project / "registry.txt")) return true;
  *error = (project / "registry.txt").string() + ": registry lists are not supported yet";
  return false;
}

}  // namespace zul::pack
