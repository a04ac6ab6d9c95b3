// ShellLinks through the shell's automation objects: "WScript.Shell" writes
// the links, "Shell.Application" finds an item's verbs. Each call enters and
// leaves COM on the calling thread itself, so the install may run on any
// thread.
#pragma once

#include <string>

#include "platform/shell_links.h"

namespace zul::win32 {

class Win32ShellLinks : public ShellLinks {
 public:
  bool createLink(const Text& linkPath, const ShellLinkFields& fields) override;
  void pinToTaskbar(const Text& folder, const Text& fileName, bool pin) override;
};

// String `id` of Shell32.dll's string table (at most 255 characters);
// empty when the system has none. 5386 is the "pin to taskbar" verb's
// caption, 5387 the "unpin from taskbar" one.
std::wstring shellVerbCaption(unsigned id);

// Invokes every verb of item `fileName` in `folder` whose caption equals
// `caption` exactly (an empty caption matches none). Returns how many were
// invoked successfully.
int invokeVerbsNamed(const Text& folder, const Text& fileName, const std::wstring& caption);

}  // namespace zul::win32
