// The Windows registry.
#pragma once

#include <string_view>

#include "base/text.h"

namespace zul {

enum class RegistryRoot {
  kClassesRoot,
  kCurrentUser,
  kLocalMachine,
  kUsers,
  kCurrentConfig,
};

// Value types that the install engine writes, numbered as REG_* are.
enum class RegistryValueType {
  kString = 1,  // REG_SZ
  kBinary = 3,  // REG_BINARY
  kDword = 4,   // REG_DWORD
};

// The root whose name ("HKEY_CLASSES_ROOT", "HKEY_CURRENT_CONFIG",
// "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS"; case-sensitive)
// begins `path`. False when none does.
bool registryRootOf(std::string_view path, RegistryRoot* root);

class Registry {
 public:
  virtual ~Registry() = default;
  // A REG_SZ or REG_EXPAND_SZ value without its terminator; empty when the
  // key or value is missing or of another type.
  virtual Text readString(RegistryRoot root, const Text& key, const Text& value) = 0;
  // A REG_BINARY value; empty when missing or of another type.
  virtual Bytes readBinary(RegistryRoot root, const Text& key, const Text& value) = 0;

  // Opens `key` for writing, creating it and any missing parent keys, and
  // sets `value` (empty: the key's default value). `data` is the GBK text
  // for kString (stored up to its first NUL byte, with a terminator), the
  // bytes for kBinary, and exactly 4 little-endian bytes for kDword. False
  // when the key could not be opened or created or the value not set; the
  // key may then exist without the value.
  virtual bool setValue(RegistryRoot root, const Text& key, const Text& value, RegistryValueType type,
                        std::string_view data) = 0;

  // Deletes `value` of `key` (empty: the default value). False when the key
  // or the value is missing or cannot be deleted; nothing changed then.
  virtual bool deleteValue(RegistryRoot root, const Text& key, const Text& value) = 0;
  // Deletes `key` with its values when it has no subkeys. False when it is
  // missing, still has subkeys or cannot be deleted; nothing changed then.
  // An empty `key` (the root itself) is refused.
  virtual bool deleteKey(RegistryRoot root, const Text& key) = 0;
};

}  // namespace zul
