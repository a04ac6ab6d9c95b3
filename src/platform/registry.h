// The Windows registry.
#pragma once

#include "base/text.h"

namespace zul {

enum class RegistryRoot {
  kClassesRoot,
  kCurrentUser,
  kLocalMachine,
  kUsers,
  kCurrentConfig,
};

class Registry {
 public:
  virtual ~Registry() = default;
  // A REG_SZ or REG_EXPAND_SZ value without its terminator; empty when the
  // key or value is missing or of another type.
  virtual Text readString(RegistryRoot root, const Text& key, const Text& value) = 0;
  // A REG_BINARY value; empty when missing or of another type.
  virtual Bytes readBinary(RegistryRoot root, const Text& key, const Text& value) = 0;
};

}  // namespace zul
