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

bool FakeRegistry::deleteValue(RegistryRoot root, const Text& key, const Text& value) {
  const auto at = std::make_tuple(root, key, value);
  if (strings.erase(at) + binaries.erase(at) + dwords.erase(at) == 0) return false;
  deletedValues.push_back(at);
  return true;
}

bool FakeRegistry::deleteKey(RegistryRoot root, const Text& key) {
  if (key.empty()) return false;
  const Text below = key + "\\";
  bool exists = emptyKeys.count({root, key}) > 0;
  const auto scan = [&](const auto& values) {
    for (const auto& [at, data] : values) {
      if (std::get<0>(at) != root) continue;
      const Text& k = std::get<1>(at);
      if (k == key) exists = true;
      if (k.compare(0, below.size(), below) == 0) return false;
    }
    return true;
  };
  if (!scan(strings) || !scan(binaries) || !scan(dwords)) return false;
  for (const auto& [r, k] : emptyKeys) {
    if (r == root && k.compare(0, below.size(), below) == 0) return false;
  }
  if (!exists) return false;
  const auto erase = [&](auto& values) {
    std::erase_if(values, [&](const auto& item) { return std::get<0>(item.first) == root && std::get<1>(item.first) == key; });
  };
  erase(strings);
  erase(binaries);
  erase(dwords);
  emptyKeys.erase({root, key});
  deletedKeys.push_back({root, key});
  return true;
}

}  // namespace zul
