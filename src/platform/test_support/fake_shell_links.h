// A ShellLinks stand-in that records what was asked and, when given a file
// system, writes a small file at each link path so that tests see files
// appear and folders fill up.
#pragma once

#include <vector>

#include "platform/file_system.h"
#include "platform/shell_links.h"

namespace zul {

class FakeShellLinks : public ShellLinks {
 public:
  struct Link {
    Text path;
    ShellLinkFields fields;
  };
  struct Pin {
    Text folder;
    Text fileName;
    bool pin = false;
  };

  FakeShellLinks() = default;
  explicit FakeShellLinks(FileSystem& fs) : fs_(&fs) {}

  // Refuses targets in `refusedTargets`, like a link object that rejects a
  // path; otherwise records the link and writes the file.
  bool createLink(const Text& linkPath, const ShellLinkFields& fields) override;
  void pinToTaskbar(const Text& folder, const Text& fileName, bool pin) override {
    pins.push_back({folder, fileName, pin});
  }

  std::vector<Link> links;  // accepted links, in call order
  std::vector<Pin> pins;
  std::vector<Text> refusedTargets;

 private:
  FileSystem* fs_ = nullptr;
};

}  // namespace zul
