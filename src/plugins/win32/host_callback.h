// What the uninstaller offers plug-ins: HostCallback, the UninstallInfo
// record it hands out, the keep list plug-ins set through it, and the
// discovery window through which a plug-in finds the callback.
//
// All of it is process-wide: a plug-in reaches the callback through a bare
// function address, which carries no context.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "base/text.h"
#include "platform/win32/unique_handle.h"

namespace zul::win32 {

// Five pointer-sized fields (32-bit in the stub that ships), in this order.
// The texts are NUL-terminated GBK, owned by the program; plug-ins only
// read them.
struct UninstallInfo {
  HWND hostWindow;
  const char* productName;
  const char* productVersion;
  const char* footerNotice;  // the Uninstall key's value "banquan"
  const char* installDir;    // normalised
};
#if defined(__i386__)
static_assert(sizeof(UninstallInfo) == 20, "plug-ins read five 32-bit fields");
#endif

// Fills the record command 2001 hands out; the texts are copied and kept
// until the process ends. Calling it again replaces the record in place, so
// an address a plug-in holds stays valid.
void setUninstallInfo(HWND hostWindow, const Text& productName, const Text& productVersion,
                      const Text& footerNotice, const Text& installDir);

// The paths (relative to the install folder) the plug-ins asked to keep,
// empty until one does; the latest request replaces earlier ones.
const std::vector<Text>& keepList();

// Commands: 2001 returns the address of the UninstallInfo record; 2002 takes
// the address of a NUL-terminated GBK text, splits it at every "," into the
// new keep list and returns 0 (a null address gives the empty list); any
// other command does nothing and returns 0. Callee pops its arguments.
intptr_t __stdcall HostCallback(int32_t command, intptr_t argument, int32_t reserved);

// The title prefix of the discovery window: "备用的传递消息x_", followed by
// HostCallback's address in decimal.
inline constexpr char kDiscoveryTitlePrefix[] = "\xB1\xB8\xD3\xC3\xB5\xC4\xB4\xAB\xB5\xDD\xCF\xFB\xCF\xA2x_";

inline void destroyWindow(HWND window) { DestroyWindow(window); }
using UniqueWindow = UniqueHandle<HWND, 0, destroyWindow>;

// Creates the zero-sized, transparent "Static" child of `host` at -999,-999
// whose title tells plug-ins where HostCallback is. Empty on failure. Keep
// it until the process ends.
UniqueWindow createDiscoveryWindow(HWND host);

}  // namespace zul::win32
