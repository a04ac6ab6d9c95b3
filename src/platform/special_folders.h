// The system's special folders, environment and version, as the variable
// expansion and the shortcut and uninstall steps need them.
//
// Texts are GBK. A call that fails gives the empty text. Folder paths come
// as the system gives them, with or without a trailing "\".
#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "base/text.h"

namespace zul {

class SpecialFolders {
 public:
  virtual ~SpecialFolders() = default;
  // SHGetSpecialFolderPath for a CSIDL number, without creating the folder.
  virtual Text shellFolder(int csidl) = 0;
  // GetWindowsDirectory, GetSystemDirectory, GetTempPath.
  virtual Text windowsFolder() = 0;
  // GetSystemWindowsDirectory: the Windows folder shared by every user. In a
  // remote desktop session windowsFolder() may name a private folder of the
  // user instead; programs of the system are started from this one.
  virtual Text sharedWindowsFolder() = 0;
  virtual Text systemFolder() = 0;
  virtual Text tempFolder() = 0;
  // An environment variable; names ignore ASCII case. Empty when unset.
  virtual Text environment(const Text& name) = 0;
  // GetVersion's result: major version in the low byte of the low word,
  // minor version in its high byte.
  virtual uint32_t versionWord() = 0;
};

// Values set by hand: the native stand-in, and the fixture of portable tests
// in either tree. Anything not set reads as a failed call.
class FixedSpecialFolders : public SpecialFolders {
 public:
  std::map<int, Text> shell;        // CSIDL -> path
  Text windows;
  Text system;
  Text temp;
  std::map<Text, Text> variables;   // lower-case name -> value
  uint32_t version = 0x1DB10106;    // 6.1, as Windows 7 reports it

  Text shellFolder(int csidl) override {
    const auto it = shell.find(csidl);
    return it == shell.end() ? Text() : it->second;
  }
  Text windowsFolder() override { return windows; }
  Text sharedWindowsFolder() override { return windows; }
  Text systemFolder() override { return system; }
  Text tempFolder() override { return temp; }
  Text environment(const Text& name) override {
    const auto it = variables.find(asciiLower(name));
    return it == variables.end() ? Text() : it->second;
  }
  uint32_t versionWord() override { return version; }
};

// The tree's implementation: the Win32 functions, or natively a
// FixedSpecialFolders holding the folders of a typical Windows 7 system.
std::unique_ptr<SpecialFolders> makeSpecialFolders();

}  // namespace zul
