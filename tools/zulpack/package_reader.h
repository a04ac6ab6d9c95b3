// Reads back what the package builder writes: a setup file's configuration
// archive and payload (inside the file or in volumes beside it), or a plain
// 7z archive (NAME.001: the whole split archive).
//
// Archives are read with the program's own 7z reader, straight out of the
// setup file: nothing is copied to a temporary file. Every failure comes
// back as false with a message that names the file and the reason.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/text.h"
#include "sevenzip/status.h"
#include "startup/setup_package.h"

namespace zul::pack {

struct EntryInfo {
  std::string name;  // UTF-8, '/' separated
  bool isDirectory = false;
  uint64_t size = 0;  // bytes
};

// A payload volume the package names: PRODUCT.001 ... beside the setup file.
struct VolumeInfo {
  std::string path;   // host path
  bool exists = false;
  uint64_t size = 0;  // bytes, when it exists
};

class PackageReader {
 public:
  PackageReader();
  ~PackageReader();
  PackageReader(const PackageReader&) = delete;
  PackageReader& operator=(const PackageReader&) = delete;

  // Opens the host file `path`. A file that starts with the 7z signature is
  // an archive; a file with a configuration section is a setup file, whose
  // stub must carry the resource "KEY" 250 and whose configuration archive
  // must open with the password derived from it; for a setup file data.ini
  // is read, which tells where the payload lies. Anything else is tried as a
  // 7z archive. False with `*error` set otherwise.
  [[nodiscard]] bool open(const std::string& path, std::string* error);

  // A file made of the stub and appended sections: a setup file, or an
  // uninstaller (package mode and no configuration section).
  bool isSetupFile() const { return setupFile_; }
  bool hasConfig() const { return configSection_.found; }
  const std::string& path() const { return path_; }
  uint64_t fileSize() const { return fileSize_; }

  // Files of the stub only.
  const Bytes& packageMode() const { return packageMode_; }
  uint64_t stubSize() const { return stubSize_; }
  const SectionLocation& modeSection() const { return modeSection_; }
  const SectionLocation& payloadSection() const { return payloadSection_; }
  const SectionLocation& configSection() const { return configSection_; }
  // The configuration archive's data.ini (GBK), as packaged.
  const Bytes& dataIni() const { return dataIni_; }
  // The payload's volumes: empty when the payload is inside the setup file.
  const std::vector<VolumeInfo>& volumes() const { return volumes_; }
  // The password the package carries for its payload (key "safe"), empty
  // when it carries none or when the user must type one.
  const Text& packagedPayloadPassword() const { return packagedPassword_; }
  // The MD5 (lower-case hex) of the password the user must type, or empty.
  const Text& installPasswordDigest() const { return installPasswordDigest_; }

  // The configuration archive's entries (setup files only).
  [[nodiscard]] bool listConfig(std::vector<EntryInfo>* entries, std::string* error);
  // Extracts the configuration archive into the host folder `dir`.
  [[nodiscard]] bool extractConfig(const std::string& dir, std::string* error);

  // The payload's entries, read with `password` (GBK; empty: the packaged
  // one). `*needsPassword` (may be null) is set when the payload is
  // encrypted and no working password was given.
  [[nodiscard]] bool listPayload(const Text& password, std::vector<EntryInfo>* entries, std::string* error,
                                 bool* needsPassword = nullptr);
  // Extracts the payload into the host folder `dir` with `password` (GBK;
  // empty: the packaged one). A password that does not match the package's
  // install-password digest is refused before anything is written.
  [[nodiscard]] bool extractPayload(const Text& password, const std::string& dir, std::string* error);

 private:
  class Files;
  bool openSetupFile(std::string* error);
  bool payloadSource(std::string* error) const;
  Text payloadPassword(const Text& given) const;
  std::string payloadFailure(sevenzip::Status status, const Text& password, const Text& entry) const;

  std::unique_ptr<Files> files_;
  std::string path_;
  uint64_t fileSize_ = 0;
  bool setupFile_ = false;
  Bytes packageMode_;
  uint64_t stubSize_ = 0;
  SectionLocation modeSection_, payloadSection_, configSection_;
  Text configPassword_;
  Bytes dataIni_;
  std::vector<VolumeInfo> volumes_;
  Text packagedPassword_;
  Text installPasswordDigest_;
  Text payloadArchive_;  // the path the 7z reader opens for the payload
};

// UTF-8 host path <-> the GBK path the 7z reader and FileSystem take. False
// when the path has a character that GBK cannot hold.
[[nodiscard]] bool hostPathToGbk(const std::string& hostPath, Text* gbk);

}  // namespace zul::pack
