// The command line: splitting into arguments and the install-mode switches.
#pragma once

#include <string_view>
#include <vector>

#include "base/text.h"
#include "startup/setup_state.h"

namespace zul {

// Splits a whole command line (program name first) into its arguments,
// program name left out. Bytes up to 32 separate arguments; a double quote
// starts an argument that runs to the next double quote, both removed,
// nothing escaped ("" gives an empty argument); an unquoted argument also
// ends at a double quote. Double-byte GBK characters are never split.
std::vector<Text> splitCommandLine(std::string_view commandLine);

// The package's switch texts (section "安装包命令行"); empty keys fall back
// to the defaults.
struct InstallSwitches {
  Text direct = "-jp";
  Text silent = "-hp";
  Text hideFinish = "-hideend";
};

// A switch is present when the arguments, each followed by one blank and
// joined, contain its text (case-sensitive): "-hpx" counts as "-hp", and a
// switch may span two arguments. Applied in this order: direct install,
// silent install (wins), hide the finish page.
void applySwitches(const InstallSwitches& switches, const std::vector<Text>& args, SetupState& state);

// Install-mode texts (GBK).
inline constexpr std::string_view kDirectInstall = "\xD6\xB1\xBD\xD3\xB0\xB2\xD7\xB0";  // 直接安装
inline constexpr std::string_view kSilentInstall = "\xBA\xF3\xCC\xA8\xB0\xB2\xD7\xB0";  // 后台安装
// The second-stage argument of the uninstaller.
inline constexpr std::string_view kUninstallArgument = "\xD0\xB6\xD4\xD8";  // 卸载
// The uninstaller's switch for an uninstall without questions or window.
inline constexpr std::string_view kSilentUninstallSwitch = "-hp";

// The uninstaller's first stage started as "uninst.exe -hp".
bool isSilentUninstall(const std::vector<Text>& args);
// The second stage: the install folder and "卸载", with or without "-hp".
bool isUninstallStage(const std::vector<Text>& args);
bool isSilentUninstallStage(const std::vector<Text>& args);

}  // namespace zul
