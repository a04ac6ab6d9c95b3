#include "project_builder.h"

#include <iconv.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "archive_writer.h"
#include "config/ini_file.h"
#include "config/package_config.h"
#include "pe_resources.h"
#include "platform/crypto.h"
#include "platform/fake/native_file_system.h"
#include "plugin_list.h"
#include "project_text.h"
#include "registry_list.h"
#include "setup_writer.h"
#include "startup/setup_package.h"

namespace zul::pack {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kUnixEpochAsFiletime = 116444736000000000ull;

bool readFile(const fs::path& path, std::string* data, std::string* error) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) {
    *error = path.string() + (fs::exists(path, ec) ? ": not a file" : ": missing");
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  std::ostringstream buffer;
  if (in) buffer << in.rdbuf();
  if (!in || in.bad()) {
    *error = path.string() + ": cannot be read";
    return false;
  }
  *data = buffer.str();
  return true;
}

// UTF-8 (host names, command-line texts) to GBK; false when a character has
// no GBK form.
bool strictGbk(std::string_view utf8, Text* gbk) {
  iconv_t cd = iconv_open("GBK", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string out(utf8.size() * 2 + 4, '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = utf8.size(), outLeft = out.size();
  char* dst = out.data();
  const bool ok = iconv(cd, &in, &inLeft, &dst, &outLeft) != static_cast<size_t>(-1);
  iconv_close(cd);
  if (ok) *gbk = out.substr(0, dst - out.data());
  return ok;
}

uint64_t filetimeOf(const fs::path& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return 0;
  return kUnixEpochAsFiletime + static_cast<uint64_t>(st.st_mtim.tv_sec) * 10000000 + st.st_mtim.tv_nsec / 100;
}

// The payload folder as archive entries, in a stable order.
bool payloadEntries(const fs::path& root, std::vector<ArchiveEntry>* entries, BuildSummary* summary,
                    std::string* error) {
  std::vector<fs::path> paths;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    paths.push_back(it->path());
  }
  if (ec) {
    *error = root.string() + ": " + ec.message();
    return false;
  }
  std::sort(paths.begin(), paths.end());
  for (const fs::path& path : paths) {
    ArchiveEntry entry;
    const std::string relative = fs::relative(path, root).generic_string();
    if (!strictGbk(relative, &entry.name)) {
      *error = path.string() + ": the name has a character that GBK cannot hold";
      return false;
    }
    std::replace(entry.name.begin(), entry.name.end(), '/', '\\');
    entry.isDirectory = fs::is_directory(path);
    if (!entry.isDirectory) {
      entry.hostPath = path.string();
      summary->payloadBytes += fs::file_size(path, ec);
      ++summary->payloadFiles;
    }
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && !(st.st_mode & S_IWUSR)) entry.attributes |= 0x1;  // read-only
    entry.mtime = filetimeOf(path);
    entries->push_back(std::move(entry));
  }
  return true;
}

// The configuration folder's files: *.ini converted to GBK, the rest as is.
bool configEntries(const fs::path& root, std::vector<ArchiveEntry>* entries, std::string* error) {
  std::error_code ec;
  for (const auto& item : fs::directory_iterator(root, ec)) {
    if (!item.is_regular_file()) continue;
    ArchiveEntry entry;
    if (!strictGbk(item.path().filename().string(), &entry.name)) {
      *error = item.path().string() + ": the name has a character that GBK cannot hold";
      return false;
    }
    std::string data;
    if (!readFile(item.path(), &data, error)) return false;
    // The compiled plug-in descriptors (from an extracted package) hold
    // byte parameters: their bytes are carried as they are.
    const bool text = item.path().extension() == ".ini" && asciiLower(entry.name) != "zuldll_s.ini";
    if (text && !toPackageText(data, &entry.data, error)) {
      *error = item.path().string() + ": " + *error;
      return false;
    }
    if (!text) entry.data = std::move(data);
    entry.mtime = filetimeOf(item.path());
    entries->push_back(std::move(entry));
  }
  if (ec) *error = root.string() + ": " + ec.message();
  return !ec;
}

ArchiveEntry* findEntry(std::vector<ArchiveEntry>& entries, std::string_view name) {
  for (ArchiveEntry& e : entries) {
    if (asciiLower(e.name) == asciiLower(name)) return &e;
  }
  return nullptr;
}

// Removes the files named in the destructor unless released: the build's
// temporary archives, and its outputs after a failure.
struct Cleanup {
  std::vector<fs::path> paths;
  ~Cleanup() {
    std::error_code ec;
    for (const fs::path& p : paths) fs::remove(p, ec);
  }
};

}  // namespace

bool buildProject(const BuildOptions& options, BuildSummary* summary, std::string* error) {
  const fs::path project(options.projectDir);
  const fs::path configDir = project / "config", payloadDir = project / "payload";
  if (!fs::is_directory(configDir)) {
    *error = configDir.string() + ": missing (the project needs config/data.ini)";
    return false;
  }
  if (!fs::is_regular_file(configDir / "data.ini")) {
    *error = (configDir / "data.ini").string() + ": missing";
    return false;
  }
  if (!fs::is_directory(payloadDir)) {
    *error = payloadDir.string() + ": missing (the project needs a payload folder)";
    return false;
  }

  if (fs::is_directory(options.outPath) || (options.outPath.empty() ? false : options.outPath.back() == '/')) {
    *error = options.outPath + ": a folder; -o names the setup file to write";
    return false;
  }
  const fs::path outFolder = fs::absolute(options.outPath).parent_path();
  if (!fs::is_directory(outFolder)) {
    *error = options.outPath + ": the folder " + outFolder.string() + " does not exist";
    return false;
  }

  std::string stub;
  if (!readFile(options.stubPath, &stub, error)) return false;
  // A setup file given as the stub would keep its own sections ahead of the
  // new ones, and the installer reads the first.
  if (stub.find(Bytes(kPackageModeOpen) + '\x01') != std::string::npos) {
    *error = options.stubPath + ": already a setup file or an uninstaller; give the bare stub";
    return false;
  }
  Text configPassword;
  if (configArchivePasswordOf(stub, &configPassword) != PeStatus::kOk) {
    *error = options.stubPath + ": not a setup stub (no resource KEY 250)";
    return false;
  }

  std::vector<ArchiveEntry> config, payload;
  if (!configEntries(configDir, &config, error) || !payloadEntries(payloadDir, &payload, summary, error)) return false;
  if (!options.packerPath.empty()) {
    ArchiveEntry packer;
    packer.name = "upx1.exe";
    if (!readFile(options.packerPath, &packer.data, error)) return false;
    config.push_back(std::move(packer));
  }
  if (!addRegistryList(project, &config, error) || !addPlugins(project, &config, error)) return false;
  ArchiveEntry* dataIni = findEntry(config, "data.ini");
  IniDocument ini(dataIni->data);
  const Text section(keys::kSetupSection);
  const Text productName = ini.value(section, keys::kProductName).value_or("");

  Text payloadPassword, installPassword;
  if (!strictGbk(options.payloadPassword, &payloadPassword) || !strictGbk(options.installPassword, &installPassword)) {
    *error = "password: a character that GBK cannot hold";
    return false;
  }
  bool edited = true;
  if (!payloadPassword.empty()) {
    edited = edited && ini.setValue(section, keys::kPayloadPassword, payloadPassword);
    // The installer reads the key back through its INI reader, which drops
    // blanks at the ends and a pair of quotes: the archive would not open.
    if (edited && profileValue(ini, section, keys::kPayloadPassword) != payloadPassword) {
      *error = "--password: the installer would read it back differently (blanks at its ends or quotes around it)";
      return false;
    }
  }
  if (!installPassword.empty()) edited = edited && ini.setValue(section, keys::kInstallPassword, md5Hex(installPassword));
  const Text archivePassword = installPassword.empty() ? payloadPassword : installPassword;
  // Volume keys left from an earlier build (an extracted package, say) would
  // send the installer looking for volumes this build does not write.
  if (options.volumeSize == 0) {
    for (std::string_view key : {keys::kVolumeCount, keys::kVolumeSize}) {
      if (!profileValue(ini, section, key).empty()) edited = edited && ini.setValue(section, key, "");
    }
  }

  Cleanup temporaries, outputs;
  const std::string payloadArchive = options.outPath + ".payload.7z";
  const std::string configArchive = options.outPath + ".config.7z";
  temporaries.paths = {payloadArchive, configArchive};

  ArchiveOptions archiveOptions;
  archiveOptions.password = archivePassword;
  archiveOptions.threads = options.threads;
  archiveOptions.progress = options.progress;
  if (!writeArchive(payload, archiveOptions, payloadArchive, error)) return false;
  std::error_code ec;
  summary->payloadArchiveBytes = fs::file_size(payloadArchive, ec);

  SetupFileParts parts;
  parts.stubPath = options.stubPath;
  parts.payloadPath = payloadArchive;
  if (options.volumeSize > 0) {
    if (productName.empty()) {
      *error = (configDir / "data.ini").string() + ": volumes are named after the product, but it has no name";
      return false;
    }
    const uint64_t needed = (summary->payloadArchiveBytes + options.volumeSize - 1) / options.volumeSize;
    if (needed > 999) {
      *error = options.outPath + ": the compressed payload (" + std::to_string(summary->payloadArchiveBytes) +
               " bytes) would need " + std::to_string(needed) + " volumes of " + std::to_string(options.volumeSize) +
               " bytes; at most 999 volumes are read";
      return false;
    }
    const int count = static_cast<int>(std::max<uint64_t>(needed, 1));
    summary->volumes = count;
    edited = edited && ini.setValue(section, keys::kVolumeCount, std::to_string(count)) &&
             ini.setValue(section, keys::kVolumeSize, std::to_string(options.volumeSize));
    parts.payloadPath.clear();
  }
  if (!edited) {
    *error = (configDir / "data.ini").string() + ": could not set the build's keys";
    return false;
  }
  dataIni->data = ini.bytes();

  ArchiveOptions configOptions;
  configOptions.password = configPassword;
  if (!writeArchive(config, configOptions, configArchive, error)) return false;
  parts.configPath = configArchive;
  // The setup file is finished under a staging name before any volume
  // replaces an earlier one, and takes its own name only after the last
  // volume is in place: a failure leaves the earlier build whole.
  const std::string staged = options.outPath + ".new";
  temporaries.paths.push_back(staged);
  if (!writeSetupFile(parts, staged, nullptr, error)) return false;
  if (options.volumeSize > 0) {
    const fs::path base = fs::absolute(options.outPath).parent_path() / gbkToUtf8(productName);
    int written = 0;
    if (!splitVolumes(payloadArchive, options.volumeSize, base.string(), error, &written)) return false;
    for (int i = 1; i <= written; ++i) {
      char suffix[16];
      std::snprintf(suffix, sizeof suffix, ".%03d", i);
      outputs.paths.push_back(base.string() + suffix);
    }
    if (written != summary->volumes) {
      *error = options.outPath + ": the payload was split into " + std::to_string(written) + " volumes, not " +
               std::to_string(summary->volumes);
      return false;
    }
  }
  fs::rename(staged, options.outPath, ec);
  if (ec) {
    *error = options.outPath + ": " + ec.message();
    return false;
  }
  outputs.paths.clear();
  summary->setupBytes = fs::file_size(options.outPath, ec);
  return true;
}

}  // namespace zul::pack
