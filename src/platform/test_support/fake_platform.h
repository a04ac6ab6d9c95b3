// In-memory stand-ins for the process, registry and UI adapters, for native
// tests. Everything is public: tests set what the program will see and read
// back what it did.
#pragma once

#include <map>
#include <set>
#include <stdexcept>
#include <tuple>
#include <vector>

#include "platform/registry.h"
#include "platform/system.h"
#include "platform/ui.h"

namespace zul {

// Thrown by FakeSystem::terminate so that a test can observe an early end.
struct FakeProcessEnded {
  uint32_t exitCode;
};

class FakeSystem : public System {
 public:
  Text ownPath() override { return path; }
  Text commandLine() override { return line; }
  uint32_t tickCount() override { return ticks; }
  Bytes ownResource(std::string_view type, int id) override;
  Bytes ownIconFile() override { return icon; }
  bool startProcess(const Text& commandLine) override;
  bool runAndWait(const Text& commandLine, uint32_t* exitCode) override;
  [[noreturn]] void terminate(uint32_t exitCode) override { throw FakeProcessEnded{exitCode}; }
  void waitWithMessages(uint32_t ms) override { waitedMs += ms; }

  Text path = "C:\\app\\setup.exe";
  Text line = "\"C:\\app\\setup.exe\"";
  uint32_t ticks = 0x1000;
  std::map<std::pair<Text, int>, Bytes> resources;
  Bytes icon;
  std::vector<Text> started;  // command lines, in order
  uint32_t nextExitCode = 0;
  uint64_t waitedMs = 0;
};

class FakeRegistry : public Registry {
 public:
  Text readString(RegistryRoot root, const Text& key, const Text& value) override;
  Bytes readBinary(RegistryRoot root, const Text& key, const Text& value) override;
  // Stores into `strings`, `binaries` or `dwords`; fails for every key in
  // `refusedKeys`.
  bool setValue(RegistryRoot root, const Text& key, const Text& value, RegistryValueType type,
                std::string_view data) override;

  // (root, key, value name) -> data; binary values in `binaries`.
  std::map<std::tuple<RegistryRoot, Text, Text>, Text> strings;
  std::map<std::tuple<RegistryRoot, Text, Text>, Bytes> binaries;
  std::map<std::tuple<RegistryRoot, Text, Text>, uint32_t> dwords;
  std::vector<Text> refusedKeys;
  int writes = 0;  // successful setValue calls

  // Erases the value from whichever map holds it.
  bool deleteValue(RegistryRoot root, const Text& key, const Text& value) override;
  // A key exists while it holds a value or is listed in `emptyKeys`; it has
  // subkeys while a key below it exists. Erases its values.
  bool deleteKey(RegistryRoot root, const Text& key) override;

  std::set<std::pair<RegistryRoot, Text>> emptyKeys;  // keys without values
  std::vector<std::pair<RegistryRoot, Text>> deletedKeys;               // successful deleteKey calls
  std::vector<std::tuple<RegistryRoot, Text, Text>> deletedValues;      // successful deleteValue calls
};

class FakeUi : public Ui {
 public:
  void showMessage(const Text& text, const Text& title) override { messages.push_back({text, title}); }
  void pumpMessages() override { ++pumps; }

  std::vector<std::pair<Text, Text>> messages;  // (text, title)
  int pumps = 0;
};

}  // namespace zul
