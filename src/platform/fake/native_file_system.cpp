#include "platform/fake/native_file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

namespace zul {
namespace {

std::string convert(const char* to, const char* from, std::string_view in) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(in);
  std::string out;
  char buffer[256];
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  while (srcLeft > 0) {
    char* dst = buffer;
    size_t dstLeft = sizeof buffer;
    const size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    out.append(buffer, dst - buffer);
    if (r == static_cast<size_t>(-1) && errno != E2BIG) {
      out.push_back('?');
      ++src;
      --srcLeft;
    }
  }
  iconv_close(cd);
  return out;
}

class PosixFile : public RandomFile {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}
  ~PosixFile() override { close(fd_); }
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;

  bool size(uint64_t* bytes) override {
    struct stat st;
    if (fstat(fd_, &st) != 0) return false;
    *bytes = static_cast<uint64_t>(st.st_size);
    return true;
  }
  size_t readAt(uint64_t offset, void* buffer, size_t count) override {
    size_t done = 0;
    while (done < count) {
      const ssize_t n = pread(fd_, static_cast<char*>(buffer) + done, count - done,
                              static_cast<off_t>(offset + done));
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    return done;
  }
  bool writeAt(uint64_t offset, const void* buffer, size_t count) override {
    size_t done = 0;
    while (done < count) {
      const ssize_t n = pwrite(fd_, static_cast<const char*>(buffer) + done, count - done,
                               static_cast<off_t>(offset + done));
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

 private:
  int fd_;
};

constexpr uint64_t kUnixEpochAsFiletime = 116444736000000000ull;

}  // namespace

std::string gbkToUtf8(std::string_view gbk) { return convert("UTF-8", "GBK", gbk); }
Text utf8ToGbk(std::string_view utf8) { return convert("GBK", "UTF-8", utf8); }

NativeFileSystem::NativeFileSystem(std::string hostRoot) : root_(std::move(hostRoot)) {
  while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
}

std::string NativeFileSystem::hostPath(const Text& path) const {
  std::string p = gbkToUtf8(path);
  for (char& c : p) {
    if (c == '\\') c = '/';
  }
  if (!p.empty() && p[0] == '/') return p;
  if (p.size() >= 2 && p[1] == ':') return root_ + "/" + p.substr(0, 1) + p.substr(2);
  return root_ + "/" + p;
}

std::unique_ptr<RandomFile> NativeFileSystem::open(const Text& path, OpenMode mode) {
  int flags = O_RDONLY;
  switch (mode) {
    case OpenMode::kRead: flags = O_RDONLY; break;
    case OpenMode::kWrite: flags = O_WRONLY; break;
    case OpenMode::kReadWriteExclusive: flags = O_RDWR; break;
    case OpenMode::kCreate: flags = O_WRONLY | O_CREAT | O_TRUNC; break;
  }
  const std::string host = hostPath(path);
  struct stat st;
  if (stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return nullptr;
  const int fd = ::open(host.c_str(), flags | O_CLOEXEC, 0644);
  if (fd < 0) return nullptr;
  return std::make_unique<PosixFile>(fd);
}

bool NativeFileSystem::exists(const Text& path) {
  struct stat st;
  return stat(hostPath(path).c_str(), &st) == 0;
}

bool NativeFileSystem::isDirectory(const Text& path) {
  struct stat st;
  return stat(hostPath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool NativeFileSystem::createDirectory(const Text& path) {
  return mkdir(hostPath(path).c_str(), 0755) == 0 || (errno == EEXIST && isDirectory(path));
}

bool NativeFileSystem::removeFile(const Text& path) {
  return !isDirectory(path) && unlink(hostPath(path).c_str()) == 0;
}

bool NativeFileSystem::removeDirectory(const Text& path) {
  return rmdir(hostPath(path).c_str()) == 0;
}

bool NativeFileSystem::moveFile(const Text& from, const Text& to) {
  return rename(hostPath(from).c_str(), hostPath(to).c_str()) == 0;
}

std::vector<DirEntry> NativeFileSystem::list(const Text& folder) {
  std::vector<DirEntry> entries;
  const std::string host = hostPath(folder);
  DIR* dir = opendir(host.c_str());
  if (!dir) return entries;
  while (dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st;
    const bool isDir = stat((host + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    entries.push_back({utf8ToGbk(name), isDir});
  }
  closedir(dir);
  return entries;
}

bool NativeFileSystem::getAttributes(const Text& path, uint32_t* attributes) {
  struct stat st;
  if (stat(hostPath(path).c_str(), &st) != 0) return false;
  uint32_t a = S_ISDIR(st.st_mode) ? kAttributeDirectory : kAttributeArchive;
  if (!(st.st_mode & S_IWUSR)) a |= kAttributeReadOnly;
  *attributes = a;
  return true;
}

bool NativeFileSystem::setAttributes(const Text& path, uint32_t attributes) {
  const std::string host = hostPath(path);
  struct stat st;
  if (stat(host.c_str(), &st) != 0) return false;
  mode_t mode = st.st_mode & 07777;
  mode = (attributes & kAttributeReadOnly) ? (mode & ~0222) : (mode | S_IWUSR);
  return chmod(host.c_str(), mode) == 0;
}

bool NativeFileSystem::setModificationTime(const Text& path, uint64_t filetime) {
  if (filetime < kUnixEpochAsFiletime) return false;
  const uint64_t since = filetime - kUnixEpochAsFiletime;
  timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(since / 10000000);
  times[1].tv_nsec = static_cast<long>((since % 10000000) * 100);
  return utimensat(AT_FDCWD, hostPath(path).c_str(), times, 0) == 0;
}

Text NativeFileSystem::tempFolder() {
  createDirectory("T:");
  createDirectory("T:\\Temp");
  return "T:\\Temp\\";
}

}  // namespace zul
