// In-memory stand-ins for the process runner and the resource updater, for
// native tests of the install steps. Everything is public: tests read back
// what the code asked for.
#pragma once

#include <functional>
#include <vector>

#include "platform/file_system.h"
#include "platform/process_runner.h"
#include "platform/resource_updater.h"

namespace zul {

class FakeProcessRunner : public ProcessRunner {
 public:
  struct Run {
    bool shell = false;   // shellOpen, else createProcess
    Text commandLine;     // createProcess
    Text file;            // shellOpen
    Text parameters;      // shellOpen
    WindowState window = WindowState::kNormal;
    bool waitForExit = false;
  };

  bool createProcess(const Text& commandLine, WindowState window, ProcessWait wait) override;
  bool shellOpen(const Text& file, const Text& parameters, WindowState window, bool waitForExit) override;

  std::vector<Run> runs;               // in call order, failed ones included
  bool fail = false;                   // every call fails
  std::function<void(const Run&)> onRun;  // called for each run before it returns
};

// Records resource changes and rewrites the file as the test says, to play
// the system updater's treatment of the bytes around the image (which may
// drop appended data and change the file's length).
class FakeResourceUpdater : public ResourceUpdater {
 public:
  explicit FakeResourceUpdater(FileSystem& fs) : fs_(fs) {}
  bool apply(const Text& exePath, const std::vector<ResourceChange>& changes) override;

  // The file's new bytes from its old ones, at every successful apply;
  // unset keeps the file as it is.
  std::function<Bytes(const Bytes& before)> rewrite;
  bool fail = false;
  std::vector<std::vector<ResourceChange>> updates;  // successful apply calls, in order

 private:
  FileSystem& fs_;
};

}  // namespace zul
