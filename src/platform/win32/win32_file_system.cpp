#include <windows.h>

#include "platform/win32/unique_handle.h"
#include "platform/win32/wide.h"
#include "platform/win32/win32_platform.h"

namespace zul::win32 {
namespace {

class Win32File : public RandomFile {
 public:
  explicit Win32File(UniqueFile file) : file_(std::move(file)) {}

  bool size(uint64_t* bytes) override {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file_.get(), &size)) return false;
    *bytes = static_cast<uint64_t>(size.QuadPart);
    return true;
  }
  size_t readAt(uint64_t offset, void* buffer, size_t count) override {
    if (!seek(offset)) return 0;
    size_t done = 0;
    while (done < count) {
      const DWORD want = static_cast<DWORD>(std::min<size_t>(count - done, 1u << 30));
      DWORD got = 0;
      if (!ReadFile(file_.get(), static_cast<char*>(buffer) + done, want, &got, nullptr) || got == 0) break;
      done += got;
    }
    return done;
  }
  bool writeAt(uint64_t offset, const void* buffer, size_t count) override {
    if (!seek(offset)) return false;
    size_t done = 0;
    while (done < count) {
      const DWORD want = static_cast<DWORD>(std::min<size_t>(count - done, 1u << 30));
      DWORD put = 0;
      if (!WriteFile(file_.get(), static_cast<const char*>(buffer) + done, want, &put, nullptr) || put == 0) {
        return false;
      }
      done += put;
    }
    return true;
  }

 private:
  bool seek(uint64_t offset) {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(file_.get(), to, nullptr, FILE_BEGIN) != 0;
  }
  UniqueFile file_;
};

}  // namespace

std::unique_ptr<RandomFile> Win32FileSystem::open(const Text& path, OpenMode mode) {
  DWORD access = GENERIC_READ, share = FILE_SHARE_READ | FILE_SHARE_WRITE, disposition = OPEN_EXISTING;
  switch (mode) {
    case OpenMode::kRead: break;
    case OpenMode::kWrite: access = GENERIC_WRITE; break;
    case OpenMode::kReadWriteExclusive:
      access = FILE_READ_DATA | FILE_WRITE_DATA;
      share = 0;
      break;
    case OpenMode::kCreate:
      access = GENERIC_WRITE;
      disposition = CREATE_ALWAYS;
      break;
  }
  UniqueFile file(CreateFileW(toWide(path).c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return nullptr;
  return std::make_unique<Win32File>(std::move(file));
}

bool Win32FileSystem::exists(const Text& path) {
  return GetFileAttributesW(toWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool Win32FileSystem::isDirectory(const Text& path) {
  const DWORD a = GetFileAttributesW(toWide(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool Win32FileSystem::createDirectory(const Text& path) {
  return CreateDirectoryW(toWide(path).c_str(), nullptr) || (GetLastError() == ERROR_ALREADY_EXISTS && isDirectory(path));
}

bool Win32FileSystem::removeFile(const Text& path) { return DeleteFileW(toWide(path).c_str()) != 0; }

bool Win32FileSystem::removeDirectory(const Text& path) { return RemoveDirectoryW(toWide(path).c_str()) != 0; }

bool Win32FileSystem::moveFile(const Text& from, const Text& to) {
  return MoveFileExW(toWide(from).c_str(), toWide(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

std::vector<DirEntry> Win32FileSystem::list(const Text& folder) {
  std::vector<DirEntry> entries;
  WIN32_FIND_DATAW data;
  const std::wstring pattern = toWide(withTrailingSlash(folder)) + L"*";
  const UniqueFind find(FindFirstFileW(pattern.c_str(), &data));
  if (!find) return entries;
  do {
    const std::wstring_view name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    // A name GBK cannot hold is left out: its nearest GBK form may be the
    // name of another file, which a caller would then remove.
    Text gbk;
    if (!fromWideExact(name, &gbk)) continue;
    entries.push_back({std::move(gbk), (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  } while (FindNextFileW(find.get(), &data));
  return entries;
}

bool Win32FileSystem::getAttributes(const Text& path, uint32_t* attributes) {
  const DWORD a = GetFileAttributesW(toWide(path).c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return false;
  *attributes = a;
  return true;
}

bool Win32FileSystem::setAttributes(const Text& path, uint32_t attributes) {
  return SetFileAttributesW(toWide(path).c_str(), attributes) != 0;
}

bool Win32FileSystem::setModificationTime(const Text& path, uint64_t filetime) {
  UniqueFile file(CreateFileW(toWide(path).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) return false;
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(filetime);
  ft.dwHighDateTime = static_cast<DWORD>(filetime >> 32);
  return SetFileTime(file.get(), nullptr, nullptr, &ft) != 0;
}

Text Win32FileSystem::tempFolder() {
  wchar_t buffer[MAX_PATH + 2];
  const DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
  if (n == 0 || n > MAX_PATH + 1) return {};
  return withTrailingSlash(fromWide(std::wstring_view(buffer, n)));
}

}  // namespace zul::win32
