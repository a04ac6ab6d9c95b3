#include "platform/test_support/fake_shell_links.h"

namespace zul {

bool FakeShellLinks::createLink(const Text& linkPath, const ShellLinkFields& fields) {
  for (const Text& refused : refusedTargets) {
    if (refused == fields.target) return false;
  }
  links.push_back({linkPath, fields});
  if (fs_) writeWholeFile(*fs_, linkPath, "link to " + fields.target);
  return true;
}

}  // namespace zul
