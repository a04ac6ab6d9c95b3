#include "startup/command_line.h"

#include <gtest/gtest.h>

namespace zul {
namespace {

TEST(SplitCommandLine, Table) {
  struct Case {
    const char* line;
    std::vector<Text> args;
  } cases[] = {
      {"setup.exe", {}},
      {"\"C:\\a b\\setup.exe\"", {}},
      {"\"C:\\a b\\setup.exe\" test", {"test"}},
      {"setup.exe  a\tb\r\nc ", {"a", "b", "c"}},
      {"setup.exe \"C:\\Program Files\\App\" \"\xD0\xB6\xD4\xD8\"", {"C:\\Program Files\\App", "\xD0\xB6\xD4\xD8"}},
      {"setup.exe \"\" x", {"", "x"}},
      {"setup.exe a\"b c\"d", {"a", "b c", "d"}},
      {"setup.exe \"unterminated arg", {"unterminated arg"}},
      {"setup.exe \\\"x", {"\\", "x"}},  // nothing is escaped
      // A character whose trail byte is '\' stays whole; a lone lead byte at
      // the end of the line is kept.
      {"setup.exe \xD5\x5C\\x \xB1", {"\xD5\x5C\\x", "\xB1"}},
      {"setup.exe -hp", {"-hp"}},
  };
  for (const auto& c : cases) EXPECT_EQ(splitCommandLine(c.line), c.args) << c.line;
}

TEST(ApplySwitches, Table) {
  struct Case {
    std::vector<Text> args;
    Text mode;
    int finish;
  } cases[] = {
      {{}, "", 0},
      {{"-jp"}, Text(kDirectInstall), 0},
      {{"-hp"}, Text(kSilentInstall), 0},
      {{"-jp", "-hp"}, Text(kSilentInstall), 0},
      {{"-hp", "-jp"}, Text(kSilentInstall), 0},
      {{"-hpx"}, Text(kSilentInstall), 0},
      {{"x-hideendy"}, "", -1},
      {{"-h", "p"}, "", 0},
      {{"-hide", "end"}, "", 0},
      {{"test", "-HP"}, "", 0},
      {{"test", "-hp", "-hideend"}, Text(kSilentInstall), -1},
  };
  for (const auto& c : cases) {
    SetupState state;
    applySwitches(InstallSwitches{}, c.args, state);
    EXPECT_EQ(state.installMode, c.mode) << ::testing::PrintToString(c.args);
    EXPECT_EQ(state.finishPageMode, c.finish) << ::testing::PrintToString(c.args);
  }
  // A switch may span two arguments: the joined text is "-a b ".
  SetupState state;
  applySwitches(InstallSwitches{"a b", "-never", "-never"}, {"-a", "b"}, state);
  EXPECT_EQ(state.installMode, Text(kDirectInstall));
}

}  // namespace
}  // namespace zul
