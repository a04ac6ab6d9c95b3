#include "plugin_list.h"

namespace zul::pack {

bool addPlugins(const std::filesystem::path& project, std::vector<ArchiveEntry>* config, std::string* error) {
  if (!std::filesystem::exists(project / "plugins")) return true;
  *error = (project / "plugins").string() + ": plug-ins are not supported yet";
  return false;
}

}  // namespace zul::pack
