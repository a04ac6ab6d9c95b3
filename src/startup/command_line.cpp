#include "startup/command_line.h"

namespace zul {
namespace {

bool isSeparator(char c) { return static_cast<unsigned char>(c) <= 32; }

}  // namespace

std::vector<Text> splitCommandLine(std::string_view line) {
  size_t i = 0;
  // The program name: quoted to the next quote, else to the next separator.
  if (i < line.size() && line[i] == '"') {
    const size_t close = line.find('"', 1);
    i = close == std::string_view::npos ? line.size() : close + 1;
  } else {
    while (i < line.size() && !isSeparator(line[i])) ++i;
  }

  std::vector<Text> args;
  while (i < line.size()) {
    if (isSeparator(line[i])) {
      ++i;
      continue;
    }
    Text arg;
    if (line[i] == '"') {
      const size_t close = line.find('"', i + 1);
      const size_t end = close == std::string_view::npos ? line.size() : close;
      arg.assign(line.substr(i + 1, end - i - 1));
      i = close == std::string_view::npos ? line.size() : close + 1;
    } else {
      while (i < line.size() && !isSeparator(line[i]) && line[i] != '"') {
        const bool pair = isGbkLeadByte(static_cast<unsigned char>(line[i])) && i + 1 < line.size();
        arg.append(line.substr(i, pair ? 2 : 1));
        i += pair ? 2 : 1;
      }
    }
    args.push_back(std::move(arg));
  }
  return args;
}

bool isSilentUninstall(const std::vector<Text>& args) {
  return args.size() == 1 && args[0] == kSilentUninstallSwitch;
}

bool isUninstallStage(const std::vector<Text>& args) { return args.size() == 2 && args[1] == kUninstallArgument; }

bool isSilentUninstallStage(const std::vector<Text>& args) {
  return args.size() == 3 && args[1] == kUninstallArgument && args[2] == kSilentUninstallSwitch;
}

void applySwitches(const InstallSwitches& switches, const std::vector<Text>& args, SetupState& state) {
  Text joined;
  for (const Text& arg : args) joined += arg + " ";
  const auto present = [&](const Text& s) { return joined.find(s) != Text::npos; };
  if (present(switches.direct)) state.installMode = Text(kDirectInstall);
  if (present(switches.silent)) state.installMode = Text(kSilentInstall);
  if (present(switches.hideFinish)) state.finishPageMode = -1;
}

}  // namespace zul
