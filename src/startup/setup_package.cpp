#include "startup/setup_package.h"

#include <algorithm>
#include <array>
#include <memory>

namespace zul {
namespace {

constexpr char kPatternEnd = '\x01';

Bytes pattern(std::string_view marker) {
  Bytes p(marker);
  p.push_back(kPatternEnd);
  return p;
}

// Horspool search: the payload is scanned whole for its closing pattern, so
// this is the hot loop of a large install. Returns npos when absent.
class PatternFinder {
 public:
  explicit PatternFinder(std::string_view needle) : needle_(needle) {
    shift_.fill(needle_.size());
    for (size_t i = 0; i + 1 < needle_.size(); ++i) {
      shift_[static_cast<unsigned char>(needle_[i])] = needle_.size() - 1 - i;
    }
  }
  size_t first(std::string_view hay, size_t from = 0) const {
    const size_t n = needle_.size();
    if (n == 0 || hay.size() < n) return std::string_view::npos;
    const unsigned char last = static_cast<unsigned char>(needle_[n - 1]);
    for (size_t i = from; i + n <= hay.size();) {
      const auto c = static_cast<unsigned char>(hay[i + n - 1]);
      if (c == last && hay.compare(i, n - 1, needle_, 0, n - 1) == 0) return i;
      i += shift_[c];
    }
    return std::string_view::npos;
  }
  // Last occurrence that starts before `before`.
  size_t last(std::string_view hay, size_t before = std::string_view::npos) const {
    const size_t n = needle_.size();
    if (n == 0 || hay.size() < n) return std::string_view::npos;
    size_t i = std::min(before == std::string_view::npos ? hay.size() : before, hay.size() - n + 1);
    while (i-- > 0) {
      if (hay[i] == needle_[0] && hay.compare(i, n, needle_) == 0) return i;
    }
    return std::string_view::npos;
  }
  size_t size() const { return needle_.size(); }

 private:
  std::string_view needle_;
  std::array<size_t, 256> shift_;
};

// Opens `path` for reading and waits (bounded) while its size reads 0: a
// file still being written by whoever started us.
std::unique_ptr<RandomFile> openNonEmpty(SectionReader& io, const Text& path, uint64_t* size) {
  for (int attempt = 0;; ++attempt) {
    auto file = io.fs.open(path, OpenMode::kRead);
    *size = 0;
    if (file && file->size(size) && *size > 0) return file;
    if (attempt >= io.emptyFileRetries) return nullptr;
    if (io.waitBeforeRetry) io.waitBeforeRetry();
  }
}

size_t readChunk(RandomFile& file, uint64_t offset, uint64_t fileSize, uint64_t chunk, Bytes* buffer) {
  const uint64_t want = std::min(chunk, fileSize - offset);
  buffer->resize(static_cast<size_t>(want));
  const size_t got = file.readAt(offset, buffer->data(), buffer->size());
  buffer->resize(got);
  return got;
}

Bytes readRange(RandomFile& file, uint64_t from, uint64_t to) {
  if (to <= from) return {};
  Bytes out(static_cast<size_t>(to - from), '\0');
  out.resize(file.readAt(from, out.data(), out.size()));
  return out;
}

Bytes readLocated(SectionReader& io, const Text& path, const SectionLocation& where) {
  if (!where.found || where.size == 0) return {};
  auto file = io.fs.open(path, OpenMode::kRead);
  return file ? readRange(*file, where.offset, where.offset + where.size) : Bytes();
}

}  // namespace

namespace {

// The forward scan shared by the lookup and the payload copy. Once the
// opening pattern is known, `onChunk(start, offset, bytes)` sees every chunk
// from the one that holds it, with `start` the pattern's offset (chunks
// overlap; the callee skips what it has seen)
// and may stop the scan by returning false. `progress` is called after every
// chunk without the closing pattern. The location is found=false when a
// pattern is missing; `*stopped` tells a callback's stop from that.
SectionLocation scanForward(SectionReader& io, RandomFile& file, uint64_t size, std::string_view openMarker,
                            std::string_view closeMarker,
                            const std::function<bool(uint64_t start, uint64_t offset, std::string_view bytes)>& onChunk,
                            const SectionProgress& progress, bool* stopped) {
  const Bytes open = pattern(openMarker), close = pattern(closeMarker);
  const PatternFinder openFinder(open), closeFinder(close);
  const uint64_t overlap = std::max(open.size(), close.size()) - 1;
  const uint64_t chunk = std::max(io.sectionChunk, overlap + 1);

  Bytes buffer;
  bool haveOpen = false;
  uint64_t start = 0;
  for (uint64_t pos = 0; pos < size; pos += chunk - overlap) {
    if (readChunk(file, pos, size, chunk, &buffer) == 0) break;
    size_t searchFrom = 0;
    if (!haveOpen) {
      const size_t at = openFinder.first(buffer);
      if (at != std::string_view::npos) {
        haveOpen = true;
        start = pos + at;
        searchFrom = at + open.size();
      }
    } else if (start + open.size() > pos) {
      searchFrom = static_cast<size_t>(start + open.size() - pos);
    }
    if (haveOpen) {
      if (onChunk && !onChunk(start, pos, buffer)) {
        *stopped = true;
        return {};
      }
      const size_t at = closeFinder.first(buffer, searchFrom);
      if (at != std::string_view::npos) return {start + open.size(), pos + at - (start + open.size()), true};
    }
    if (pos + chunk >= size) break;
    if (progress) {
      if (io.pumpMessages) io.pumpMessages();
      progress(static_cast<int>(static_cast<double>(pos + chunk) / static_cast<double>(size) * 100.0));
    }
  }
  return {};
}

}  // namespace

SectionLocation locateSectionForward(SectionReader& io, const Text& path, std::string_view openMarker,
                                     std::string_view closeMarker) {
  uint64_t size = 0;
  auto file = openNonEmpty(io, path, &size);
  if (!file) return {};
  bool stopped = false;
  const SectionLocation where = scanForward(io, *file, size, openMarker, closeMarker, nullptr, nullptr, &stopped);
  return where.found ? where : SectionLocation{};
}

Bytes readSectionForward(SectionReader& io, const Text& path, std::string_view openMarker,
                         std::string_view closeMarker) {
  return readLocated(io, path, locateSectionForward(io, path, openMarker, closeMarker));
}

bool copySectionForward(SectionReader& io, const Text& path, std::string_view openMarker,
                        std::string_view closeMarker, const Text& copyPath,
                        const SectionProgress& progress) {
  uint64_t size = 0;
  auto file = openNonEmpty(io, path, &size);
  if (!file) return false;
  auto copy = io.fs.open(copyPath, OpenMode::kCreate);
  if (!copy) return false;
  bool started = false, stopped = false;
  uint64_t copied = 0;  // file offset up to which the copy is written
  const auto write = [&](uint64_t start, uint64_t offset, std::string_view bytes) {
    if (!started) copied = start;
    started = true;
    const size_t from = static_cast<size_t>(copied - offset);
    if (!copy->writeAt(copied - start, bytes.data() + from, bytes.size() - from)) return false;
    copied = offset + bytes.size();
    return true;
  };
  scanForward(io, *file, size, openMarker, closeMarker, write, progress, &stopped);
  return started && !stopped;
}

SectionLocation locateSectionBackward(SectionReader& io, const Text& path, std::string_view openMarker,
                                      std::string_view closeMarker) {
  uint64_t size = 0;
  auto file = openNonEmpty(io, path, &size);
  if (!file) return {};
  const Bytes open = pattern(openMarker), close = pattern(closeMarker);
  const PatternFinder openFinder(open), closeFinder(close);
  const uint64_t overlap = std::max(open.size(), close.size()) - 1;
  const uint64_t chunk = std::max(io.sectionChunk, overlap + 1);

  Bytes buffer;
  bool haveClose = false;
  uint64_t closeAt = 0;
  for (uint64_t windowEnd = size;;) {
    const uint64_t windowStart = windowEnd > chunk ? windowEnd - chunk : 0;
    buffer.resize(static_cast<size_t>(windowEnd - windowStart));
    buffer.resize(file->readAt(windowStart, buffer.data(), buffer.size()));
    if (!haveClose) {
      const size_t at = closeFinder.last(buffer);
      if (at != std::string_view::npos) {
        haveClose = true;
        closeAt = windowStart + at;
      }
    }
    if (haveClose) {
      // Only an opening pattern that ends before the closing one counts.
      const uint64_t limit = closeAt - std::min<uint64_t>(closeAt, open.size() - 1);
      const size_t before = limit > windowStart ? static_cast<size_t>(limit - windowStart) : 0;
      const size_t at = before > 0 ? openFinder.last(buffer, before) : std::string_view::npos;
      if (at != std::string_view::npos) {
        const uint64_t contentAt = windowStart + at + open.size();
        return {contentAt, closeAt - contentAt, true};
      }
    }
    if (windowStart == 0) return {};
    windowEnd = windowStart + overlap;
  }
}

Bytes readSectionBackward(SectionReader& io, const Text& path, std::string_view openMarker,
                          std::string_view closeMarker) {
  return readLocated(io, path, locateSectionBackward(io, path, openMarker, closeMarker));
}

Bytes readStubPart(SectionReader& io, const Text& path, std::string_view openMarker) {
  uint64_t size = 0;
  auto file = openNonEmpty(io, path, &size);
  if (!file) return {};
  const Bytes open = pattern(openMarker);
  const PatternFinder finder(open);
  const uint64_t chunk = std::max(io.stubChunk, static_cast<uint64_t>(open.size()));
  Bytes buffer;
  for (uint64_t pos = 0; pos < size; pos += chunk - (open.size() - 1)) {
    if (readChunk(*file, pos, size, chunk, &buffer) == 0) break;
    const size_t at = finder.first(buffer);
    if (at != std::string_view::npos) {
      const uint64_t p = pos + at;
      return p == 0 ? Bytes() : readRange(*file, 0, p - 1);
    }
    if (pos + chunk >= size) break;
  }
  return {};
}

Bytes sectionBlockHead(std::string_view openMarker) {
  Bytes head(1, '\0');
  head += pattern(openMarker);
  return head;
}

Bytes sectionBlockTail(std::string_view closeMarker) { return pattern(closeMarker); }

bool appendPackageMode(FileSystem& fs, const Text& path, std::string_view modeText) {
  auto file = fs.open(path, OpenMode::kReadWriteExclusive);
  uint64_t size = 0;
  if (!file || !file->size(&size)) return false;
  Bytes block = sectionBlockHead(kPackageModeOpen);
  block += modeText;
  block += sectionBlockTail(kPackageModeClose);
  return file->writeAt(size, block.data(), block.size());
}

int checkArchiveSignature(FileSystem& fs, const Text& path) {
  auto file = fs.open(path, OpenMode::kRead);
  if (!file) return -1;
  char head[9] = {};
  const size_t got = file->readAt(0, head, sizeof head);
  const std::string_view bytes(head, got);
  if (bytes.substr(0, 8) == kSevenZipSignature) return 0;
  if (got == 9 && bytes.substr(1, 8) == kSevenZipSignature) return 1;
  return -1;
}

void repairArchiveSignature(FileSystem& fs, const Text& path, uint64_t offset) {
  if (checkArchiveSignature(fs, path) != -1) return;
  auto file = fs.open(path, OpenMode::kReadWriteExclusive);
  if (file) (void)file->writeAt(offset, "7z", 2);
}

}  // namespace zul
