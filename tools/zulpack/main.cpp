// zulpack: builds and inspects setup files.
//
// Exit codes: 0 success, 1 the input is bad or a file could not be read or
// written (the message names the file and the reason), 2 wrong usage.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/fake/native_file_system.h"
#include "project_builder.h"
#include "setup_writer.h"
#include "startup/setup_package.h"

#ifndef ZUL_DEFAULT_STUB
#define ZUL_DEFAULT_STUB ""
#endif

namespace {

constexpr int kOk = 0, kFailed = 1, kUsage = 2;

constexpr char kUsageText[] =
    "usage: zulpack COMMAND ...\n"
    "\n"
    "commands:\n"
    "  build DIR -o FILE [--stub STUB] [--volume-size BYTES] [--password P]\n"
    "        [--install-password P] [--packer EXE] [--threads N]\n"
    "        Builds a setup file from a project folder: DIR/config holds\n"
    "        data.ini and the other configuration files (UTF-8 or GBK),\n"
    "        DIR/payload the files to install. --volume-size keeps the payload\n"
    "        in volumes PRODUCT.001, PRODUCT.002 ... beside FILE. --password\n"
    "        encrypts the payload; --install-password also asks the user for it.\n"
    "        --packer adds an executable packer that the installer runs over\n"
    "        the uninstaller it builds (\"-d -q FILE\", \"--no-color -q -1 FILE\").\n"
    "  build -o FILE --payload ARCHIVE --config ARCHIVE [--stub STUB] [--mode TEXT]\n"
    "        Writes a setup file from ready archives: the stub, the package-mode\n"
    "        section (default \"zul-1\"), the payload and the configuration\n"
    "        archive (which must be encrypted with the stub's password).\n"
    "  STUB defaults to $ZULPACK_STUB, else the stub of this build.\n"
    "  inspect FILE\n"
    "        Prints the file's role and the offset and size of each section.\n"
    "\n"
    "exit codes: 0 success, 1 bad input or I/O failure, 2 wrong usage\n";

int usage(const char* problem) {
  if (problem) std::fprintf(stderr, "zulpack: %s\n\n", problem);
  std::fputs(kUsageText, problem ? stderr : stdout);
  return problem ? kUsage : kOk;
}

std::string defaultStub() {
  if (const char* env = std::getenv("ZULPACK_STUB"); env && *env) return env;
  return ZUL_DEFAULT_STUB;
}

// A progress line on a terminal: bytes, speed and time left.
class ProgressLine {
 public:
  ProgressLine() : enabled_(isatty(STDERR_FILENO)), start_(std::chrono::steady_clock::now()) {}
  void update(uint64_t done, uint64_t total) {
    if (!enabled_ || total == 0) return;
    const double seconds = elapsed();
    const double rate = seconds > 0 ? done / seconds : 0;
    const double left = rate > 0 ? (total - done) / rate : 0;
    std::fprintf(stderr, "\r%5.1f%%  %llu / %llu MB  %.1f MB/s  ETA %.0f s   ", 100.0 * done / total,
                 static_cast<unsigned long long>(done >> 20), static_cast<unsigned long long>(total >> 20),
                 rate / 1e6, left);
  }
  void finish() {
    if (enabled_) std::fputs("\r\033[K", stderr);
  }
  double elapsed() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }

 private:
  bool enabled_;
  std::chrono::steady_clock::time_point start_;
};

int buildFromArchives(zul::pack::SetupFileParts parts, const std::string& out) {
  if (out.empty() || parts.payloadPath.empty() || parts.configPath.empty()) {
    return usage("build needs -o, --payload and --config");
  }
  std::string error;
  if (!zul::pack::writeSetupFile(parts, out, nullptr, &error)) {
    std::fprintf(stderr, "zulpack: %s\n", error.c_str());
    return kFailed;
  }
  std::printf("%s: %llu bytes\n", out.c_str(),
              static_cast<unsigned long long>(std::filesystem::file_size(out)));
  return kOk;
}

int build(const std::vector<std::string>& args) {
  zul::pack::SetupFileParts parts;
  zul::pack::BuildOptions options;
  options.stubPath = defaultStub();
  std::string out;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") return usage(nullptr);
    if (a.rfind("-", 0) != 0) {
      if (!options.projectDir.empty()) return usage("build takes one project folder");
      options.projectDir = a;
      continue;
    }
    if (i + 1 >= args.size()) return usage(("missing value after " + a).c_str());
    const std::string& value = args[++i];
    if (a == "-o") out = value;
    else if (a == "--payload") parts.payloadPath = value;
    else if (a == "--config") parts.configPath = value;
    else if (a == "--stub") options.stubPath = value;
    else if (a == "--mode") parts.packageMode = value;
    else if (a == "--password") options.payloadPassword = value;
    else if (a == "--install-password") options.installPassword = value;
    else if (a == "--packer") options.packerPath = value;
    else if (a == "--volume-size" || a == "--threads") {
      char* end = nullptr;
      const unsigned long long n = std::strtoull(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || n == 0) return usage((a + " needs a whole number above 0").c_str());
      if (a == "--threads") options.threads = static_cast<int>(std::min(n, 64ull));
      else options.volumeSize = n;
    } else {
      return usage(("unknown option " + a).c_str());
    }
  }
  if (options.stubPath.empty()) return usage("no stub: give --stub or set ZULPACK_STUB");
  if (options.projectDir.empty()) {
    parts.stubPath = options.stubPath;
    return buildFromArchives(parts, out);
  }
  if (out.empty()) return usage("build needs -o FILE");

  ProgressLine line;
  options.outPath = out;
  options.progress = [&](uint64_t done, uint64_t total) { line.update(done, total); };
  zul::pack::BuildSummary summary;
  std::string error;
  const bool ok = zul::pack::buildProject(options, &summary, &error);
  line.finish();
  if (!ok) {
    std::fprintf(stderr, "zulpack: %s\n", error.c_str());
    return kFailed;
  }
  const double ratio = summary.payloadBytes ? 100.0 * summary.payloadArchiveBytes / summary.payloadBytes : 0;
  std::printf("%s: %llu bytes in %.1f s; payload %llu files, %llu bytes compressed to %llu (%.1f%%)", out.c_str(),
              static_cast<unsigned long long>(summary.setupBytes), line.elapsed(),
              static_cast<unsigned long long>(summary.payloadFiles), static_cast<unsigned long long>(summary.payloadBytes),
              static_cast<unsigned long long>(summary.payloadArchiveBytes), ratio);
  if (summary.volumes) std::printf(", %d volumes", summary.volumes);
  std::printf("\n");
  return kOk;
}

void printSection(const char* name, const zul::SectionLocation& where) {
  if (where.found) {
    std::printf("  %-14s offset %llu, size %llu\n", name, static_cast<unsigned long long>(where.offset),
                static_cast<unsigned long long>(where.size));
  } else {
    std::printf("  %-14s not found\n", name);
  }
}

int inspect(const std::vector<std::string>& args) {
  if (args.size() != 1 || args[0] == "--help" || args[0] == "-h") {
    return args.size() == 1 ? usage(nullptr) : usage("inspect takes one file");
  }
  const std::string& path = args[0];
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  if (ec) {
    std::fprintf(stderr, "zulpack: %s: %s\n", path.c_str(), ec.message().c_str());
    return kFailed;
  }
  zul::NativeFileSystem fs("/");
  zul::SectionReader io(fs);
  io.emptyFileRetries = 0;
  const zul::Text file = std::filesystem::absolute(path).string();
  const zul::Bytes mode = zul::readSectionForward(io, file, zul::kPackageModeOpen, zul::kPackageModeClose);
  const char* role = mode == zul::kInstallerMode ? "installer" : mode == zul::kUninstallerMode ? "uninstaller" : "none";
  std::printf("%s: %llu bytes\n", path.c_str(), static_cast<unsigned long long>(size));
  std::printf("role: %s (package mode \"%s\")\n", role, mode.c_str());
  const zul::Bytes stub = zul::readStubPart(io, file, zul::kPackageModeOpen);
  std::printf("  %-14s offset 0, size %llu\n", "stub", static_cast<unsigned long long>(stub.empty() ? size : stub.size()));
  printSection("package mode", zul::locateSectionForward(io, file, zul::kPackageModeOpen, zul::kPackageModeClose));
  printSection("payload", zul::locateSectionForward(io, file, zul::kPayloadOpen, zul::kPayloadClose));
  printSection("configuration", zul::locateSectionBackward(io, file, zul::kConfigOpen, zul::kConfigClose));
  return kOk;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage("no command");
  const std::string command = argv[1];
  const std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "--help" || command == "-h" || command == "help") return usage(nullptr);
  if (command == "build") return build(args);
  if (command == "inspect") return inspect(args);
  return usage(("unknown command " + command).c_str());
}
