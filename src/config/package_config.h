// The package's configuration keys in "data.ini" of the data folder, and the
// lists that start-up builds from them.
//
// Every value is read with readProfileString (10,239 bytes at most; a
// missing file, section or key reads as empty). A flag is true exactly when
// its text is "真"; a number is read like atoi.
#pragma once

#include <string_view>

#include "base/text.h"
#include "platform/file_system.h"
#include "startup/setup_state.h"

namespace zul {

// Section and key names (GBK).
namespace keys {
inline constexpr std::string_view kSetupSection = "\xBA\xCC\xDF\xAE\xC8\xED\xBC\xFE\xB0\xB2\xD7\xB0\xC5\xE4\xD6\xC3";  // 禾弋软件安装配置
inline constexpr std::string_view kProductName = "\xBA\xCC\xDF\xAE\xC8\xED\xBC\xFE\xC3\xFB\xB3\xC6";                  // 禾弋软件名称
inline constexpr std::string_view kArchiveFileName = "\xD1\xB9\xCB\xF5\xB0\xFC\xCE\xC4\xBC\xFE\xC3\xFB";              // 压缩包文件名
inline constexpr std::string_view kCompanyName = "\xB9\xAB\xCB\xBE\xC3\xFB\xB3\xC6";                                  // 公司名称
inline constexpr std::string_view kInstallPassword = "\xB0\xB2\xD7\xB0\xC3\xDC\xC2\xEB";                              // 安装密码
inline constexpr std::string_view kPayloadPassword = "safe";
inline constexpr std::string_view kMainProgramName = "\xB0\xFC\xC4\xDA\xB5\xC4\xB3\xCC\xD0\xF2\xC3\xFB";              // 包内的程序名
inline constexpr std::string_view kAutoAddPath = "\xD7\xD4\xB6\xAF\xCC\xED\xBC\xD3\xC2\xB7\xBE\xB6";                  // 自动添加路径
inline constexpr std::string_view kBrowseAutoAdd = "\xE4\xAF\xC0\xC0\xC4\xBF\xC2\xBC\xD7\xD4\xB6\xAF\xCC\xED\xBC\xD3";  // 浏览目录自动添加
inline constexpr std::string_view kProductVersion = "\xC8\xED\xBC\xFE\xB0\xE6\xB1\xBE";                               // 软件版本
inline constexpr std::string_view kMakeUninstaller = "\xCA\xC7\xB7\xF1\xC9\xFA\xB3\xC9\xD0\xB6\xD4\xD8\xB3\xCC\xD0\xF2";  // 是否生成卸载程序
inline constexpr std::string_view kInstallDir = "\xB0\xB2\xD7\xB0\xCE\xBB\xD6\xC3";                                   // 安装位置
inline constexpr std::string_view kBaseComponents = "\xBB\xF9\xB1\xBE\xD7\xE9\xBC\xFE\xB9\xB4\xD1\xA1";               // 基本组件勾选
inline constexpr std::string_view kPackingMode = "\xB0\xB2\xD7\xB0\xB0\xFC\xB7\xE2\xD7\xB0\xC4\xA3\xCA\xBD";          // 安装包封装模式
inline constexpr std::string_view kVolumeCount = "\xD1\xB9\xCB\xF5\xB7\xD6\xBE\xED\xCA\xFD";                          // 压缩分卷数
inline constexpr std::string_view kVolumeSize = "\xB7\xD6\xBE\xED\xB4\xF3\xD0\xA1";                                   // 分卷大小
inline constexpr std::string_view kInstallMode = "\xB0\xB2\xD7\xB0\xC4\xA3\xCA\xBD";                                  // 安装模式
inline constexpr std::string_view kShowFinishPage =
    "\xB0\xB2\xD7\xB0\xBA\xF3\xCA\xC7\xB7\xF1\xCF\xD4\xCA\xBE\xCD\xEA\xB3\xC9\xBD\xE7\xC3\xE6";  // 安装后是否显示完成界面

inline constexpr std::string_view kVisibleSection = "\xBD\xE7\xC3\xE6_\xBF\xC9\xCA\xD3";                               // 界面_可视
inline constexpr std::string_view kComponentsVisible = "\xD1\xA1\xD4\xF1\xD7\xE9\xBC\xFE\xBF\xC9\xCA\xD3";              // 选择组件可视
inline constexpr std::string_view kLocationVisible = "\xE4\xAF\xC0\xC0\xC4\xBF\xC2\xBC\xBF\xC9\xCA\xD3";                // 浏览目录可视

inline constexpr std::string_view kSwitchSection = "\xB0\xB2\xD7\xB0\xB0\xFC\xC3\xFC\xC1\xEE\xD0\xD0";  // 安装包命令行
inline constexpr std::string_view kDirectSwitch = "jp";
inline constexpr std::string_view kSilentSwitch = "hp";
inline constexpr std::string_view kHideFinishSwitch = "hideend";

inline constexpr std::string_view kCountKey = "\xD3\xFB\xD4\xCB\xD0\xD0\xB5\xC4\xB4\xCE\xCA\xFD";  // 欲运行的次数

inline constexpr std::string_view kShortcutSection = "\xD0\xC2\xBD\xA8\xBF\xEC\xBD\xDD\xB7\xBD\xCA\xBD\xB2\xCE\xCA\xFD";  // 新建快捷方式参数
inline constexpr std::string_view kShortcutName = "\xB2\xCE\xCA\xFD\xBF\xEC\xBD\xDD\xB7\xBD\xCA\xBD\xC3\xFB";  // 参数快捷方式名
inline constexpr std::string_view kShortcutTarget = "\xB2\xCE\xCA\xFD\xCE\xC4\xBC\xFE\xC3\xFB";                // 参数文件名
inline constexpr std::string_view kShortcutArguments = "\xB2\xCE\xCA\xFD\xC3\xFC\xC1\xEE\xD0\xD0";             // 参数命令行
inline constexpr std::string_view kShortcutLocation = "\xB2\xCE\xCA\xFD\xC9\xFA\xB3\xC9\xCE\xBB\xD6\xC3";      // 参数生成位置
inline constexpr std::string_view kShortcutRemove = "\xB2\xCE\xCA\xFD\xCA\xC7\xB7\xF1\xD0\xB6\xD4\xD8";        // 参数是否卸载
inline constexpr std::string_view kShortcutIcon = "\xBF\xEC\xBD\xDD\xB7\xBD\xCA\xBD\xCD\xBC\xB1\xEA";          // 快捷方式图标
inline constexpr std::string_view kShortcutDescription = "\xBF\xEC\xBD\xDD\xB7\xBD\xCA\xBD\xC3\xE8\xCA\xF6";   // 快捷方式描述

inline constexpr std::string_view kRunAfterExtractSection =
    "\xBD\xE2\xD1\xB9\xBA\xF3\xD4\xCB\xD0\xD0\xB5\xC4\xB2\xCE\xCA\xFD";  // 解压后运行的参数
inline constexpr std::string_view kRunAtUninstallSection = "\xD0\xB6\xD4\xD8\xCA\xB1\xD4\xCB\xD0\xD0\xC3\xFC\xC1\xEE";  // 卸载时运行命令
inline constexpr std::string_view kRunExternal = "\xCA\xC7\xB7\xF1\xCD\xE2\xB2\xBF\xD4\xCB\xD0\xD0";             // 是否外部运行
inline constexpr std::string_view kRunFile = "\xB2\xCE\xCA\xFD\xD4\xCB\xD0\xD0\xCE\xC4\xBC\xFE\xC3\xFB";         // 参数运行文件名
inline constexpr std::string_view kRunHideWindow = "\xCA\xC7\xB7\xF1\xD2\xFE\xB2\xD8\xB4\xB0\xBF\xDA";           // 是否隐藏窗口
inline constexpr std::string_view kRunWaitForExit = "\xCA\xC7\xB7\xF1\xB5\xC8\xB4\xFD\xB7\xB5\xBB\xD8";          // 是否等待返回

inline constexpr std::string_view kFinishMainSection =
    "\xCD\xEA\xB3\xC9\xBA\xF3\xD1\xA1\xCF\xEE_\xD6\xF7\xD4\xCB\xD0\xD0\xB3\xCC\xD0\xF2";  // 完成后选项_主运行程序
inline constexpr std::string_view kFinishProgramSection =
    "\xCD\xEA\xB3\xC9\xBA\xF3\xD1\xA1\xCF\xEE_\xD6\xB4\xD0\xD0\xB3\xCC\xD0\xF2";  // 完成后选项_执行程序
inline constexpr std::string_view kFinishWebSection =
    "\xCD\xEA\xB3\xC9\xBA\xF3\xD1\xA1\xCF\xEE_\xB7\xC3\xCE\xCA\xCD\xF8\xC2\xE7";  // 完成后选项_访问网络
inline constexpr std::string_view kFinishShow = "\xCF\xD4\xCA\xBE";                   // 显示
inline constexpr std::string_view kFinishFilePath = "\xCE\xC4\xBC\xFE\xC2\xB7\xBE\xB6";  // 文件路径
inline constexpr std::string_view kFinishCaption = "\xD1\xA1\xCF\xEE\xB1\xEA\xCC\xE2";  // 选项标题
inline constexpr std::string_view kFinishWebAddress = "\xCD\xF8\xD2\xB3\xB5\xD8\xD6\xB7";  // 网页地址

inline constexpr std::string_view kReadmeBlock = "\xD7\xD4\xCA\xF6\xCE\xC4\xB1\xBE_\xBF\xAA\xCA\xBC";  // 自述文本_开始
}  // namespace keys

// Texts the configuration uses as values.
inline constexpr std::string_view kTrue = "\xD5\xE6";  // 真
// Separates the items of a list inside one value.
inline constexpr std::string_view kListSeparator = "\xA3\xAC";  // ，
// Stands for the install folder in finish-option targets until one is run.
inline constexpr std::string_view kInstallFolderVariable = "%\xB0\xB2\xD7\xB0\xB0\xFC\xB0\xB2\xD7\xB0\xCE\xBB\xD6\xC3%";  // %安装包安装位置%
inline constexpr std::string_view kDataIni = "data.ini";

// True exactly when `value` is "真".
bool isTrue(std::string_view value);

// Key `key` of any `section` of `dataDir` + "data.ini".
Text readPackageKey(FileSystem& fs, const SetupState& state, std::string_view section, std::string_view key);

// Key `key` of section "禾弋软件安装配置" of `dataDir` + "data.ini".
Text readSetupKey(FileSystem& fs, const SetupState& state, const Text& key);

// The whole file `dataDir` + `name`; empty when it is missing.
Bytes readDataFile(FileSystem& fs, const SetupState& state, const Text& name);

// The three command-line switches of section "安装包命令行", each its key's
// value or, when that is empty, the default "-jp", "-hp", "-hideend".
struct PackageSwitches {
  Text direct;
  Text silent;
  Text hideFinish;
};
PackageSwitches readPackageSwitches(FileSystem& fs, const SetupState& state);

// The number of mebibytes after the first "-" of key "安装包封装模式"; 0
// (make no temporary payload copy) when there is no "-" or nothing after it.
int32_t packingModeMebibytes(std::string_view packingMode);

// Appends the entries 1..count of section "新建快捷方式参数" to `shortcutList`.
void readShortcutList(FileSystem& fs, SetupState& state);
// Appends the finish-page options (main program, program, web page) to
// `finishOptions`; reads `mainProgramName`, `productName` and
// `productVersion` from `state`, so call it after they are set.
void readFinishOptions(FileSystem& fs, SetupState& state);
// Appends the entries of "解压后运行的参数" to `runAfterExtract`, then those of
// "卸载时运行命令" to `runAtUninstall`; each list's four fields grow together.
void readRunLists(FileSystem& fs, SetupState& state);

// The run list of `section` in the INI file `iniPath` (the uninstaller reads
// its commands from "uninst.ini" this way).
RunList readRunListFrom(FileSystem& fs, const Text& iniPath, std::string_view section);

}  // namespace zul
