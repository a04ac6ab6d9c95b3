// The exit code of a run that went wrong inside the program itself.
#pragma once

namespace zul::app {

// From now on, std::terminate (an uncaught exception, a broken noexcept) and
// abort() end the process at once with ExitCode::kInternalError, in place
// of the C runtime's 3, which deployment tools read as "nothing was
// registered". Nothing is cleaned up: the outcome is unknown.
void endFailuresWithInternalError();

}  // namespace zul::app
