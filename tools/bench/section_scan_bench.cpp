// Scans a large generated setup file for its sections, as an installer does
// at start-up and when it copies the payload out, and reports the speed and
// the peak memory.
//
//   section_scan_bench [FILE] [SIZE_MIB]
//
// The file (default /tmp/zul_section_bench.exe, 2048 MiB) is made once and
// kept: a stub, a payload of pseudo-random bytes and a configuration section.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/fake/native_file_system.h"
#include "startup/setup_package.h"

namespace {

void makeFile(const std::string& path, uint64_t payloadBytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  const std::string stub(300 * 1024, 'S');
  out << stub;
  const std::string mode = zul::sectionBlockHead(zul::kPackageModeOpen) + "zul-1" + zul::sectionBlockTail(zul::kPackageModeClose);
  out << mode << zul::sectionBlockHead(zul::kPayloadOpen) << zul::kSevenZipSignature;
  std::string buffer(1 << 20, '\0');
  uint64_t x = 0x9E3779B97F4A7C15ull;
  for (uint64_t written = 0; written < payloadBytes; written += buffer.size()) {
    for (size_t i = 0; i < buffer.size(); i += 8) {
      x ^= x << 13;
      x ^= x >> 7;
      x ^= x << 17;
      std::memcpy(&buffer[i], &x, 8);
    }
    out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
  }
  out << zul::sectionBlockTail(zul::kPayloadClose) << zul::sectionBlockHead(zul::kConfigOpen)
      << std::string(64 * 1024, 'c') << zul::sectionBlockTail(zul::kConfigClose);
}

double seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
  const std::string path = argc > 1 ? argv[1] : "/tmp/zul_section_bench.exe";
  const uint64_t mib = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 2048;
  std::error_code ec;
  const auto existing = std::filesystem::file_size(path, ec);
  if (ec || existing < mib * 1048576) {
    std::printf("making %s (%llu MiB)...\n", path.c_str(), static_cast<unsigned long long>(mib));
    makeFile(path, mib * 1048576);
  }
  const uint64_t size = std::filesystem::file_size(path);
  // Read the file once so that the timing measures the scan, not the disk.
  {
    std::ifstream warm(path, std::ios::binary);
    std::string buffer(1 << 24, '\0');
    while (warm.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || warm.gcount() > 0) {
    }
  }

  zul::NativeFileSystem fs("/");
  zul::SectionReader io(fs);
  const auto start = std::chrono::steady_clock::now();
  const zul::Bytes mode = zul::readSectionForward(io, path, zul::kPackageModeOpen, zul::kPackageModeClose);
  const zul::Bytes config = zul::readSectionBackward(io, path, zul::kConfigOpen, zul::kConfigClose);
  const auto payload = zul::locateSectionForward(io, path, zul::kPayloadOpen, zul::kPayloadClose);
  const double elapsed = seconds(start);

  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const double mbPerSecond = static_cast<double>(size) / 1e6 / elapsed;
  std::printf("section scan: %.0f MB in %.2f s = %.0f MB/s (target >= 1000)\n", size / 1e6, elapsed, mbPerSecond);
  std::printf("peak memory: %.1f MiB (target < 64)\n", usage.ru_maxrss / 1024.0);
  std::printf("found: mode \"%s\", configuration %zu bytes, payload %llu bytes\n", mode.c_str(), config.size(),
              static_cast<unsigned long long>(payload.size));
  const bool ok = mode == "zul-1" && payload.found && config.size() == 64 * 1024;
  return ok ? 0 : 1;
}
