// Helpers of the reader's tests (built into the test program only).
#include "sevenzip/test_support.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/win32/wide.h"
#else
#include <sys/stat.h>

#include "platform/fake/native_file_system.h"
#endif

namespace zul::sevenzip::testing {

namespace {

Text treePath(std::string dir, const std::string& name) {
#ifdef _WIN32
  for (char& c : dir) {
    if (c == '/') c = '\\';
  }
  dir = "Z:" + dir;
  std::string rest = name;
  for (char& c : rest) {
    if (c == '/') c = '\\';
  }
  return dir + "\\" + rest;
#else
  return dir + "/" + name;
#endif
}

}  // namespace

Text fixturePath(const std::string& name) { return treePath(ZUL_SEVENZIP_FIXTURES, name); }

Text corpusPath(const std::string& name) { return treePath(ZUL_SOURCE_DIR "/src/sevenzip/testdata/corpus", name); }

uint64_t modificationTime(ScratchFolder& scratch, const Text& path) {
#ifdef _WIN32
  (void)scratch;
  HANDLE h = CreateFileW(win32::toWide(path).c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 0;
  FILETIME ft;
  const bool ok = GetFileTime(h, nullptr, nullptr, &ft);
  CloseHandle(h);
  return ok ? (uint64_t{ft.dwHighDateTime} << 32 | ft.dwLowDateTime) : 0;
#else
  NativeFileSystem fs(scratch.hostPath());
  struct stat st;
  if (stat(fs.hostPath(path).c_str(), &st) != 0) return 0;
  return static_cast<uint64_t>(st.st_mtim.tv_sec) * 10000000 + st.st_mtim.tv_nsec / 100 + 116444736000000000ull;
#endif
}

Text fromHex(const std::string& hex) {
  Text out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

}  // namespace zul::sevenzip::testing
