#include "app/internal_error.h"

#include <windows.h>

#include <csignal>
#include <exception>

#include "startup/exit_code.h"

namespace zul::app {
namespace {

[[noreturn]] void endWithInternalError() {
  // No destructors, no DLL detach: other threads may hold locks.
  constexpr UINT code = static_cast<UINT>(ExitCode::kInternalError);
  TerminateProcess(GetCurrentProcess(), code);
  ExitProcess(code);
}

extern "C" void onAbortSignal(int) { endWithInternalError(); }

}  // namespace

void endFailuresWithInternalError() {
  std::set_terminate(endWithInternalError);
  std::signal(SIGABRT, onAbortSignal);
}

}  // namespace zul::app
