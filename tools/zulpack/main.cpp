// zulpack: builds and inspects setup files.
//
// Exit codes: 0 success, 1 the input is bad or a file could not be read or
// written (the message names the file and the reason), 2 wrong usage.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/fake/native_file_system.h"
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
    "  build -o FILE --payload ARCHIVE --config ARCHIVE [--stub STUB] [--mode TEXT]\n"
    "        Writes a setup file: the stub, the package-mode section (default\n"
    "        \"zul-1\"), the payload archive and the configuration archive.\n"
    "        STUB defaults to $ZULPACK_STUB, else the stub of this build.\n"
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

int build(const std::vector<std::string>& args) {
  zul::pack::SetupFileParts parts;
  parts.stubPath = defaultStub();
  std::string out;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") return usage(nullptr);
    if (i + 1 >= args.size()) return usage(("missing value after " + a).c_str());
    const std::string& value = args[++i];
    if (a == "-o") out = value;
    else if (a == "--payload") parts.payloadPath = value;
    else if (a == "--config") parts.configPath = value;
    else if (a == "--stub") parts.stubPath = value;
    else if (a == "--mode") parts.packageMode = value;
    else return usage(("unknown option " + a).c_str());
  }
  if (out.empty() || parts.payloadPath.empty() || parts.configPath.empty()) {
    return usage("build needs -o, --payload and --config");
  }
  if (parts.stubPath.empty()) return usage("no stub: give --stub or set ZULPACK_STUB");
  std::string error;
  if (!zul::pack::writeSetupFile(parts, out, nullptr, &error)) {
    std::fprintf(stderr, "zulpack: %s\n", error.c_str());
    return kFailed;
  }
  std::printf("%s: %llu bytes\n", out.c_str(),
              static_cast<unsigned long long>(std::filesystem::file_size(out)));
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
