#include "plugin_list.h"

#include <iconv.h>
#include <zlib.h>

#include <cstdint>
#include <fstream>
#include <optional>
#include <sstream>
#include <string_view>

#include "config/compressed_container.h"
#include "config/variables.h"
#include "plugins/plugin_arguments.h"
#include "plugins/plugin_list.h"
#include "project_text.h"

namespace zul::pack {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kDescriptorFile = "ZULDLL_s.ini";
constexpr std::string_view kLibraryFile = "ZULDLL.db";
constexpr std::string_view kNameStart = "DLLname", kNameEnd = "DLLname_end";
constexpr std::string_view kModeStart = "DLLmd", kModeEnd = "DLLmd_end";
constexpr std::string_view kParamStart = "DLLparam", kParamEnd = "DLLparam_end";
constexpr std::string_view kParamName = "\xB2\xCE\xCA\xFD";  // 参数

struct Parameter {
  Text name;
  Text type;
  Bytes value;
};

struct Plugin {
  Text label;
  size_t line = 0;       // of the section header
  Text file;             // GBK, as written
  size_t fileLine = 0;
  Text exportName;
  size_t exportLine = 0;
  int mode = 0;
  bool modeGiven = false;
  std::vector<Parameter> parameters;
  Bytes dll;
};

struct PluginList {
  bool compress = true;
  std::vector<Plugin> plugins;
};

// Reports problems as "FILE:LINE: reason".
class Problem {
 public:
  explicit Problem(std::string file, std::string* error) : file_(std::move(file)), error_(error) {}
  bool at(size_t line, const std::string& reason) const {
    *error_ = file_ + ":" + std::to_string(line) + ": " + reason;
    return false;
  }

 private:
  std::string file_;
  std::string* error_;
};

bool readHost(const fs::path& path, std::string* data) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  *data = buffer.str();
  return !in.bad();
}

bool gbkToUtf8(std::string_view gbk, std::string* utf8) {
  iconv_t cd = iconv_open("UTF-8", "GBK");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string out(gbk.size() * 3 + 4, '\0');
  char* in = const_cast<char*>(gbk.data());
  size_t inLeft = gbk.size(), outLeft = out.size();
  char* dst = out.data();
  const bool ok = iconv(cd, &in, &inLeft, &dst, &outLeft) != static_cast<size_t>(-1);
  iconv_close(cd);
  if (ok) *utf8 = out.substr(0, dst - out.data());
  return ok;
}

// A GBK text as UTF-8 for a message; the bytes as they are when not GBK.
std::string shown(std::string_view gbk) {
  std::string utf8;
  return gbkToUtf8(gbk, &utf8) ? utf8 : std::string(gbk);
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// The line without its comment: a line whose first non-blank is ';' or '#',
// or a ';' after a blank outside double quotes. GBK trail bytes are skipped.
std::string_view withoutComment(std::string_view line) {
  const std::string_view t = trim(line);
  if (!t.empty() && (t.front() == ';' || t.front() == '#')) return {};
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const auto b = static_cast<unsigned char>(line[i]);
    if (isGbkLeadByte(b)) {
      ++i;
    } else if (b == '"') {
      quoted = !quoted;
    } else if (b == ';' && !quoted && i > 0 && (line[i - 1] == ' ' || line[i - 1] == '\t')) {
      return line.substr(0, i);
    }
  }
  return line;
}

// Offset of the first ASCII `c` that is not a GBK trail byte, or npos.
size_t findGbk(std::string_view s, char c) {
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == c) return i;
    if (isGbkLeadByte(static_cast<unsigned char>(s[i]))) ++i;
  }
  return std::string_view::npos;
}

std::optional<bool> yesNo(std::string_view v) {
  const Text s = asciiLower(v);
  if (s == "yes" || s == "true" || s == "1") return true;
  if (s == "no" || s == "false" || s == "0") return false;
  return std::nullopt;
}

bool parseInteger(std::string_view v, Text* out) {
  size_t i = 0;
  const bool negative = !v.empty() && v[0] == '-';
  if (!v.empty() && (v[0] == '-' || v[0] == '+')) i = 1;
  if (i == v.size() || v.size() - i > 10) return false;
  int64_t n = 0;
  for (; i < v.size(); ++i) {
    if (v[i] < '0' || v[i] > '9') return false;
    n = n * 10 + (v[i] - '0');
  }
  if (negative) n = -n;
  if (n < INT32_MIN || n > INT32_MAX) return false;
  *out = std::to_string(n);
  return true;
}

// "hex 01 02 ff", "0102ff" or "": byte pairs, blanks only between pairs.
bool parseHex(std::string_view v, Bytes* out) {
  if (asciiLower(v.substr(0, 3)) == "hex") v = trim(v.substr(3));
  out->clear();
  for (size_t i = 0; i < v.size();) {
    if (v[i] == ' ' || v[i] == '\t') {
      ++i;
      continue;
    }
    if (i + 1 >= v.size()) return false;
    const int hi = hexDigit(v[i]), lo = hexDigit(v[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(static_cast<char>(hi * 16 + lo));
    i += 2;
  }
  return true;
}

// The stored form of a "type:value" text, or an error reason.
bool parseParameter(std::string_view name, std::string_view text, Parameter* out, std::string* reason) {
  const size_t colon = findGbk(text, ':');
  if (colon == std::string_view::npos) {
    *reason = "expected type:value (types 整数型, 文本型, 字节集)";
    return false;
  }
  const std::string_view type = trim(text.substr(0, colon));
  std::string_view value = trim(text.substr(colon + 1));
  const Text lowerType = asciiLower(type);
  out->name = Text(name);
  if (type == kTypeInteger || lowerType == "int") {
    out->type = Text(kTypeInteger);
    if (!parseInteger(value, &out->value)) {
      *reason = "bad integer '" + shown(value) + "' (decimal, 32-bit)";
      return false;
    }
  } else if (type == kTypeText || lowerType == "text") {
    out->type = Text(kTypeText);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    if (value.find('\0') != std::string_view::npos) {
      *reason = "a text cannot hold a NUL byte";
      return false;
    }
    out->value = Bytes(value);
  } else if (type == kTypeBytes || lowerType == "bytes") {
    out->type = Text(kTypeBytes);
    if (!parseHex(value, &out->value)) {
      *reason = "bad hex '" + shown(value) + "' (byte pairs such as hex 01 02 ff)";
      return false;
    }
  } else {
    *reason = "unknown type '" + shown(type) + "' (整数型, 文本型 or 字节集)";
    return false;
  }
  return true;
}

// The first of `markers` that `s` holds, or empty: such a value would cut
// its field, line or entry short when the stub reads it back.
std::string_view heldMarker(std::string_view s, std::initializer_list<std::string_view> markers) {
  for (std::string_view m : markers) {
    if (s.find(m) != std::string_view::npos) return m;
  }
  return {};
}

std::string markerName(std::string_view m) {
  if (m == kPluginEntrySeparator) return "the entry separator";
  if (m == kParameterLineSeparator) return "the parameter line separator";
  if (m == kParameterFieldSeparator) return "the parameter field separator";
  if (m == kCompanionSeparator) return "the uninstaller's companion separator";
  return "the marker " + std::string(m);
}

bool parseList(std::string_view gbk, const Problem& problem, PluginList* list) {
  bool inSettings = false;
  Plugin* current = nullptr;
  size_t lineNumber = 0;
  for (size_t start = 0; start <= gbk.size();) {
    ++lineNumber;
    size_t end = gbk.find('\n', start);
    if (end == std::string_view::npos) end = gbk.size();
    std::string_view raw = gbk.substr(start, end - start);
    start = end + 1;
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    const std::string_view line = trim(withoutComment(raw));
    if (line.empty()) continue;

    if (line.front() == '[') {
      if (line.back() != ']' || trim(line.substr(1, line.size() - 2)).empty()) {
        return problem.at(lineNumber, "expected [name]");
      }
      const std::string_view label = trim(line.substr(1, line.size() - 2));
      inSettings = asciiLower(label) == "settings";
      current = nullptr;
      if (!inSettings) {
        if (list->plugins.size() == kMaxPluginEntries) {
          return problem.at(lineNumber, "more than " + std::to_string(kMaxPluginEntries) + " plug-ins");
        }
        current = &list->plugins.emplace_back();
        current->label = Text(label);
        current->line = lineNumber;
      }
      continue;
    }

    const size_t eq = findGbk(line, '=');
    if (eq == std::string_view::npos || trim(line.substr(0, eq)).empty()) {
      return problem.at(lineNumber, "expected key = value or [name]");
    }
    const std::string_view key = trim(line.substr(0, eq)), value = trim(line.substr(eq + 1));
    const Text lowerKey = asciiLower(key);
    if (inSettings) {
      if (lowerKey != "compress") return problem.at(lineNumber, "unknown setting '" + shown(key) + "'");
      const auto flag = yesNo(value);
      if (!flag) return problem.at(lineNumber, "compress must be yes or no");
      list->compress = *flag;
      continue;
    }
    if (!current) return problem.at(lineNumber, "a key before the first [plug-in] section");

    if (lowerKey == "file" || lowerKey == "export" || lowerKey == "mode") {
      const bool given = lowerKey == "file" ? current->fileLine != 0
                         : lowerKey == "export" ? current->exportLine != 0
                                                : current->modeGiven;
      if (given) return problem.at(lineNumber, std::string(key) + " given twice");
      if (value.empty()) return problem.at(lineNumber, std::string(key) + " is empty");
    }
    if (lowerKey == "file") {
      current->file = Text(value);
      current->fileLine = lineNumber;
    } else if (lowerKey == "export") {
      if (const auto m = heldMarker(value, {kNameEnd, kModeStart, kParamStart, kPluginEntrySeparator,
                                            kCompanionSeparator});
          !m.empty()) {
        return problem.at(lineNumber, "the export name holds " + markerName(m));
      }
      current->exportName = Text(value);
      current->exportLine = lineNumber;
    } else if (lowerKey == "mode") {
      const Text mode = asciiLower(value);
      if (mode == "install" || mode == "0") {
        current->mode = 0;
      } else if (mode == "uninstall" || mode == "1") {
        current->mode = 1;
      } else {
        return problem.at(lineNumber, "unknown mode '" + shown(value) + "' (install or uninstall)");
      }
      current->modeGiven = true;
    } else {
      if (current->parameters.size() == kArgumentSlots) {
        return problem.at(lineNumber, "more than " + std::to_string(kArgumentSlots) + " parameters");
      }
      const Text name =
          lowerKey == "param" ? Text(kParamName) + std::to_string(current->parameters.size() + 1) : Text(key);
      Parameter parameter;
      std::string reason;
      if (!parseParameter(name, value, &parameter, &reason)) return problem.at(lineNumber, reason);
      for (const Bytes& part : {parameter.name, parameter.value}) {
        const auto m = heldMarker(part, {kParamEnd, kPluginEntrySeparator, kParameterLineSeparator,
                                         kParameterFieldSeparator, kCompanionSeparator});
        if (!m.empty()) return problem.at(lineNumber, "the parameter holds " + markerName(m));
      }
      current->parameters.push_back(std::move(parameter));
    }
  }
  return true;
}

uint32_t le32(std::string_view s, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(s[at + i]);
  return v;
}
uint16_t le16(std::string_view s, size_t at) {
  return static_cast<uint16_t>(static_cast<unsigned char>(s[at]) | static_cast<unsigned char>(s[at + 1]) << 8);
}

enum class DllCheck { kOk, kNotPeDll, kNoSuchExport };

// Whether `image` is a PE32 or PE32+ DLL that exports `name`. Every offset
// is checked against the image; a malformed image is not a DLL.
DllCheck checkDll(std::string_view image, std::string_view name) {
  auto fits = [&](uint64_t at, uint64_t size) { return at <= image.size() && size <= image.size() - at; };
  if (!fits(0, 0x40) || image.substr(0, 2) != "MZ") return DllCheck::kNotPeDll;
  const uint64_t pe = le32(image, 0x3C);
  if (!fits(pe, 24) || image.substr(pe, 4) != std::string_view("PE\0\0", 4)) return DllCheck::kNotPeDll;
  const uint16_t sections = le16(image, pe + 6), optionalSize = le16(image, pe + 20);
  if (!(le16(image, pe + 22) & 0x2000)) return DllCheck::kNotPeDll;  // IMAGE_FILE_DLL
  const uint64_t optional = pe + 24;
  if (!fits(optional, optionalSize) || optionalSize < 2) return DllCheck::kNotPeDll;
  const uint16_t magic = le16(image, optional);
  if (magic != 0x10B && magic != 0x20B) return DllCheck::kNotPeDll;
  const uint64_t countAt = optional + (magic == 0x10B ? 92 : 108), dirs = countAt + 4;
  if (countAt + 4 > optional + optionalSize || le32(image, countAt) < 1 || dirs + 8 > optional + optionalSize) {
    return DllCheck::kNoSuchExport;
  }
  const uint64_t table = optional + optionalSize;
  if (!fits(table, uint64_t{sections} * 40)) return DllCheck::kNotPeDll;
  // A cut file (an interrupted copy, say) would not load.
  for (uint16_t i = 0; i < sections; ++i) {
    const uint64_t h = table + uint64_t{i} * 40;
    if (!fits(le32(image, h + 20), le32(image, h + 16))) return DllCheck::kNotPeDll;
  }
  // File offset of `size` bytes at `rva`, or nullopt.
  auto offsetOf = [&](uint64_t rva, uint64_t size) -> std::optional<uint64_t> {
    for (uint16_t i = 0; i < sections; ++i) {
      const uint64_t h = table + uint64_t{i} * 40;
      const uint64_t va = le32(image, h + 12), rawSize = le32(image, h + 16), raw = le32(image, h + 20);
      if (rva >= va && rva - va < rawSize && size <= rawSize - (rva - va) && fits(raw + (rva - va), size)) {
        return raw + (rva - va);
      }
    }
    return std::nullopt;
  };
  const auto directory = offsetOf(le32(image, dirs), 40);
  if (!directory) return DllCheck::kNoSuchExport;
  const uint64_t names = le32(image, *directory + 24);
  const auto nameTable = offsetOf(le32(image, *directory + 32), names * 4);
  if (!nameTable) return DllCheck::kNoSuchExport;
  for (uint64_t i = 0; i < names; ++i) {
    const auto at = offsetOf(le32(image, *nameTable + i * 4), name.size() + 1);
    if (at && image.substr(*at, name.size()) == name && image[*at + name.size()] == '\0') return DllCheck::kOk;
  }
  return DllCheck::kNoSuchExport;
}

Bytes joinEntries(const std::vector<Bytes>& entries) {
  Bytes out;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (i) out += kPluginEntrySeparator;
    out += entries[i];
  }
  return out;
}

// The container of `plain`. The uninstaller carries the list inside a block
// split at kCompanionSeparator, so a stream that happens to hold it is made
// again at another level.
bool compress(const Bytes& plain, Bytes* container) {
  for (int level = Z_BEST_COMPRESSION; level >= 1; --level) {
    uLongf size = compressBound(plain.size());
    Bytes stream(size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(stream.data()), &size, reinterpret_cast<const Bytef*>(plain.data()),
                  plain.size(), level) != Z_OK) {
      return false;
    }
    const auto n = static_cast<uint32_t>(plain.size());
    *container = Bytes(kContainerMagic);
    for (int i = 0; i < 4; ++i) container->push_back(static_cast<char>(n >> (8 * i)));
    container->append(stream.data(), size);
    if (container->find(kCompanionSeparator) == Bytes::npos) return true;
  }
  return false;
}

}  // namespace

bool addPlugins(const fs::path& project, std::vector<ArchiveEntry>* config, std::string* error) {
  const fs::path folder = project / "plugins";
  if (!fs::exists(folder)) return true;
  const fs::path listPath = folder / "plugins.ini";
  const Problem problem(listPath.string(), error);
  std::string raw;
  if (!readHost(listPath, &raw)) {
    *error = listPath.string() + ": missing (the plug-in folder needs its list)";
    return false;
  }
  Text gbk;
  if (!toPackageText(raw, &gbk, error)) {
    *error = listPath.string() + ": " + *error;
    return false;
  }
  PluginList list;
  if (!parseList(gbk, problem, &list)) return false;
  if (list.plugins.empty()) return true;

  std::vector<Bytes> descriptors, libraries;
  for (Plugin& plugin : list.plugins) {
    if (plugin.fileLine == 0) return problem.at(plugin.line, "[" + shown(plugin.label) + "] has no file");
    if (plugin.exportLine == 0) return problem.at(plugin.line, "[" + shown(plugin.label) + "] has no export");
    std::string hostName;
    if (!gbkToUtf8(plugin.file, &hostName)) return problem.at(plugin.fileLine, "the file name is not valid GBK");
    const fs::path dll = folder / hostName;
    if (!fs::is_regular_file(dll) || !readHost(dll, &plugin.dll)) {
      return problem.at(plugin.fileLine, dll.string() + ": missing");
    }
    switch (checkDll(plugin.dll, plugin.exportName)) {
      case DllCheck::kOk:
        break;
      case DllCheck::kNotPeDll:
        return problem.at(plugin.fileLine, dll.string() + ": not a PE DLL");
      case DllCheck::kNoSuchExport:
        return problem.at(plugin.exportLine, dll.string() + " does not export " + shown(plugin.exportName));
    }
    if (plugin.dll.find(kPluginEntrySeparator) != Bytes::npos) {
      return problem.at(plugin.fileLine, dll.string() + ": holds the plug-in entry separator and cannot be listed");
    }
    if (!list.compress && plugin.dll.find(kCompanionSeparator) != Bytes::npos) {
      return problem.at(plugin.fileLine, dll.string() +
                                             ": holds the uninstaller's companion separator; list it compressed");
    }
    Bytes parameters;
    for (size_t i = 0; i < plugin.parameters.size(); ++i) {
      const Parameter& p = plugin.parameters[i];
      if (i) parameters += kParameterLineSeparator;
      parameters += p.name + Text(kParameterFieldSeparator) + p.type + Text(kParameterFieldSeparator) + p.value;
    }
    Bytes descriptor = Text(kNameStart) + plugin.exportName + Text(kNameEnd) + Text(kModeStart) +
                       std::to_string(plugin.mode) + Text(kModeEnd) + Text(kParamStart) + parameters +
                       Text(kParamEnd);
    libraries.push_back(descriptor + plugin.dll);
    descriptors.push_back(std::move(descriptor));
  }

  for (std::string_view name : {kDescriptorFile, kLibraryFile}) {
    for (const ArchiveEntry& e : *config) {
      if (asciiLower(e.name) == asciiLower(name)) {
        *error = (project / "config" / std::string(name)).string() + ": conflicts with the plug-ins of " +
                 folder.string() + " (remove it)";
        return false;
      }
    }
  }
  ArchiveEntry descriptorFile, libraryFile;
  descriptorFile.name = Text(kDescriptorFile);
  descriptorFile.data = joinEntries(descriptors);
  libraryFile.name = Text(kLibraryFile);
  libraryFile.data = joinEntries(libraries);
  if (list.compress) {
    // The stub inflates at most this much, whatever the container states.
    if (libraryFile.data.size() > kContainerOutputLimit) {
      *error = folder.string() + ": the plug-ins exceed " + std::to_string(kContainerOutputLimit) +
               " bytes, too large for a compressed list (compress = no)";
      return false;
    }
    Bytes container;
    if (!compress(libraryFile.data, &container)) {
      *error = folder.string() + ": the list cannot be compressed without the uninstaller's companion separator";
      return false;
    }
    libraryFile.data = std::move(container);
  }
  config->push_back(std::move(descriptorFile));
  config->push_back(std::move(libraryFile));
  return true;
}

}  // namespace zul::pack
