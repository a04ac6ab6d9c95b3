#include "package_reader.h"

#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>

#include "config/ini_file.h"
#include "config/package_config.h"
#include "pe_resources.h"
#include "platform/crypto.h"
#include "platform/fake/native_file_system.h"
#include "sevenzip/archive.h"
#include "sevenzip/extractor.h"

namespace zul::pack {
namespace {

namespace fs = std::filesystem;

// Names under which the 7z reader sees the archives cut out of a setup
// file; no host path starts with "/\x01".
const Text kConfigArchive = "/\x01zulpack-config.7z";
const Text kPayloadArchive = "/\x01zulpack-payload.7z";

// A window [offset, offset + size) of another file, with its first bytes
// replaced by `head` (the configuration archive's repaired signature).
class SliceFile : public RandomFile {
 public:
  SliceFile(std::unique_ptr<RandomFile> file, uint64_t offset, uint64_t size, Bytes head)
      : file_(std::move(file)), offset_(offset), size_(size), head_(std::move(head)) {}
  bool size(uint64_t* bytes) override {
    *bytes = size_;
    return true;
  }
  size_t readAt(uint64_t offset, void* buffer, size_t count) override {
    if (offset >= size_) return 0;
    count = static_cast<size_t>(std::min<uint64_t>(count, size_ - offset));
    const size_t got = file_->readAt(offset_ + offset, buffer, count);
    for (size_t i = 0; i < got; ++i) {
      if (offset + i < head_.size()) static_cast<char*>(buffer)[i] = head_[static_cast<size_t>(offset + i)];
    }
    return got;
  }
  bool writeAt(uint64_t, const void*, size_t) override { return false; }

 private:
  std::unique_ptr<RandomFile> file_;
  uint64_t offset_, size_;
  Bytes head_;
};

std::string utf16ToUtf8(std::u16string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    uint32_t c = s[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  std::replace(out.begin(), out.end(), '\\', '/');
  return out;
}

std::string describe(sevenzip::Status status, const Text& entry = {}) {
  std::string message(sevenzip::statusMessage(status));
  if (!entry.empty()) message += " (first failing entry: " + gbkToUtf8(entry) + ")";
  return message;
}

// A fresh host folder removed with everything in it when the holder ends.
class TemporaryFolder {
 public:
  TemporaryFolder() {
    std::string pattern = (fs::temp_directory_path() / "zulpack-XXXXXX").string();
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~TemporaryFolder() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

bool hostPathToGbk(const std::string& hostPath, Text* gbk) {
  const Text converted = utf8ToGbk(hostPath);
  if (gbkToUtf8(converted) != hostPath) return false;
  *gbk = converted;
  return true;
}

// The host's files through the FileSystem interface, plus the archives cut
// out of the setup file under their reserved names.
class PackageReader::Files : public NativeFileSystem {
 public:
  Files() : NativeFileSystem("/") {}

  struct Slice {
    Text file;  // GBK host path of the setup file
    uint64_t offset = 0;
    uint64_t size = 0;
    Bytes head;
  };
  std::map<Text, Slice> slices;

  std::unique_ptr<RandomFile> open(const Text& path, OpenMode mode) override {
    const auto it = slices.find(path);
    if (it == slices.end()) return NativeFileSystem::open(path, mode);
    if (mode != OpenMode::kRead) return nullptr;
    auto file = NativeFileSystem::open(it->second.file, OpenMode::kRead);
    if (!file) return nullptr;
    return std::make_unique<SliceFile>(std::move(file), it->second.offset, it->second.size, it->second.head);
  }
  bool exists(const Text& path) override { return slices.count(path) != 0 || NativeFileSystem::exists(path); }
};

PackageReader::PackageReader() : files_(std::make_unique<Files>()) {}
PackageReader::~PackageReader() = default;

bool PackageReader::open(const std::string& path, std::string* error) {
  path_ = path;
  std::error_code ec;
  const fs::path absolute = fs::absolute(path, ec);
  fileSize_ = fs::file_size(absolute, ec);
  if (ec) {
    *error = path + ": " + ec.message();
    return false;
  }
  Text file;
  if (!hostPathToGbk(absolute.string(), &file)) {
    *error = path + ": the path has a character that GBK cannot hold";
    return false;
  }
  auto handle = files_->open(file, OpenMode::kRead);
  char signature[8] = {};
  if (!handle || handle->readAt(0, signature, sizeof signature) != std::min<uint64_t>(fileSize_, 8)) {
    *error = path + ": cannot be read";
    return false;
  }
  handle.reset();
  if (std::string_view(signature, 8) != kSevenZipSignature) {
    SectionReader io(*files_);
    io.emptyFileRetries = 0;
    configSection_ = locateSectionBackward(io, file, kConfigOpen, kConfigClose);
    modeSection_ = locateSectionForward(io, file, kPackageModeOpen, kPackageModeClose);
    if (configSection_.found) {
      setupFile_ = true;
      files_->slices[kConfigArchive] = {file, configSection_.offset, configSection_.size, Bytes("7z")};
      return openSetupFile(error);
    }
    if (modeSection_.found) {
      // An uninstaller: the stub and its package mode, nothing to extract.
      setupFile_ = true;
      packageMode_ = readSectionForward(io, file, kPackageModeOpen, kPackageModeClose);
      const uint64_t head = kPackageModeOpen.size() + 2;  // gap byte, marker, 0x01
      stubSize_ = modeSection_.offset >= head ? modeSection_.offset - head : 0;
      return true;
    }
  }
  payloadArchive_ = file;
  sevenzip::ByteSource source;
  sevenzip::Archive archive;
  sevenzip::Status status = source.open(*files_, payloadArchive_);
  if (status == sevenzip::Status::kOk) status = sevenzip::readArchive(source, "", {}, &archive);
  if (status == sevenzip::Status::kNotArchive) {
    *error = path + ": neither a setup file (no configuration section) nor a 7z archive";
    return false;
  }
  if (status != sevenzip::Status::kOk && status != sevenzip::Status::kWrongPassword) {
    *error = payloadFailure(status, "", {});
    return false;
  }
  return true;
}

bool PackageReader::openSetupFile(std::string* error) {
  const Text& file = files_->slices[kConfigArchive].file;
  SectionReader io(*files_);
  io.emptyFileRetries = 0;
  packageMode_ = readSectionForward(io, file, kPackageModeOpen, kPackageModeClose);
  const Bytes stub = readStubPart(io, file, kPackageModeOpen);
  stubSize_ = stub.size();
  if (stub.empty()) {
    *error = path_ + ": no package-mode section, so the stub part cannot be told apart";
    return false;
  }
  switch (configArchivePasswordOf(stub, &configPassword_)) {
    case PeStatus::kOk: break;
    case PeStatus::kNotPe: *error = path_ + ": the stub part is not a Windows executable"; return false;
    case PeStatus::kCorrupt: *error = path_ + ": the stub part's resources are damaged"; return false;
    case PeStatus::kNotFound: *error = path_ + ": the stub part has no resource KEY 250"; return false;
  }
  payloadSection_ = locateSectionForward(io, file, kPayloadOpen, kPayloadClose);
  // A payload that carries another setup file stored without compression
  // holds that file's markers too, so the first closing marker after the
  // opening one may be the inner file's. The real one ends the payload block
  // right before the configuration block.
  const uint64_t configBlock = configSection_.offset - (kConfigOpen.size() + 2);  // gap byte, marker, 0x01
  const Bytes close = Bytes(kPayloadClose) + '\x01';
  if (payloadSection_.found && configBlock >= payloadSection_.offset + close.size()) {
    Bytes tail(close.size(), '\0');
    const uint64_t closeAt = configBlock - close.size();
    auto handle = files_->open(file, OpenMode::kRead);
    if (handle && handle->readAt(closeAt, tail.data(), tail.size()) == tail.size() && tail == close) {
      payloadSection_.size = closeAt - payloadSection_.offset;
    }
  }

  TemporaryFolder scratch;
  Text scratchGbk;
  if (scratch.path().empty() || !hostPathToGbk(scratch.path(), &scratchGbk)) {
    *error = "cannot create a temporary folder";
    return false;
  }
  sevenzip::ExtractOptions options;
  options.password = configPassword_;
  options.select = [](const Text& name) { return asciiLower(name) == kDataIni; };
  sevenzip::ExtractReport report;
  const sevenzip::Status status = sevenzip::extract(*files_, kConfigArchive, scratchGbk, options, &report);
  if (status == sevenzip::Status::kWrongPassword) {
    *error = path_ + ": the configuration archive does not open with the password of the stub's KEY 250";
    return false;
  }
  if (status != sevenzip::Status::kOk) {
    *error = path_ + ": configuration archive: " + describe(status, report.firstFailure);
    return false;
  }
  dataIni_ = readWholeFile(*files_, scratchGbk + "\\" + Text(kDataIni));
  if (dataIni_.empty()) {
    *error = path_ + ": the configuration archive has no data.ini";
    return false;
  }

  const IniDocument ini(dataIni_);
  const Text section(keys::kSetupSection);
  installPasswordDigest_ = profileValue(ini, section, keys::kInstallPassword);
  if (installPasswordDigest_.empty()) packagedPassword_ = profileValue(ini, section, keys::kPayloadPassword);
  const int volumeCount = toInt(profileValue(ini, section, keys::kVolumeCount));
  const bool inVolumes = volumeCount > 0 || !profileValue(ini, section, keys::kVolumeSize).empty();
  if (!inVolumes) {
    if (!payloadSection_.found) {
      *error = path_ + ": no payload section";
      return false;
    }
    files_->slices[kPayloadArchive] = {file, payloadSection_.offset, payloadSection_.size, Bytes()};
    payloadArchive_ = kPayloadArchive;
    return true;
  }
  const Text product = profileValue(ini, section, keys::kProductName);
  if (product.empty()) {
    *error = path_ + ": the payload is in volumes named after the product, but data.ini names no product";
    return false;
  }
  const fs::path folder = fs::absolute(path_).parent_path();
  for (int i = 1; i <= std::max(volumeCount, 1) && i <= 999; ++i) {
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, ".%03d", i);
    VolumeInfo volume;
    volume.path = (folder / (gbkToUtf8(product) + suffix)).string();
    std::error_code ec;
    volume.size = fs::file_size(volume.path, ec);
    volume.exists = !ec;
    if (ec) volume.size = 0;
    volumes_.push_back(volume);
  }
  if (!hostPathToGbk(volumes_.front().path, &payloadArchive_)) {
    *error = volumes_.front().path + ": the path has a character that GBK cannot hold";
    return false;
  }
  return true;
}

bool PackageReader::payloadSource(std::string* error) const {
  if (payloadArchive_.empty()) {
    *error = path_ + ": no payload";
    return false;
  }
  for (const VolumeInfo& volume : volumes_) {
    if (!volume.exists) {
      *error = path_ + ": the payload volume " + volume.path + " is missing";
      return false;
    }
  }
  return true;
}

Text PackageReader::payloadPassword(const Text& given) const { return given.empty() ? packagedPassword_ : given; }

bool PackageReader::listConfig(std::vector<EntryInfo>* entries, std::string* error) {
  if (!hasConfig()) {
    *error = path_ + ": no configuration section";
    return false;
  }
  sevenzip::ByteSource source;
  sevenzip::Archive archive;
  sevenzip::Status status = source.open(*files_, kConfigArchive);
  if (status == sevenzip::Status::kOk) status = sevenzip::readArchive(source, configPassword_, {}, &archive);
  if (status != sevenzip::Status::kOk) {
    *error = path_ + ": configuration archive: " + describe(status);
    return false;
  }
  for (const sevenzip::FileEntry& f : archive.files) {
    if (!f.isAnti) entries->push_back({utf16ToUtf8(f.name), f.isDirectory, f.size});
  }
  return true;
}

bool PackageReader::extractConfig(const std::string& dir, std::string* error) {
  if (!hasConfig()) {
    *error = path_ + ": no configuration section (package mode \"" + gbkToUtf8(packageMode_) +
             "\"), so no package to extract";
    return false;
  }
  Text destination;
  if (!hostPathToGbk(dir, &destination)) {
    *error = dir + ": the path has a character that GBK cannot hold";
    return false;
  }
  sevenzip::ExtractOptions options;
  options.password = configPassword_;
  sevenzip::ExtractReport report;
  const sevenzip::Status status = sevenzip::extract(*files_, kConfigArchive, destination, options, &report);
  if (status != sevenzip::Status::kOk) {
    *error = path_ + ": configuration archive: " + describe(status, report.firstFailure);
    return false;
  }
  return true;
}

bool PackageReader::listPayload(const Text& password, std::vector<EntryInfo>* entries, std::string* error,
                                bool* needsPassword) {
  if (needsPassword) *needsPassword = false;
  if (!payloadSource(error)) return false;
  sevenzip::ByteSource source;
  sevenzip::Archive archive;
  sevenzip::Status status = source.open(*files_, payloadArchive_);
  if (status == sevenzip::Status::kOk) status = sevenzip::readArchive(source, payloadPassword(password), {}, &archive);
  if (status == sevenzip::Status::kWrongPassword && needsPassword) *needsPassword = true;
  if (status != sevenzip::Status::kOk) {
    *error = payloadFailure(status, payloadPassword(password), {});
    return false;
  }
  for (const sevenzip::FileEntry& f : archive.files) {
    if (!f.isAnti) entries->push_back({utf16ToUtf8(f.name), f.isDirectory, f.size});
  }
  return true;
}

bool PackageReader::extractPayload(const Text& password, const std::string& dir, std::string* error) {
  if (!installPasswordDigest_.empty()) {
    if (password.empty()) {
      *error = path_ + ": the payload is protected by an install password; give it with --password";
      return false;
    }
    if (md5Hex(password) != asciiLower(installPasswordDigest_)) {
      *error = path_ + ": wrong password (it does not match the package's install password)";
      return false;
    }
  }
  if (!payloadSource(error)) return false;
  Text destination;
  if (!hostPathToGbk(dir, &destination)) {
    *error = dir + ": the path has a character that GBK cannot hold";
    return false;
  }
  sevenzip::ExtractOptions options;
  options.password = payloadPassword(password);
  sevenzip::ExtractReport report;
  const sevenzip::Status status = sevenzip::extract(*files_, payloadArchive_, destination, options, &report);
  if (status != sevenzip::Status::kOk) {
    *error = payloadFailure(status, options.password, report.firstFailure);
    return false;
  }
  return true;
}

std::string PackageReader::payloadFailure(sevenzip::Status status, const Text& password, const Text& entry) const {
  std::string message = path_ + (setupFile_ ? ": payload: " : ": ");
  if (status == sevenzip::Status::kWrongPassword && password.empty()) {
    return message + "encrypted; give its password with --password";
  }
  message += describe(status, entry);
  if (status == sevenzip::Status::kTruncated && !setupFile_ && path_.size() > 4 &&
      path_.compare(path_.size() - 4, 4, ".001") == 0) {
    // The reader stops at the first number that is missing: name it.
    const std::string stem = path_.substr(0, path_.size() - 3);
    char number[8];
    for (int next = 2; next < 1000; ++next) {
      std::snprintf(number, sizeof number, "%03d", next);
      if (!fs::exists(stem + number)) break;
    }
    message += "; " + stem + number + " is missing, or the volume before it is cut";
  }
  return message;
}

}  // namespace zul::pack
