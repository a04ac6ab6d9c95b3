// The uninstaller an install leaves behind: the record "uninst.ini", the
// registration in the system's list of installed programs, and "uninst.exe"
// (the stub part of the running setup file with the uninstaller's icon,
// companion data and version resource, marked as an uninstaller).
#pragma once

#include <functional>

#include "platform/platform.h"
#include "platform/process_runner.h"
#include "platform/resource_updater.h"
#include "platform/text_codec.h"
#include "startup/setup_state.h"

namespace zul {

struct UninstallerServices {
  Platform& platform;
  ResourceUpdater& resources;
  TextCodec& codec;
  ProcessRunner& processes;
  std::function<void(const Text&)> reportAction;
};

// Builds all three into state.installDir and appends "uninst.ini" and
// "uninst.exe" to `installedFileList`, which it stores in the record's file
// list block. Best effort: a failed item is left incomplete and the later
// ones are still attempted.
void generateUninstaller(UninstallerServices& services, SetupState& state, Text& installedFileList);

// Runs the package's executable packer (state.packerImage, written to the
// temporary folder as "upx1.exe") over `file` on a worker thread while this
// thread keeps processing window messages; `pack` false unpacks. Does
// nothing when the package carries no packer.
void runPacker(UninstallerServices& services, const SetupState& state, const Text& file, bool pack);

// Replaces the icon group `groupName` of `exe` (and its images, RT_ICON 1
// and up) by the icon file at `iconFile`. 1 on success, 0 when the icon file
// is empty or missing (nothing changed), -1 when the update failed.
int replaceIconGroup(UninstallerServices& services, const Text& iconFile, const Text& exe, const Text& groupName,
                     uint16_t language);

// Stores `data` as resource `type` / `name` (language neutral) of `exe`.
bool putDataResource(UninstallerServices& services, const Text& exe, std::string_view data, const Text& type,
                     uint16_t name);

// The value of key "快捷方式" + i for a shortcut: each location, normalised,
// then "\", the name and ".lnk，".
Text shortcutRecordValue(const ShortcutRecord& shortcut);

}  // namespace zul
