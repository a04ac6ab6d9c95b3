#include "plugins/win32/host_callback.h"

#include <cstring>
#include <string>

#include "platform/win32/wide.h"
#include "plugins/keep_list.h"

namespace zul::win32 {
namespace {

struct UninstallRecord {
  Text name, version, footer, installDir;
  UninstallInfo info{};
};

UninstallRecord& record() {
  static UninstallRecord* r = new UninstallRecord;  // never destroyed: plug-ins may read it at exit
  return *r;
}

std::vector<Text>& keep() {
  static std::vector<Text>* list = new std::vector<Text>;
  return *list;
}

}  // namespace

void setUninstallInfo(HWND hostWindow, const Text& productName, const Text& productVersion,
                      const Text& footerNotice, const Text& installDir) {
  UninstallRecord& r = record();
  r.name = productName;
  r.version = productVersion;
  r.footer = footerNotice;
  r.installDir = installDir;
  r.info = {hostWindow, r.name.c_str(), r.version.c_str(), r.footer.c_str(), r.installDir.c_str()};
}

const std::vector<Text>& keepList() { return keep(); }

intptr_t __stdcall HostCallback(int32_t command, intptr_t argument, int32_t) {
  switch (command) {
    case 2001:
      return reinterpret_cast<intptr_t>(&record().info);
    case 2002: {
      const char* text = reinterpret_cast<const char*>(argument);
      keep() = text ? parseKeepList(std::string_view(text, strnlen(text, kMaxKeepListText))) : std::vector<Text>{};
      return 0;
    }
    default:
      return 0;
  }
}

UniqueWindow createDiscoveryWindow(HWND host) {
  const Text title =
      kDiscoveryTitlePrefix + std::to_string(reinterpret_cast<uintptr_t>(reinterpret_cast<void*>(&HostCallback)));
  return UniqueWindow(CreateWindowExW(WS_EX_TRANSPARENT, L"Static", toWide(title).c_str(),
                                      WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, -999, -999, 0, 0, host, nullptr,
                                      GetModuleHandleW(nullptr), nullptr));
}

}  // namespace zul::win32
