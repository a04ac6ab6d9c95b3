#include "platform/special_folders.h"

namespace zul {

std::unique_ptr<SpecialFolders> makeSpecialFolders() {
  auto folders = std::make_unique<FixedSpecialFolders>();
  const Text profile = "C:\\Users\\user";
  const Text roaming = profile + "\\AppData\\Roaming";
  const Text startMenu = roaming + "\\Microsoft\\Windows\\Start Menu";
  folders->shell = {
      {5, profile + "\\Documents"},   {6, profile + "\\Favorites"},     {16, profile + "\\Desktop"},
      {20, "C:\\Windows\\Fonts"},     {11, startMenu},                  {2, startMenu + "\\Programs"},
      {7, startMenu + "\\Programs\\Startup"}, {26, roaming},
  };
  folders->windows = "C:\\Windows";
  folders->system = "C:\\Windows\\system32";
  folders->temp = profile + "\\AppData\\Local\\Temp\\";
  folders->variables = {{"programfiles", "C:\\Program Files (x86)"}, {"userprofile", profile}};
  return folders;
}

}  // namespace zul
