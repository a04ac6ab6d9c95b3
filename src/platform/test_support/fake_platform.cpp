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

bool FakeRegistry::setValue(RegistryRoot root, const Text& key, const Text& value, RegistryValueType type,
                            std::string_view data) {
  for (const Text& refused : refusedKeys) {
    if (refused == key) return false;
  }
  const auto at = std::make_tuple(root, key, value);
  switch (type) {
    case RegistryValueType::kString: strings[at] = Text(data.substr(0, data.find('\0'))); break;
    case RegistryValueType::kBinary: binaries[at] = Bytes(data); break;
    case RegistryValueType::kDword:
      if (data.size() != 4) return false;
      dwords[at] = static_cast<uint32_t>(static_cast<unsigned char>(data[0])) |
                   static_cast<uint32_t>(static_cast<unsigned char>(data[1])) << 8 |
                   static_cast<uint32_t>(static_cast<unsigned char>(data[2])) << 16 |
                   static_cast<uint32_t>(static_cast<unsigned char>(data[3])) << 24;
      break;
  }
  ++writes;
  return true;
}

}  // namespace zul
