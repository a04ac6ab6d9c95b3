// The package's %Name% variables, the special folders and path
// normalisation.
//
// "variable.ini" in the data folder defines the variables: each section is
// one variable, named with its percent signs, and key "数据" holds its
// value. The expansion rewrites the texts of four files of the data folder
// once, before any key is read from them.
#pragma once

#include <string_view>

#include "base/text.h"
#include "platform/file_system.h"
#include "platform/special_folders.h"
#include "startup/setup_state.h"

namespace zul {

// Joins the uninstaller's companion files in `uninstallerData`: "#！★！#".
inline constexpr std::string_view kCompanionSeparator = "#\xA3\xA1\xA1\xEF\xA3\xA1#";
// A variable whose value starts with these 10 bytes stands for the data block
// of "var_data.ini" named by the whole value: "#资源数据_".
inline constexpr std::string_view kBlockReferencePrefix = "#\xD7\xCA\xD4\xB4\xCA\xFD\xBE\xDD_";
// Left in the texts by the expansion; replaced once the install folder is
// known.
inline constexpr std::string_view kInstallPathVariable = "%InstallPath%";
// A file that the expansion would make larger than this, in bytes, keeps the
// text it had before that variable: the limit stops values that name later
// variables from growing a file without bound.
inline constexpr size_t kExpandedFileLimit = 64u * 1024 * 1024;

// Special folder 1..11 (documents, favourites, desktop, fonts, start menu,
// programs, startup, application data, Windows folder, system folder,
// temporary folder), always ending with "\". Empty when the call fails or
// the number is outside 1..11.
Text specialFolder(SpecialFolders& folders, int number);

// The first byte in upper case (ASCII letters only) and one trailing "\"
// removed: "c:\temp\" gives "C:\temp". A trailing byte "\" that is the
// second byte of a GBK character is not a separator and stays.
Text normalisePath(std::string_view path);

// Major + minor / 10 of GetVersion, for example 6.1.
double systemVersion(SpecialFolders& folders);

// Expands the variables of `dataDir` + "variable.ini" in "data.ini",
// "ZULREG.db", "ZULDLL_s.ini" and "GUItext.ini" of `dataDir`, replacing
// block references by the blocks of "var_data.ini", and sets
// `uninstallerData` from the raw companion files (also when "variable.ini"
// is missing or has no sections; then nothing else is done). Each file is rewritten through a temporary
// file and a rename, so an interruption leaves either the old or the new
// file. False when a file could not be written (the others are still
// written). `fileLimit` is the size limit of each file, in bytes.
bool expandVariables(FileSystem& fs, SpecialFolders& folders, SetupState& state,
                     size_t fileLimit = kExpandedFileLimit);

// Every occurrence of `from` in `text` replaced by `to`, left to right, the
// replaced text not searched again. An empty `from` changes nothing.
Bytes replaceAll(std::string_view text, std::string_view from, std::string_view to);

}  // namespace zul
