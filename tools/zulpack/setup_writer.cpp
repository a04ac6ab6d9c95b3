#include "setup_writer.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "startup/setup_package.h"

namespace zul::pack {
namespace {

constexpr size_t kCopyBuffer = 1 << 20;

bool copyInto(std::ofstream& out, const std::string& path, bool maskSecondByte, uint64_t* done, uint64_t total,
              const std::function<void(uint64_t, uint64_t)>& progress, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = path + ": cannot be opened";
    return false;
  }
  std::vector<char> buffer(kCopyBuffer);
  bool first = true;
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const auto got = static_cast<size_t>(in.gcount());
    if (got == 0) break;
    if (first && maskSecondByte && got >= 2) buffer[1] = kConfigSignatureMask;
    first = false;
    out.write(buffer.data(), static_cast<std::streamsize>(got));
    *done += got;
    if (progress) progress(*done, total);
  }
  if (in.bad()) {
    *error = path + ": read error";
    return false;
  }
  return true;
}

}  // namespace

bool writeSetupFile(const SetupFileParts& parts, const std::string& outPath,
                    const std::function<void(uint64_t, uint64_t)>& progress, std::string* error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (fs::is_directory(outPath) || (outPath.empty() ? false : outPath.back() == '/')) {
    *error = outPath + ": a folder; -o names the setup file to write";
    return false;
  }
  const fs::path outFolder = fs::absolute(outPath, ec).parent_path();
  if (!fs::is_directory(outFolder, ec)) {
    *error = outPath + ": the folder " + outFolder.string() + " does not exist";
    return false;
  }
  uint64_t total = 0;
  for (const std::string* p : {&parts.stubPath, &parts.payloadPath, &parts.configPath}) {
    if (p->empty() && p == &parts.payloadPath) continue;
    const auto size = fs::file_size(*p, ec);
    if (ec) {
      *error = *p + ": " + ec.message();
      return false;
    }
    total += size;
  }
  const std::string temp = outPath + ".part";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) {
      *error = outPath + ": cannot be written";
      return false;
    }
    uint64_t done = 0;
    bool ok = copyInto(out, parts.stubPath, false, &done, total, progress, error);
    if (ok) {
      const Bytes mode = sectionBlockHead(kPackageModeOpen) + parts.packageMode + sectionBlockTail(kPackageModeClose);
      out.write(mode.data(), static_cast<std::streamsize>(mode.size()));
      const Bytes head = sectionBlockHead(kPayloadOpen);
      out.write(head.data(), static_cast<std::streamsize>(head.size()));
      if (!parts.payloadPath.empty()) ok = copyInto(out, parts.payloadPath, false, &done, total, progress, error);
    }
    if (ok) {
      const Bytes tail = sectionBlockTail(kPayloadClose) + sectionBlockHead(kConfigOpen);
      out.write(tail.data(), static_cast<std::streamsize>(tail.size()));
      ok = copyInto(out, parts.configPath, true, &done, total, progress, error);
    }
    if (ok) {
      const Bytes tail = sectionBlockTail(kConfigClose);
      out.write(tail.data(), static_cast<std::streamsize>(tail.size()));
      out.flush();
      if (!out) {
        *error = outPath + ": write error";
        ok = false;
      }
    }
    if (!ok) {
      out.close();
      fs::remove(temp, ec);
      return false;
    }
  }
  fs::rename(temp, outPath, ec);
  if (ec) {
    *error = outPath + ": " + ec.message();
    fs::remove(temp, ec);
    return false;
  }
  fs::permissions(outPath, fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                  fs::perm_options::add, ec);
  return true;
}

}  // namespace zul::pack
