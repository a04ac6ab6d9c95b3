// Builds a setup file from a project folder:
//
//   DIR/config/   the configuration archive's files: data.ini and its
//                 companions, pictures. *.ini files may be UTF-8 or GBK;
//                 they are stored as GBK with CR LF.
//   DIR/payload/  the files to install, with their folders.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/text.h"

namespace zul::pack {

struct BuildOptions {
  std::string projectDir;
  std::string outPath;
  std::string stubPath;
  // Bytes per payload volume; 0 keeps the payload inside the setup file.
  // Volumes are named after the product ("禾弋软件名称") beside the output.
  // Without volumes, the volume keys of data.ini are emptied.
  uint64_t volumeSize = 0;
  // The payload's password, stored as key "safe" (UTF-8 on the command
  // line, GBK in the package).
  std::string payloadPassword;
  // A password the user must type: its MD5 goes to "安装密码" and the
  // payload is encrypted with it. Wins over payloadPassword.
  std::string installPassword;
  // An executable packer the installer runs over the uninstaller it builds
  // ("-d -q FILE" unpacks, "--no-color -q -1 FILE" packs); stored in the
  // configuration archive as "upx1.exe". Empty: none.
  std::string packerPath;
  int threads = 2;
  // Called with the payload bytes compressed so far and the total.
  std::function<void(uint64_t done, uint64_t total)> progress;
};

struct BuildSummary {
  uint64_t payloadBytes = 0;     // uncompressed
  uint64_t payloadFiles = 0;
  uint64_t payloadArchiveBytes = 0;  // compressed
  uint64_t setupBytes = 0;
  int volumes = 0;
};

// Writes the setup file (and volumes) or nothing: on failure returns false
// with `*error` naming the file and the reason, and leaves no output.
[[nodiscard]] bool buildProject(const BuildOptions& options, BuildSummary* summary, std::string* error);

}  // namespace zul::pack
