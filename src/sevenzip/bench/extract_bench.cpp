// Extracts an archive with the built-in reader and prints the wall time and
// the peak resident memory, for scripts/bench.d/sevenzip-extract.sh.
//
//   zul7z_bench ARCHIVE DESTINATION [PASSWORD]     (host paths)
#include <sys/resource.h>

#include <chrono>
#include <cstdio>

#include "platform/fake/native_file_system.h"
#include "sevenzip/extractor.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: zul7z_bench ARCHIVE DESTINATION [PASSWORD]\n");
    return 2;
  }
  zul::NativeFileSystem fs("/");
  zul::sevenzip::ExtractOptions options;
  if (argc > 3) options.password = argv[3];
  zul::sevenzip::ExtractReport report;
  const auto start = std::chrono::steady_clock::now();
  const zul::sevenzip::Status status = zul::sevenzip::extract(fs, argv[1], argv[2], options, &report);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("status %d (%s)\nfiles %zu\nseconds %.3f\npeak_rss_kib %ld\n", static_cast<int>(status),
              std::string(zul::sevenzip::statusMessage(status)).c_str(), report.filesWritten, seconds,
              usage.ru_maxrss);
  return status == zul::sevenzip::Status::kOk ? 0 : 1;
}
