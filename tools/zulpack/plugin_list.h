// The project's plug-in DLLs, DIR/plugins/, compiled into the configuration
// archive's "ZULDLL_s.ini" (descriptors) and "ZULDLL.db" (the DLLs).
//
// DIR/plugins/plugins.ini (UTF-8 or GBK) names the plug-ins, one section per
// plug-in in calling order; the section's name is only a label:
//
//   [settings]                 ; optional, reserved name
//   compress = yes             ; yes (default): the DLL list is a zlib
//                              ; container; no: stored plain
//   [录音插件]
//   file = recorder.dll        ; relative to DIR/plugins; a PE DLL (32 or 64-bit)
//   export = Record            ; called once when loaded; must be exported
//   mode = install             ; install (default) or uninstall (also 0 / 1)
//   param = 整数型:-5          ; the load-time call's parameters, in order,
//   名字 = 文本型:你好         ; at most 15: "param = TYPE:VALUE", or
//   数据 = 字节集:hex 01 02 ff ; "NAME = TYPE:VALUE" with any other key
//
// Types: 整数型 (or int): a decimal 32-bit integer; 文本型 (or text): the
// rest of the line, or a double-quoted text that may hold " ;"; an empty
// text is passed as 0; 字节集 (or bytes): hexadecimal byte pairs, blanks
// allowed between pairs, an optional "hex" before them; empty is passed as 0.
// Parameter texts may use the %Name% variables of config/variable.ini: the
// installer expands the descriptors like its other configuration files.
// ";" or "#" starts a comment at the start of a line, and ";" after a blank
// outside quotes starts one after a value. Reserved key names are compared
// without regard to ASCII case.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "archive_writer.h"

namespace zul::pack {

// Appends "ZULDLL_s.ini" and "ZULDLL.db" to `config` when the project has
// plug-ins (DIR/plugins/ exists); a project without them, or whose list
// names none, gets neither file. False with `*error` naming the file (and
// the line, where one applies) and the reason when plugins.ini is missing or
// malformed, a DLL is missing or not a PE DLL without the named export, or
// DIR/config already holds one of the two files; `config` is then
// unchanged.
[[nodiscard]] bool addPlugins(const std::filesystem::path& project, std::vector<ArchiveEntry>* config,
                              std::string* error);

}  // namespace zul::pack
