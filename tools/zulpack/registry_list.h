// The project's registry list, DIR/registry.txt, compiled into the
// configuration archive's "ZULREG.db".
//
// The list is a text file (UTF-8 with or without a byte-order mark, or GBK),
// one item a line; leading and trailing blanks of a line are ignored:
//
//   ; a comment (also # ...); blank lines are ignored
//   [HKEY_CURRENT_USER\Software\Demo]          a key; the values below go there
//   [HKEY_CURRENT_USER\Software\Demo] remove   the same, and the values below
//                                              are removed at uninstall
//   @ = sz:text                                the key's default value
//   InstallDir = sz:%InstallPath%              name = type:data
//   Count = dword:-1                           decimal, -2147483648..4294967295
//   Blob = hex:01,02,ff                        bytes, separated by "," or blanks;
//                                              may be empty
//   "name = with sign" = sz:x                  a quoted name ("" for a quote)
//   sub\Value = sz:x                           a "\" in a name makes the part
//                                              before it a subkey
//   import = settings.reg                      anywhere, also before any key:
//                                              a registry script of the project
//                                              folder, imported whole with the
//                                              registry editor at install
//
// Roots are case-sensitive: HKEY_CLASSES_ROOT, HKEY_CURRENT_CONFIG,
// HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS, followed by a subkey.
// Types are sz, dword and hex (ASCII case ignored). "%InstallPath%" is kept
// as written; the installer replaces it by the install folder in paths,
// names and data. In a script it may stand only in key headers of 8-bit
// (REGEDIT4) text: the registry editor reads backslashes in quoted names and
// strings as escapes, and UTF-16 text is not replaced. Scripts must begin
// with REGEDIT4 or Windows Registry Editor Version 5.00. An unquoted name
// "import" is the script directive; a value of that name is written quoted.
//
// "ZULREG.db" holds the blocks "num" and, for entry i, "REGpath" i,
// "REGtype" i ("REG_SZ", "REG_BINARY", "REG_DWORD" or "file"), "REGdata" i,
// "REGoff" i ("真" or "假") and "REGname" i, each as name, 0x01, content,
// name, "end", inside the compressed container (magic 0D 0F 3E 03, the
// plain length as 32-bit little-endian, a zlib stream).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "archive_writer.h"
#include "base/text.h"

namespace zul::pack {

// One entry as the installer reads it back.
struct RegistryListEntry {
  Text path;      // GBK: root, "\", subkey; empty for a script
  Text type;      // "REG_SZ", "REG_BINARY", "REG_DWORD" or "file"
  Bytes data;     // GBK text, raw bytes, signed decimal text, or the script's bytes
  bool remove = false;  // listed for removal at uninstall
  Text name;      // GBK value name; empty for the default value and for scripts
  int line = 0;   // 1-based line of the list it came from, for messages
};

// Parses the list in `bytes`. Scripts are read from host paths relative to
// `project`. `label` names the list in messages, which read
// "label:LINE: reason". On failure `*entries` holds what was read before the bad line.
[[nodiscard]] bool parseRegistryList(std::string_view bytes, const std::filesystem::path& project,
                                     const std::string& label, std::vector<RegistryListEntry>* entries,
                                     std::string* error);

// The plain block store of `entries`, laid out so that the installer's block
// lookup (first name + 0x01, then the first name + "end" after it) reads
// every block back exactly; the layout is checked with that lookup. False,
// with `*error` naming the entry's line, when a content holds its own
// closing pattern or the entries cannot be ordered so that each reads back;
// `label` as in parseRegistryList.
[[nodiscard]] bool encodeRegistryEntries(const std::vector<RegistryListEntry>& entries, const std::string& label,
                                         Bytes* store, std::string* error);

// `plain` in the compressed container. False when it is longer than the
// container's 31-bit stated length can say or than the reader's output limit.
[[nodiscard]] bool compressContainer(std::string_view plain, Bytes* container);

// Appends "ZULREG.db" to `config` when the project has a registry list; a
// project without one gets no file. False with `*error` naming the file,
// the line and the reason when the list is malformed; also when `config`
// already holds a "ZULREG.db" (two lists would be ambiguous).
[[nodiscard]] bool addRegistryList(const std::filesystem::path& project, std::vector<ArchiveEntry>* config,
                                   std::string* error);

}  // namespace zul::pack
