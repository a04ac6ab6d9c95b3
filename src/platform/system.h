// The running process and the programs it starts.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/text.h"

namespace zul {

class System {
 public:
  virtual ~System() = default;

  // Full path of the running program file.
  virtual Text ownPath() = 0;
  // The whole command line as the process received it, program name first.
  virtual Text commandLine() = 0;
  // Milliseconds since the system started; wraps around.
  virtual uint32_t tickCount() = 0;
  // Data of the program's own resource of the named type ("KEY",
  // "UNINST_DAT") and numeric id, any language. Empty when missing.
  virtual Bytes ownResource(std::string_view type, int id) = 0;
  // The program's first icon group as the bytes of an .ico file. Empty when
  // the program has no icon.
  virtual Bytes ownIconFile() = 0;

  // Starts `commandLine` (its first token names the program) without
  // waiting. False when the process could not be created.
  virtual bool startProcess(const Text& commandLine) = 0;
  // Starts `commandLine` and waits for it to end. False when it could not be
  // started; otherwise `*exitCode` holds its exit code.
  virtual bool runAndWait(const Text& commandLine, uint32_t* exitCode) = 0;

  // Ends the process at once with `exitCode`; no clean-up runs.
  [[noreturn]] virtual void terminate(uint32_t exitCode) = 0;
  // Blocks for `ms` milliseconds while window messages keep being processed.
  virtual void waitWithMessages(uint32_t ms) = 0;
};

}  // namespace zul
