// The Win32 implementations of the platform interfaces.
#pragma once

#include "platform/file_system.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "platform/ui.h"

namespace zul::win32 {

class Win32FileSystem : public FileSystem {
 public:
  std::unique_ptr<RandomFile> open(const Text& path, OpenMode mode) override;
  bool exists(const Text& path) override;
  bool isDirectory(const Text& path) override;
  bool createDirectory(const Text& path) override;
  bool removeFile(const Text& path) override;
  bool removeDirectory(const Text& path) override;
  bool moveFile(const Text& from, const Text& to) override;
  std::vector<DirEntry> list(const Text& folder) override;
  bool getAttributes(const Text& path, uint32_t* attributes) override;
  bool setAttributes(const Text& path, uint32_t attributes) override;
  bool setModificationTime(const Text& path, uint64_t filetime) override;
  Text tempFolder() override;
};

class Win32System : public System {
 public:
  Text ownPath() override;
  Text commandLine() override;
  uint32_t tickCount() override;
  Bytes ownResource(std::string_view type, int id) override;
  Bytes ownIconFile() override;
  bool startProcess(const Text& commandLine) override;
  bool runAndWait(const Text& commandLine, uint32_t* exitCode) override;
  [[noreturn]] void terminate(uint32_t exitCode) override;
  void waitWithMessages(uint32_t ms) override;
};

class Win32Registry : public Registry {
 public:
  Text readString(RegistryRoot root, const Text& key, const Text& value) override;
  Bytes readBinary(RegistryRoot root, const Text& key, const Text& value) override;
  bool setValue(RegistryRoot root, const Text& key, const Text& value, RegistryValueType type,
                std::string_view data) override;
  bool deleteValue(RegistryRoot root, const Text& key, const Text& value) override;
  bool deleteKey(RegistryRoot root, const Text& key) override;
};

class Win32Ui : public Ui {
 public:
  void showMessage(const Text& text, const Text& title) override;
  void pumpMessages() override;
};

}  // namespace zul::win32
