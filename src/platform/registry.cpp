#include "platform/registry.h"

namespace zul {

bool registryRootOf(std::string_view path, RegistryRoot* root) {
  struct Name {
    std::string_view name;
    RegistryRoot root;
  };
  static constexpr Name kNames[] = {
      {"HKEY_CLASSES_ROOT", RegistryRoot::kClassesRoot},   {"HKEY_CURRENT_CONFIG", RegistryRoot::kCurrentConfig},
      {"HKEY_CURRENT_USER", RegistryRoot::kCurrentUser},   {"HKEY_LOCAL_MACHINE", RegistryRoot::kLocalMachine},
      {"HKEY_USERS", RegistryRoot::kUsers},
  };
  for (const Name& candidate : kNames) {
    if (path.substr(0, candidate.name.size()) == candidate.name) {
      *root = candidate.root;
      return true;
    }
  }
  return false;
}

}  // namespace zul
