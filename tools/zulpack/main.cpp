// zulpack: builds, inspects and takes apart setup files, and writes an
// example project.
//
// Exit codes: 0 success, 1 the input is bad or a file could not be read or
// written (the message names the file and the reason), 2 wrong usage.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "config/ini_file.h"
#include "config/package_config.h"
#include "package_reader.h"
#include "platform/fake/native_file_system.h"
#include "project_builder.h"
#include "project_template.h"
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
    "  init DIR                      write an example project, ready for build\n"
    "  build DIR -o FILE [options]   build a setup file from a project folder\n"
    "  extract FILE DIR [--password P]\n"
    "                                take a setup file or 7z archive apart\n"
    "  inspect FILE [--password P]   show what a setup file or 7z archive holds\n"
    "\n"
    "zulpack COMMAND --help describes one command.\n"
    "\n"
    "exit codes: 0 success, 1 bad input or I/O failure (the message names the\n"
    "file and the reason), 2 wrong usage\n";

constexpr char kBuildHelp[] =
    "usage: zulpack build DIR -o FILE [--stub STUB] [--volume-size BYTES]\n"
    "                     [--password P] [--install-password P] [--packer EXE] [--threads N]\n"
    "       zulpack build -o FILE --payload ARCHIVE --config ARCHIVE [--stub STUB] [--mode TEXT]\n"
    "\n"
    "Builds a setup file from a project folder:\n"
    "  DIR/config/        data.ini and the other configuration files and pictures;\n"
    "                     *.ini may be UTF-8 or GBK and are stored as GBK with CR LF\n"
    "  DIR/payload/       the files to install, with their folders\n"
    "  DIR/registry.txt   optional registry list (see the README)\n"
    "  DIR/plugins/       optional plug-in DLLs (see the README)\n"
    "Every file and folder name must have a GBK form.\n"
    "\n"
    "  -o FILE             the setup file; written through a temporary file, so a\n"
    "                      failure leaves no output. Its folder must exist.\n"
    "  --stub STUB         the setup stub (default $ZULPACK_STUB, else the stub of\n"
    "                      this build); it must carry the resource KEY 250\n"
    "  --volume-size BYTES keep the payload in volumes PRODUCT.001, PRODUCT.002 ...\n"
    "                      beside FILE, PRODUCT being data.ini's \"\xE7\xA6\xBE\xE5\xBC\x8B\xE8\xBD\xAF\xE4\xBB\xB6\xE5\x90\x8D\xE7\xA7\xB0\";\n"
    "                      without it, data.ini's volume keys are emptied\n"
    "  --password P        encrypt the payload; the package carries P as key \"safe\"\n"
    "  --install-password P  encrypt the payload with P and ask the user for it\n"
    "  --packer EXE        an executable packer that the installer runs over the\n"
    "                      uninstaller it builds (\"-d -q FILE\", \"--no-color -q -1 FILE\")\n"
    "  --threads N         compression threads (default 2)\n"
    "\n"
    "The second form writes a setup file from ready archives: the stub, the\n"
    "package-mode section (default \"zul-1\"), the payload and the configuration\n"
    "archive, which must be encrypted with the stub's password.\n"
    "\n"
    "exit codes: 0 success, 1 bad input or I/O failure, 2 wrong usage\n";

constexpr char kExtractHelp[] =
    "usage: zulpack extract FILE DIR [--password P]\n"
    "\n"
    "FILE is a setup file: its configuration archive goes to DIR/config and its\n"
    "payload to DIR/payload, giving back a project that build accepts. The\n"
    "configuration files come out as packaged: *.ini in GBK with CR LF, with the\n"
    "keys build added (volumes, passwords) and the files it compiled (ZULREG.db,\n"
    "ZULDLL_s.ini, ZULDLL.db) or added (upx1.exe). A payload kept in volumes\n"
    "PRODUCT.001 ... is read from beside FILE.\n"
    "FILE is a 7z archive, or the first volume NAME.001 of a split one: its\n"
    "files go to DIR.\n"
    "Names are written in UTF-8. DIR must be missing or empty; after a failure\n"
    "it is left as it was.\n"
    "\n"
    "  --password P   the payload's password, needed when the package asks the\n"
    "                 user for one or for an encrypted 7z archive\n"
    "\n"
    "exit codes: 0 success, 1 bad input, wrong password, damaged archive, missing\n"
    "volume or I/O failure, 2 wrong usage\n";

constexpr char kInspectHelp[] =
    "usage: zulpack inspect FILE [--password P]\n"
    "\n"
    "For a setup file: its role and sections, the configuration archive's files,\n"
    "the main keys of data.ini, the payload's volumes and files. For a 7z\n"
    "archive: its files. Texts are printed in UTF-8. An encrypted payload is\n"
    "listed only with its password (--password, or the one the package carries).\n"
    "\n"
    "exit codes: 0 success, 1 bad input or I/O failure, 2 wrong usage\n";

constexpr char kInitHelp[] =
    "usage: zulpack init DIR\n"
    "\n"
    "Writes an example project into DIR (missing or empty): config/data.ini with\n"
    "every section the installer reads, commented (UTF-8; build converts it to\n"
    "GBK), config/variable.ini, the wizard's pictures and the uninstaller icon,\n"
    "a payload with a small program and a readme, and registry.txt. Build it\n"
    "with: zulpack build DIR -o setup.exe\n"
    "\n"
    "exit codes: 0 success, 1 DIR not empty or not writable, 2 wrong usage\n";

int usage(const char* problem, const char* text = kUsageText) {
  if (problem) std::fprintf(stderr, "zulpack: %s\n\n", problem);
  std::fputs(text, problem ? stderr : stdout);
  return problem ? kUsage : kOk;
}

int failed(const std::string& message) {
  std::fprintf(stderr, "zulpack: %s\n", message.c_str());
  return kFailed;
}

bool isHelp(const std::string& a) { return a == "--help" || a == "-h"; }

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
    return usage("build needs -o, --payload and --config", kBuildHelp);
  }
  std::string error;
  if (!zul::pack::writeSetupFile(parts, out, nullptr, &error)) return failed(error);
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
    if (isHelp(a)) return usage(nullptr, kBuildHelp);
    if (a.rfind("-", 0) != 0) {
      if (!options.projectDir.empty()) return usage("build takes one project folder", kBuildHelp);
      options.projectDir = a;
      continue;
    }
    if (i + 1 >= args.size()) return usage(("missing value after " + a).c_str(), kBuildHelp);
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
      if (value.empty() || !std::isdigit(static_cast<unsigned char>(value[0])) || *end != '\0' || n == 0) {
        return usage((a + " needs a whole number above 0").c_str(), kBuildHelp);
      }
      if (a == "--threads") options.threads = static_cast<int>(std::min(n, 64ull));
      else options.volumeSize = n;
    } else {
      return usage(("unknown option " + a).c_str(), kBuildHelp);
    }
  }
  if (options.stubPath.empty()) return usage("no stub: give --stub or set ZULPACK_STUB", kBuildHelp);
  if (options.projectDir.empty()) {
    parts.stubPath = options.stubPath;
    return buildFromArchives(parts, out);
  }
  if (out.empty()) return usage("build needs -o FILE", kBuildHelp);

  ProgressLine line;
  options.outPath = out;
  options.progress = [&](uint64_t done, uint64_t total) { line.update(done, total); };
  zul::pack::BuildSummary summary;
  std::string error;
  const bool ok = zul::pack::buildProject(options, &summary, &error);
  line.finish();
  if (!ok) return failed(error);
  const double ratio = summary.payloadBytes ? 100.0 * summary.payloadArchiveBytes / summary.payloadBytes : 0;
  std::printf("%s: %llu bytes in %.1f s; payload %llu files, %llu bytes compressed to %llu (%.1f%%)", out.c_str(),
              static_cast<unsigned long long>(summary.setupBytes), line.elapsed(),
              static_cast<unsigned long long>(summary.payloadFiles), static_cast<unsigned long long>(summary.payloadBytes),
              static_cast<unsigned long long>(summary.payloadArchiveBytes), ratio);
  if (summary.volumes) std::printf(", %d volumes", summary.volumes);
  std::printf("\n");
  return kOk;
}

// Positional arguments and an optional --password of extract and inspect.
struct ReaderArgs {
  std::vector<std::string> positional;
  std::string password;  // UTF-8
  bool help = false;
  std::string problem;
};

ReaderArgs readerArgs(const std::vector<std::string>& args) {
  ReaderArgs r;
  for (size_t i = 0; i < args.size(); ++i) {
    if (isHelp(args[i])) {
      r.help = true;
    } else if (args[i] == "--password" || args[i] == "-p") {
      if (i + 1 >= args.size()) r.problem = "missing value after " + args[i];
      else r.password = args[++i];
    } else if (args[i].rfind("--", 0) == 0) {
      r.problem = "unknown option " + args[i];
    } else {
      r.positional.push_back(args[i]);
    }
  }
  return r;
}

bool passwordToGbk(const std::string& utf8, zul::Text* gbk) {
  if (utf8.empty()) return true;
  return zul::pack::hostPathToGbk(utf8, gbk);
}

void printSection(const char* name, const zul::SectionLocation& where) {
  if (where.found) {
    std::printf("  %-14s offset %llu, size %llu\n", name, static_cast<unsigned long long>(where.offset),
                static_cast<unsigned long long>(where.size));
  } else {
    std::printf("  %-14s not found\n", name);
  }
}

void printEntries(const std::vector<zul::pack::EntryInfo>& entries) {
  for (const auto& e : entries) {
    if (e.isDirectory) std::printf("  %12s  %s/\n", "<dir>", e.name.c_str());
    else std::printf("  %12llu  %s\n", static_cast<unsigned long long>(e.size), e.name.c_str());
  }
}

// The payload's file list, or why it cannot be shown. False only on a
// failure that is not a missing password.
bool printPayload(zul::pack::PackageReader& reader, const zul::Text& password, bool givenPassword) {
  std::vector<zul::pack::EntryInfo> entries;
  std::string error;
  bool needsPassword = false;
  if (!reader.listPayload(password, &entries, &error, &needsPassword)) {
    if (needsPassword && !givenPassword) {
      std::printf("%s: encrypted; give --password to list its files\n",
                  reader.isSetupFile() ? "payload" : "contents");
      return true;
    }
    std::fprintf(stderr, "zulpack: %s\n", error.c_str());
    return false;
  }
  uint64_t total = 0, files = 0;
  for (const auto& e : entries) {
    if (!e.isDirectory) {
      total += e.size;
      ++files;
    }
  }
  std::printf("%s: %llu files, %llu bytes\n", reader.isSetupFile() ? "payload" : "contents",
              static_cast<unsigned long long>(files),
              static_cast<unsigned long long>(total));
  printEntries(entries);
  return true;
}

void printKeys(const zul::Bytes& dataIni) {
  namespace keys = zul::keys;
  const zul::IniDocument ini(dataIni);
  const zul::Text section(keys::kSetupSection);
  const auto key = [&](std::string_view k) { return zul::gbkToUtf8(zul::profileValue(ini, section, k)); };
  std::printf("data.ini:\n");
  std::printf("  product name    %s\n", key(keys::kProductName).c_str());
  std::printf("  version         %s\n", key(keys::kProductVersion).c_str());
  std::printf("  company         %s\n", key(keys::kCompanyName).c_str());
  std::printf("  install folder  %s\n", key(keys::kInstallDir).c_str());
  std::printf("  main program    %s\n", key(keys::kMainProgramName).c_str());
  std::printf("  install mode    %s\n", key(keys::kInstallMode).c_str());
  std::printf("  packing mode    %s\n", key(keys::kPackingMode).c_str());
  const std::string count = key(keys::kVolumeCount), size = key(keys::kVolumeSize);
  if (count.empty() && size.empty()) std::printf("  volumes         none\n");
  else std::printf("  volumes         %s of %s bytes\n", count.c_str(), size.c_str());
  const bool install = !key(keys::kInstallPassword).empty(), payload = !key(keys::kPayloadPassword).empty();
  std::printf("  password        %s\n", install ? "the user must type one (install password)"
                                      : payload ? "the payload is encrypted with the packaged password"
                                                : "none");
}

int inspect(const std::vector<std::string>& args) {
  const ReaderArgs r = readerArgs(args);
  if (r.help) return usage(nullptr, kInspectHelp);
  if (!r.problem.empty()) return usage(r.problem.c_str(), kInspectHelp);
  if (r.positional.size() != 1) return usage("inspect takes one file", kInspectHelp);
  zul::Text password;
  if (!passwordToGbk(r.password, &password)) return failed("password: a character that GBK cannot hold");
  const std::string& path = r.positional[0];
  zul::pack::PackageReader reader;
  std::string error;
  if (!reader.open(path, &error)) return failed(error);
  std::printf("%s: %llu bytes\n", path.c_str(), static_cast<unsigned long long>(reader.fileSize()));
  if (!reader.isSetupFile()) {
    std::printf("role: 7z archive\n");
    return printPayload(reader, password, !password.empty()) ? kOk : kFailed;
  }
  const zul::Bytes& mode = reader.packageMode();
  const char* role = mode == zul::kInstallerMode ? "installer" : mode == zul::kUninstallerMode ? "uninstaller" : "none";
  std::printf("role: %s (package mode \"%s\")\n", role, zul::gbkToUtf8(mode).c_str());
  std::printf("  %-14s offset 0, size %llu\n", "stub", static_cast<unsigned long long>(reader.stubSize()));
  printSection("package mode", reader.modeSection());
  printSection("payload", reader.payloadSection());
  printSection("configuration", reader.configSection());
  if (!reader.hasConfig()) return kOk;

  std::vector<zul::pack::EntryInfo> config;
  if (!reader.listConfig(&config, &error)) return failed(error);
  std::printf("configuration archive: %zu files\n", config.size());
  printEntries(config);
  printKeys(reader.dataIni());
  if (!reader.volumes().empty()) {
    size_t present = 0;
    for (const auto& v : reader.volumes()) present += v.exists;
    std::printf("volumes: %zu named, %zu present\n", reader.volumes().size(), present);
    for (const auto& v : reader.volumes()) {
      if (v.exists) std::printf("  %12llu  %s\n", static_cast<unsigned long long>(v.size), v.path.c_str());
      else std::printf("  %12s  %s\n", "missing", v.path.c_str());
    }
    if (present != reader.volumes().size()) {
      std::printf("payload: not readable while a volume is missing\n");
      return kOk;
    }
  }
  if (!reader.installPasswordDigest().empty() && password.empty()) {
    std::printf("payload: encrypted with the install password; give --password to list its files\n");
    return kOk;
  }
  return printPayload(reader, password, !password.empty()) ? kOk : kFailed;
}

// Takes a setup file or archive apart into DIR, which must be missing or
// empty; a failure removes what was written.
int extract(const std::vector<std::string>& args) {
  namespace fs = std::filesystem;
  const ReaderArgs r = readerArgs(args);
  if (r.help) return usage(nullptr, kExtractHelp);
  if (!r.problem.empty()) return usage(r.problem.c_str(), kExtractHelp);
  if (r.positional.size() != 2) return usage("extract takes a file and a folder", kExtractHelp);
  zul::Text password;
  if (!passwordToGbk(r.password, &password)) return failed("password: a character that GBK cannot hold");
  const std::string& path = r.positional[0];
  std::error_code ec;
  const fs::path dir = fs::absolute(r.positional[1], ec);
  if (fs::exists(dir, ec) && (!fs::is_directory(dir, ec) || !fs::is_empty(dir, ec))) {
    return failed(r.positional[1] + ": not an empty folder (extract writes into a new or empty one)");
  }
  zul::Text unused;
  if (!zul::pack::hostPathToGbk(dir.string(), &unused)) {
    return failed(r.positional[1] + ": the path has a character that GBK cannot hold");
  }
  zul::pack::PackageReader reader;
  std::string error;
  if (!reader.open(path, &error)) return failed(error);

  // The outermost folder this command creates, removed after a failure.
  fs::path created;
  for (fs::path p = dir; !p.empty() && !fs::exists(p, ec); p = p.parent_path()) {
    created = p;
    if (p == p.parent_path()) break;
  }
  fs::create_directories(dir, ec);
  if (ec) return failed(r.positional[1] + ": " + ec.message());
  const auto undo = [&] {
    std::error_code ignored;
    if (!created.empty()) {
      fs::remove_all(created, ignored);
      return;
    }
    for (const auto& item : fs::directory_iterator(dir, ignored)) fs::remove_all(item.path(), ignored);
  };
  bool ok;
  if (reader.isSetupFile()) {
    ok = reader.extractConfig((dir / "config").string(), &error) &&
         reader.extractPayload(password, (dir / "payload").string(), &error);
  } else {
    ok = reader.extractPayload(password, dir.string(), &error);
  }
  if (!ok) {
    undo();
    return failed(error);
  }
  std::printf("%s: extracted to %s\n", path.c_str(), r.positional[1].c_str());
  return kOk;
}

int init(const std::vector<std::string>& args) {
  if (args.size() == 1 && isHelp(args[0])) return usage(nullptr, kInitHelp);
  if (args.size() != 1 || args[0].rfind("-", 0) == 0) return usage("init takes one folder", kInitHelp);
  std::string error;
  if (!zul::pack::writeExampleProject(args[0], &error)) return failed(error);
  std::printf("%s: example project written; build it with: zulpack build %s -o setup.exe\n", args[0].c_str(),
              args[0].c_str());
  return kOk;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage("no command");
  const std::string command = argv[1];
  const std::vector<std::string> args(argv + 2, argv + argc);
  if (isHelp(command) || command == "help") return usage(nullptr);
  if (command == "build") return build(args);
  if (command == "extract") return extract(args);
  if (command == "inspect") return inspect(args);
  if (command == "init") return init(args);
  return usage(("unknown command " + command).c_str());
}
