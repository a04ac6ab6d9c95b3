#include "sevenzip/byte_source.h"

#include <algorithm>

namespace zul::sevenzip {

Status ByteSource::open(FileSystem& fs, const Text& path) {
  volumes_.clear();
  total_ = 0;
  auto first = fs.open(path, OpenMode::kRead);
  uint64_t size = 0;
  if (!first || !first->size(&size)) return Status::kReadError;
  volumes_.push_back({std::move(first), 0, size});
  total_ = size;
  if (path.size() < 4 || path.compare(path.size() - 4, 4, ".001") != 0) return Status::kOk;
  const Text stem = path.substr(0, path.size() - 3);
  for (unsigned n = 2; n < 100000; ++n) {
    Text number = std::to_string(n);
    if (number.size() < 3) number.insert(0, 3 - number.size(), '0');
    auto file = fs.open(stem + number, OpenMode::kRead);
    if (!file || !file->size(&size)) break;
    volumes_.push_back({std::move(file), total_, size});
    total_ += size;
  }
  return Status::kOk;
}

Status ByteSource::readAt(uint64_t offset, void* buffer, size_t count) {
  if (offset > total_ || count > total_ - offset) return Status::kTruncated;
  auto* out = static_cast<uint8_t*>(buffer);
  // The last volume that starts at or before `offset`.
  auto it = std::upper_bound(volumes_.begin(), volumes_.end(), offset,
                             [](uint64_t o, const Volume& v) { return o < v.start; });
  if (it == volumes_.begin()) return Status::kTruncated;
  --it;
  while (count > 0) {
    if (it == volumes_.end()) return Status::kTruncated;
    const uint64_t within = offset - it->start;
    if (within >= it->size) {
      ++it;
      continue;
    }
    const size_t n = static_cast<size_t>(std::min<uint64_t>(count, it->size - within));
    if (it->file->readAt(within, out, n) != n) return Status::kReadError;
    out += n;
    offset += n;
    count -= n;
    ++it;
  }
  return Status::kOk;
}

}  // namespace zul::sevenzip
