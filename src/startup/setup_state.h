// SetupState: everything start-up read and decided, kept for the whole run.
//
// Filled once by start-up; afterwards only the wizard and the engines change
// single fields (installDir, installMode, finishPageMode, dataDir in the
// uninstaller's second stage). Texts are GBK; bytes are empty when a file
// was missing. The window objects of the wizard live with the wizard, not
// here, so that this record stays portable.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "base/text.h"

namespace zul {

enum class RunMode : int {
  kNone = 0,
  kInstaller = 1,
  kUninstaller = 2,
};

// One entry of section "新建快捷方式参数".
struct ShortcutRecord {
  Text name;          // "参数快捷方式名" i
  Text target;        // "参数文件名" i
  Text arguments;     // "参数命令行" i
  Text location;      // "参数生成位置" i
  bool removeAtUninstall = false;  // "参数是否卸载" i
  Text icon;          // "快捷方式图标" i
  Text description;   // "快捷方式描述" i
};

// A finish-page option: a check box that opens `target` when ticked.
struct FinishOption {
  Text caption;
  Text target;        // may hold "%安装包安装位置%", replaced when carried out
  bool shown = false;
};

// A run list ("解压后运行的参数" or "卸载时运行命令") as four parallel lists of
// equal length.
struct RunList {
  std::vector<Text> external;   // "是否外部运行" i, kept as read
  std::vector<Text> file;       // "参数运行文件名" i
  std::vector<bool> hideWindow; // "是否隐藏窗口" i
  std::vector<bool> waitForExit;// "是否等待返回" i
};

struct SetupState {
  RunMode runMode = RunMode::kNone;
  Text dataDir;                 // always ends with "\" once set
  std::vector<Text> args;       // command-line arguments, program name left out
  Text productName;
  Text archiveFileName;
  Text companyName;
  Text installPasswordDigest;   // 32 lower-case hex digits, or empty
  Text payloadPassword;
  Text mainProgramName;         // relative to the install folder
  Bytes interfaceImage;
  Bytes smallInterfaceImage;
  Bytes uninstallerIcon;
  Bytes largeInterfaceImage;
  Bytes installingImage;
  bool autoAddPath = false;
  Text browseAutoAddText;
  Text productVersion;
  int32_t makeUninstaller = 0;
  Text installDir;
  Bytes registryEntries;        // decompressed registry-entry list
  std::vector<Text> baseComponents;
  Text readmeText;
  // Optional wizard pages, numbered from 1 as the pages are; [0] is unused.
  std::array<bool, 5> pageVisible{};
  Text payloadPath;
  Text configArchivePassword;
  Text installMode;             // "直接安装", "后台安装" or empty
  int32_t finishPageMode = 0;   // 0 unset, 1 show, -1 do not show
  Bytes uninstallerData;
  std::vector<ShortcutRecord> shortcutList;
  std::vector<FinishOption> finishOptions;
  RunList runAfterExtract;
  RunList runAtUninstall;
  Text windowTitle;             // product name + version + role suffix
  Bytes packerImage;            // the package's executable packer ("upx1.exe"), or empty
};

}  // namespace zul
