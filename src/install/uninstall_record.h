// Names in the uninstall record "uninst.ini" and the uninstall registration:
// the installer writes them, the uninstaller reads them.
#pragma once

#include <string_view>

namespace zul::uninstall_record {

inline constexpr std::string_view kFileName = "uninst.ini";
inline constexpr std::string_view kUninstallerName = "uninst.exe";

inline constexpr std::string_view kSection = "\xC8\xED\xBC\xFE\xD0\xB6\xD4\xD8\xC5\xE4\xD6\xC3";  // 软件卸载配置
inline constexpr std::string_view kProductName = "\xC8\xED\xBC\xFE\xC3\xFB\xB3\xC6";             // 软件名称
inline constexpr std::string_view kProductVersion = "\xC8\xED\xBC\xFE\xB0\xE6\xB1\xBE";          // 软件版本
inline constexpr std::string_view kMainProgram = "\xD6\xF7\xB3\xCC\xD0\xF2\xC3\xFB";              // 主程序名
inline constexpr std::string_view kInstallFolder = "\xD0\xB6\xD4\xD8\xC2\xB7\xBE\xB6";          // 卸载路径
inline constexpr std::string_view kShortcutCount = "\xBF\xEC\xBD\xDD\xB7\xBD\xCA\xBD\xB8\xF6\xCA\xFD";  // 快捷方式个数
inline constexpr std::string_view kShortcutPrefix = "\xBF\xEC\xBD\xDD\xB7\xBD\xCA\xBD";          // 快捷方式 + i
// Block with the installed files, one full path per line; same name as the
// key above, told apart by its form.
inline constexpr std::string_view kFileListBlock = "\xD0\xB6\xD4\xD8\xC2\xB7\xBE\xB6";  // 卸载路径

// HKEY_LOCAL_MACHINE key of the registration, followed by the product name.
inline constexpr std::string_view kRegistrationKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
inline constexpr std::string_view kSmallImageValue = "\xBD\xE7\xC3\xE6\xD0\xA1\xCD\xBC\xC6\xAC";  // 界面小图片
inline constexpr std::string_view kLargeImageValue = "\xBD\xE7\xC3\xE6\xB4\xF3\xCD\xBC\xC6\xAC";  // 界面大图片

}  // namespace zul::uninstall_record
