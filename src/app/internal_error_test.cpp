#include "app/internal_error.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <thread>

#include "startup/exit_code.h"

namespace zul::app {
namespace {

constexpr int kInternalError = static_cast<int>(ExitCode::kInternalError);

[[noreturn]] void throwUncaught() { throw std::runtime_error("unexpected"); }

// Without the handler each of these ends with the C runtime's 3, the code
// of a failed install.
TEST(InternalErrorDeathTest, UnexpectedEndsGiveTheInternalErrorCode) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT((endFailuresWithInternalError(), std::terminate()), ::testing::ExitedWithCode(kInternalError), "");
  EXPECT_EXIT((endFailuresWithInternalError(), std::abort()), ::testing::ExitedWithCode(kInternalError), "");
  EXPECT_EXIT(
      {
        endFailuresWithInternalError();
        std::thread worker(throwUncaught);
        worker.join();
      },
      ::testing::ExitedWithCode(kInternalError), "");
}

}  // namespace
}  // namespace zul::app
