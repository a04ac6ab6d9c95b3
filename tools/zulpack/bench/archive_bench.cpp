// Packs a host folder with the archive writer and prints the input size, the
// archive size and the wall time, for comparison with 7-Zip.
//
//   zulpack_archive_bench FOLDER OUT.7z [--threads N] [--preset N] [--password P] [--non-solid]
#include <iconv.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "archive_writer.h"

namespace fs = std::filesystem;

namespace {

bool utf8ToGbk(const std::string& utf8, std::string* gbk) {
  iconv_t cd = iconv_open("GBK", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  gbk->assign(utf8.size() * 2 + 4, '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = utf8.size();
  char* out = gbk->data();
  size_t outLeft = gbk->size();
  const bool ok = iconv(cd, &in, &inLeft, &out, &outLeft) != static_cast<size_t>(-1);
  iconv_close(cd);
  gbk->resize(gbk->size() - outLeft);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s FOLDER OUT.7z [--threads N] [--preset N] [--password P] [--non-solid]\n", argv[0]);
    return 2;
  }
  zul::pack::ArchiveOptions options;
  for (int i = 3; i < argc; ++i) {
    const std::string flag = argv[i];
    if (flag == "--non-solid") {
      options.solid = false;
    } else if (i + 1 < argc && flag == "--threads") {
      options.threads = atoi(argv[++i]);
    } else if (i + 1 < argc && flag == "--preset") {
      options.preset = atoi(argv[++i]);
    } else if (i + 1 < argc && flag == "--password") {
      options.password = argv[++i];
    } else {
      fprintf(stderr, "unknown option %s\n", argv[i]);
      return 2;
    }
  }
  const fs::path root = argv[1];
  std::vector<fs::path> paths;
  for (const auto& item : fs::recursive_directory_iterator(root)) paths.push_back(item.path());
  std::sort(paths.begin(), paths.end());
  std::vector<zul::pack::ArchiveEntry> entries;
  uint64_t bytes = 0;
  for (const fs::path& path : paths) {
    zul::pack::ArchiveEntry entry;
    if (!utf8ToGbk(fs::relative(path, root).string(), &entry.name)) {
      fprintf(stderr, "%s: the name has no GBK form\n", path.c_str());
      return 1;
    }
    entry.isDirectory = fs::is_directory(path);
    if (!entry.isDirectory) {
      entry.hostPath = path.string();
      bytes += fs::file_size(path);
    }
    entries.push_back(std::move(entry));
  }
  const auto start = std::chrono::steady_clock::now();
  std::string error;
  if (!zul::pack::writeArchive(entries, options, argv[2], &error)) {
    fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  printf("input_bytes=%llu archive_bytes=%llu seconds=%.2f\n", static_cast<unsigned long long>(bytes),
         static_cast<unsigned long long>(fs::file_size(argv[2])), seconds);
  return 0;
}
