#include "platform/test_support/fake_platform.h"

namespace zul {

Bytes FakeSystem::ownResource(std::string_view type, int id) {
  const auto it = resources.find({Text(type), id});
  return it == resources.end() ? Bytes() : it->second;
}

bool FakeSystem::startProcess(const Text& commandLine) {
  started.push_back(commandLine);
  return true;
}

bool FakeSystem::runAndWait(const Text& commandLine, uint32_t* exitCode) {
  started.push_back(commandLine);
  *exitCode = nextExitCode;
  return true;
}

Text FakeRegistry::readString(RegistryRoot root, const Text& key, const Text& value) {
  const auto it = strings.find({root, key, value});
  return it == strings.end() ? Text() : it->second;
}

Bytes FakeRegistry::readBinary(RegistryRoot root, const Text& key, const Text& value) {
  const auto it = binaries.find({root, key, value});
  return it == binaries.end() ? Bytes() : it->second;
}

}  // namespace zul
