// The set of adapters that the portable core works through. The stub builds
// one from the Win32 implementations; native tests build one from fakes.
#pragma once

#include "platform/file_system.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "platform/ui.h"

namespace zul {

struct Platform {
  FileSystem& fs;
  System& system;
  Registry& registry;
  Ui& ui;
};

}  // namespace zul
