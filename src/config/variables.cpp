#include "config/variables.h"

#include <array>

#include "config/data_block.h"
#include "config/ini_file.h"
#include "config/package_config.h"

namespace zul {
namespace {

constexpr std::string_view kValueKey = "\xCA\xFD\xBE\xDD";  // 数据

// CSIDL numbers of special folders 1 to 8.
constexpr std::array<int, 8> kShellFolders = {5, 6, 16, 20, 11, 2, 7, 26};

// True when `path` ends with a "\" that is not the second byte of a GBK
// character.
bool endsWithSeparator(std::string_view path) {
  bool last = false;
  for (size_t i = 0; i < path.size(); ++i) {
    if (isGbkLeadByte(static_cast<unsigned char>(path[i])) && i + 1 < path.size()) {
      ++i;
      last = false;
    } else {
      last = path[i] == '\\';
    }
  }
  return last;
}

// The size of replaceAll(text, from, to), computed without building it;
// counting stops once the size is past `limit`.
uint64_t expandedSize(std::string_view text, std::string_view from, std::string_view to, uint64_t limit) {
  if (from.empty()) return text.size();
  uint64_t size = text.size();
  for (size_t at = text.find(from); at != std::string_view::npos && size <= limit;
       at = text.find(from, at + from.size())) {
    size = size - from.size() + to.size();
  }
  return size;
}

struct ExpandedFile {
  const char* name;
  Bytes bytes;
};

}  // namespace

Text specialFolder(SpecialFolders& folders, int number) {
  Text path;
  if (number >= 1 && number <= 8) {
    path = folders.shellFolder(kShellFolders[static_cast<size_t>(number - 1)]);
  } else if (number == 9) {
    path = folders.windowsFolder();
  } else if (number == 10) {
    path = folders.systemFolder();
  } else if (number == 11) {
    path = folders.tempFolder();
  }
  if (path.empty()) return {};
  return endsWithSeparator(path) ? path : path + "\\";
}

Text normalisePath(std::string_view path) {
  Text out(path);
  if (!out.empty() && out[0] >= 'a' && out[0] <= 'z') out[0] = static_cast<char>(out[0] - 'a' + 'A');
  if (endsWithSeparator(out)) out.pop_back();
  return out;
}

double systemVersion(SpecialFolders& folders) {
  const uint32_t word = folders.versionWord();
  return (word & 0xFF) + ((word >> 8) & 0xFF) / 10.0;
}

Bytes replaceAll(std::string_view text, std::string_view from, std::string_view to) {
  if (from.empty()) return Bytes(text);
  Bytes out;
  size_t done = 0;
  for (size_t at = text.find(from); at != std::string_view::npos; at = text.find(from, done)) {
    out.append(text.substr(done, at - done)).append(to);
    done = at + from.size();
  }
  out.append(text.substr(done));
  return out;
}

bool expandVariables(FileSystem& fs, SpecialFolders& folders, SetupState& state, size_t fileLimit) {
  const Text& dir = state.dataDir;
  const Text variableIni = dir + "variable.ini";
  std::array<ExpandedFile, 4> files = {{
      {"data.ini", readWholeFile(fs, dir + "data.ini")},
      {"ZULREG.db", readWholeFile(fs, dir + "ZULREG.db")},
      {"ZULDLL_s.ini", readWholeFile(fs, dir + "ZULDLL_s.ini")},
      {"GUItext.ini", {}},
  }};
  const Bytes varData = readWholeFile(fs, dir + "var_data.ini");

  // The companion files as they were before any expansion. The uninstaller
  // needs them whether or not there is anything to expand: without them it
  // cannot run at all.
  const Bytes rawVariables = readWholeFile(fs, variableIni);
  const Bytes pluginList = readWholeFile(fs, dir + "ZULDLL.db");
  state.uninstallerData.clear();
  for (const Bytes* part : {static_cast<const Bytes*>(&files[2].bytes), &pluginList, &varData, &rawVariables}) {
    state.uninstallerData.append(*part).append(kCompanionSeparator);
  }
  const std::vector<Text> names = profileSectionNames(fs, variableIni);
  if (names.empty()) return true;

  files[3].bytes = readWholeFile(fs, dir + "GUItext.ini");

  // The four key built-ins read "data.ini" as it is on disk, before this run
  // writes it back.
  const IniDocument originalData(files[0].bytes);
  const IniDocument variables(rawVariables);
  const auto setupKey = [&](std::string_view key) { return profileValue(originalData, keys::kSetupSection, key); };
  const auto builtIn = [&](const Text& name, Text* value) {
    if (name == "%ProductName%") {
      *value = setupKey(keys::kProductName);
    } else if (name == "%Version%") {
      *value = setupKey(keys::kProductVersion);
    } else if (name == "%CompanyCopyright%") {
      *value = setupKey(keys::kCompanyName);
    } else if (name == "%MainExe%") {
      *value = setupKey(keys::kMainProgramName);
    } else if (name == "%ProgramFiles%") {
      *value = replaceAll(folders.environment("ProgramFiles"), " (x86)", "");
    } else if (name == "%TempDir%") {
      *value = normalisePath(specialFolder(folders, 11));
    } else if (name == "%WindowsDir%") {
      *value = normalisePath(specialFolder(folders, 10));
    } else if (name == "%MenuDir%") {
      *value = normalisePath(specialFolder(folders, 6));
    } else if (name == "%Desktop%") {
      *value = normalisePath(specialFolder(folders, 3));
    } else if (name == "%InstallPath%") {
      *value = Text(kInstallPathVariable);
    } else if (name == "%QuickLaunch%") {
      *value = folders.environment("userprofile") +
               (systemVersion(folders) < 6 ? "\\Application Data\\Microsoft\\Internet Explorer\\Quick Launch"
                                           : "\\AppData\\Roaming\\Microsoft\\Internet Explorer\\Quick Launch");
    } else if (name == "%UserProfile%") {
      *value = folders.environment("userprofile");
    }
  };

  std::vector<Text> references;
  std::vector<Bytes> contents;
  for (const Text& name : names) {
    Text value = profileValue(variables, name, kValueKey);
    builtIn(name, &value);
    if (value.compare(0, kBlockReferencePrefix.size(), kBlockReferencePrefix) == 0) {
      references.push_back(value);
      contents.push_back(findDataBlock(varData, value));
    }
    for (ExpandedFile& file : files) {
      if (expandedSize(file.bytes, name, value, fileLimit) <= fileLimit) file.bytes = replaceAll(file.bytes, name, value);
    }
  }

  bool written = true;
  for (ExpandedFile& file : files) {
    Bytes expanded = replaceReferences(file.bytes, references, contents);
    if (expanded.size() <= fileLimit) file.bytes = std::move(expanded);
    written = replaceFile(fs, dir + file.name, file.bytes) && written;
  }
  return written;
}

}  // namespace zul
