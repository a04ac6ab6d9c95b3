// The 7z header: a tree of property records, every count and size of which
// comes from the input and is checked against the bytes that remain before
// anything is sized by it.
#include <algorithm>
#include <cstring>

#include "sevenzip/archive.h"
#include "sevenzip/crc32.h"
#include "sevenzip/folder_decoder.h"

namespace zul::sevenzip {
namespace {

constexpr uint8_t kSignature[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
constexpr size_t kSignatureHeaderSize = 32;

enum PropertyId : uint64_t {
  kEnd = 0x00,
  kHeader = 0x01,
  kArchiveProperties = 0x02,
  kAdditionalStreamsInfo = 0x03,
  kMainStreamsInfo = 0x04,
  kFilesInfo = 0x05,
  kPackInfo = 0x06,
  kUnpackInfo = 0x07,
  kSubStreamsInfo = 0x08,
  kSize = 0x09,
  kCrc = 0x0A,
  kFolder = 0x0B,
  kCodersUnpackSize = 0x0C,
  kNumUnpackStream = 0x0D,
  kEmptyStream = 0x0E,
  kEmptyFile = 0x0F,
  kAnti = 0x10,
  kName = 0x11,
  kMTime = 0x14,
  kWinAttributes = 0x15,
  kEncodedHeader = 0x17,
  kDummy = 0x19,
};

constexpr uint32_t kMaxCoders = 64;
constexpr uint32_t kMaxCoderStreams = 64;

uint32_t le32(const uint8_t* p) { return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24; }
uint64_t le64(const uint8_t* p) { return le32(p) | uint64_t{le32(p + 4)} << 32; }

// A bounded cursor over header bytes. The first failure sticks: later reads
// return zeros and `status` keeps the reason.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}

  size_t left() const { return static_cast<size_t>(end_ - p_); }
  bool failed() const { return status_ != Status::kOk; }
  Status status() const { return status_; }
  void fail(Status s) {
    if (status_ == Status::kOk) status_ = s;
    p_ = end_;
  }

  uint8_t byte() {
    if (p_ == end_) {
      fail(Status::kCorrupt);
      return 0;
    }
    return *p_++;
  }
  uint64_t number() {
    const uint8_t first = byte();
    uint64_t value = 0;
    uint8_t mask = 0x80;
    for (int i = 0; i < 8; ++i) {
      if ((first & mask) == 0) return value | (uint64_t{first & (mask - 1u)} << (8 * i));
      value |= uint64_t{byte()} << (8 * i);
      mask >>= 1;
    }
    return value;
  }
  // A count of items that each take at least `minBytes` bytes of what remains.
  uint64_t count(size_t minBytes = 1) {
    const uint64_t n = number();
    if (minBytes > 0 && n > left() / minBytes) {
      fail(Status::kCorrupt);
      return 0;
    }
    return n;
  }
  uint32_t u32() {
    if (left() < 4) {
      fail(Status::kCorrupt);
      return 0;
    }
    const uint32_t v = le32(p_);
    p_ += 4;
    return v;
  }
  uint64_t u64() {
    if (left() < 8) {
      fail(Status::kCorrupt);
      return 0;
    }
    const uint64_t v = le64(p_);
    p_ += 8;
    return v;
  }
  const uint8_t* bytes(uint64_t n) {
    if (n > left()) {
      fail(Status::kCorrupt);
      return nullptr;
    }
    const uint8_t* at = p_;
    p_ += n;
    return at;
  }
  void skip(uint64_t n) { bytes(n); }
  // `n` bits, most significant first in each byte.
  std::vector<bool> bits(uint64_t n) {
    std::vector<bool> v;
    if ((n + 7) / 8 > left()) {
      fail(Status::kCorrupt);
      return v;
    }
    v.resize(n);
    uint8_t b = 0;
    for (uint64_t i = 0; i < n; ++i) {
      if (i % 8 == 0) b = byte();
      v[i] = (b & (0x80 >> (i % 8))) != 0;
    }
    return v;
  }
  // An "all defined" byte, then a bit field when it is 0.
  std::vector<bool> definedBits(uint64_t n) {
    const uint8_t all = byte();
    if (all != 0) return std::vector<bool>(n, true);
    return bits(n);
  }

 private:
  const uint8_t* p_;
  const uint8_t* end_;
  Status status_ = Status::kOk;
};

void readDigests(Reader& r, uint64_t n, std::vector<bool>* defined, std::vector<uint32_t>* crcs) {
  *defined = r.definedBits(n);
  crcs->assign(defined->size(), 0);
  for (size_t i = 0; i < defined->size() && !r.failed(); ++i) {
    if ((*defined)[i]) (*crcs)[i] = r.u32();
  }
}

void readPackInfo(Reader& r, Archive& a) {
  a.packPos = r.number();
  const uint64_t n = r.count();
  a.packSizes.assign(n, 0);
  for (uint64_t type = r.number(); type != kEnd && !r.failed(); type = r.number()) {
    if (type == kSize) {
      for (auto& s : a.packSizes) s = r.number();
    } else if (type == kCrc) {
      std::vector<bool> defined;
      std::vector<uint32_t> crcs;
      readDigests(r, n, &defined, &crcs);
    } else {
      r.fail(Status::kCorrupt);
    }
  }
}

void readFolder(Reader& r, Folder& f) {
  const uint64_t numCoders = r.count();
  if (numCoders == 0 || numCoders > kMaxCoders) return r.fail(numCoders == 0 ? Status::kCorrupt : Status::kUnsupportedMethod);
  uint64_t totalIn = 0, totalOut = 0;
  f.coders.resize(numCoders);
  for (Coder& c : f.coders) {
    const uint8_t flags = r.byte();
    if (flags & 0x80) return r.fail(Status::kUnsupportedMethod);  // alternative methods
    const uint8_t* id = r.bytes(flags & 0x0F);
    if (!id) return;
    c.methodId.assign(reinterpret_cast<const char*>(id), flags & 0x0F);
    if (flags & 0x10) {
      const uint64_t in = r.number(), out = r.number();
      if (in > kMaxCoderStreams || out > kMaxCoderStreams) return r.fail(Status::kUnsupportedMethod);
      c.numInStreams = static_cast<uint32_t>(in);
      c.numOutStreams = static_cast<uint32_t>(out);
    }
    if (flags & 0x20) {
      const uint64_t size = r.count(1);
      const uint8_t* props = r.bytes(size);
      if (!props) return;
      c.properties.assign(reinterpret_cast<const char*>(props), size);
    }
    totalIn += c.numInStreams;
    totalOut += c.numOutStreams;
  }
  if (totalOut == 0) return r.fail(Status::kCorrupt);
  const uint64_t numBindPairs = totalOut - 1;
  if (numBindPairs > totalIn) return r.fail(Status::kCorrupt);
  for (uint64_t i = 0; i < numBindPairs; ++i) {
    const uint64_t in = r.number(), out = r.number();
    if (in >= totalIn || out >= totalOut) return r.fail(Status::kCorrupt);
    f.bindPairs.push_back({static_cast<uint32_t>(in), static_cast<uint32_t>(out)});
  }
  const uint64_t numPacked = totalIn - numBindPairs;
  if (numPacked == 1) {
    for (uint32_t i = 0; i < totalIn; ++i) {
      if (std::none_of(f.bindPairs.begin(), f.bindPairs.end(), [&](const BindPair& b) { return b.inIndex == i; })) {
        f.packedStreams.push_back(i);
        break;
      }
    }
    if (f.packedStreams.empty()) return r.fail(Status::kCorrupt);
  } else {
    for (uint64_t i = 0; i < numPacked; ++i) {
      const uint64_t index = r.number();
      if (index >= totalIn) return r.fail(Status::kCorrupt);
      f.packedStreams.push_back(static_cast<uint32_t>(index));
    }
  }
  f.unpackSizes.assign(totalOut, 0);
}

void readUnpackInfo(Reader& r, Archive& a) {
  if (r.number() != kFolder) return r.fail(Status::kCorrupt);
  const uint64_t n = r.count(2);
  if (r.byte() != 0) return r.fail(Status::kUnsupportedMethod);  // folders stored elsewhere
  a.folders.resize(n);
  uint64_t packIndex = 0;
  for (Folder& f : a.folders) {
    readFolder(r, f);
    if (r.failed()) return;
    if (f.mainOutput() < 0) return r.fail(Status::kCorrupt);
    f.firstPackStream = packIndex;
    packIndex += f.packedStreams.size();
  }
  if (packIndex > a.packSizes.size()) return r.fail(Status::kCorrupt);
  if (r.number() != kCodersUnpackSize) return r.fail(Status::kCorrupt);
  for (Folder& f : a.folders) {
    for (auto& s : f.unpackSizes) s = r.number();
  }
  for (uint64_t type = r.number(); type != kEnd && !r.failed(); type = r.number()) {
    if (type != kCrc) return r.fail(Status::kCorrupt);
    std::vector<bool> defined;
    std::vector<uint32_t> crcs;
    readDigests(r, n, &defined, &crcs);
    for (size_t i = 0; i < a.folders.size() && i < defined.size(); ++i) {
      a.folders[i].crcDefined = defined[i];
      a.folders[i].crc = crcs[i];
    }
  }
}

// Sizes and CRCs of the files inside each folder.
struct SubStreams {
  std::vector<uint64_t> counts;  // per folder
  std::vector<uint64_t> sizes;   // per stream, all folders in order
  std::vector<bool> crcDefined;
  std::vector<uint32_t> crcs;
};

void readSubStreamsInfo(Reader& r, const Archive& a, SubStreams& s) {
  s.counts.assign(a.folders.size(), 1);
  uint64_t type = r.number();
  if (type == kNumUnpackStream) {
    for (auto& c : s.counts) c = r.count(0);
    type = r.number();
  }
  uint64_t total = 0;
  for (const uint64_t c : s.counts) {
    total += c;
    if (c > r.left() * 8 + 1 || total > (uint64_t{1} << 32)) return r.fail(Status::kCorrupt);
  }
  // Count streams against the remaining bytes before allocating per stream.
  if (total > r.left() * 8 + a.folders.size()) return r.fail(Status::kCorrupt);
  s.sizes.reserve(total);
  for (size_t i = 0; i < a.folders.size(); ++i) {
    const uint64_t c = s.counts[i];
    if (c == 0) continue;
    const uint64_t folderSize = a.folders[i].unpackSize();
    uint64_t sum = 0;
    if (type == kSize) {
      for (uint64_t k = 1; k < c; ++k) {
        const uint64_t size = r.number();
        if (size > folderSize - sum) return r.fail(Status::kCorrupt);
        sum += size;
        s.sizes.push_back(size);
      }
    } else if (c > 1) {
      return r.fail(Status::kCorrupt);
    }
    s.sizes.push_back(folderSize - sum);
  }
  if (type == kSize) type = r.number();

  s.crcDefined.assign(s.sizes.size(), false);
  s.crcs.assign(s.sizes.size(), 0);
  // A folder of one stream with a folder CRC gives that stream its CRC.
  uint64_t unknown = 0;
  for (size_t i = 0, k = 0; i < a.folders.size(); k += s.counts[i], ++i) {
    if (s.counts[i] == 1 && a.folders[i].crcDefined) {
      s.crcDefined[k] = true;
      s.crcs[k] = a.folders[i].crc;
    } else {
      unknown += s.counts[i];
    }
  }
  for (; type != kEnd && !r.failed(); type = r.number()) {
    if (type == kCrc) {
      std::vector<bool> defined;
      std::vector<uint32_t> crcs;
      readDigests(r, unknown, &defined, &crcs);
      size_t d = 0;
      for (size_t i = 0, k = 0; i < a.folders.size() && !r.failed(); k += s.counts[i], ++i) {
        if (s.counts[i] == 1 && a.folders[i].crcDefined) continue;
        for (uint64_t j = 0; j < s.counts[i]; ++j, ++d) {
          s.crcDefined[k + j] = defined[d];
          s.crcs[k + j] = crcs[d];
        }
      }
    } else {
      r.skip(r.count(1));  // an attribute we do not use
    }
  }
}

void readStreamsInfo(Reader& r, Archive& a, SubStreams* subStreams) {
  for (uint64_t type = r.number(); type != kEnd && !r.failed(); type = r.number()) {
    if (type == kPackInfo) {
      readPackInfo(r, a);
    } else if (type == kUnpackInfo) {
      readUnpackInfo(r, a);
    } else if (type == kSubStreamsInfo && subStreams) {
      readSubStreamsInfo(r, a, *subStreams);
    } else {
      r.fail(Status::kCorrupt);
    }
  }
  if (subStreams && subStreams->counts.empty() && !r.failed()) {
    // No substream record: one stream per folder.
    for (const Folder& f : a.folders) {
      subStreams->counts.push_back(1);
      subStreams->sizes.push_back(f.unpackSize());
      subStreams->crcDefined.push_back(f.crcDefined);
      subStreams->crcs.push_back(f.crc);
    }
  }
}

void readFilesInfo(Reader& r, Archive& a) {
  // A file takes at least one header byte (its name, or its share of the
  // property bit fields and times); more files than bytes is a lie.
  const uint64_t n = r.count(1);
  a.files.resize(n);
  std::vector<bool> emptyStream(n, false), emptyFile, anti;
  uint64_t numEmpty = 0;
  for (uint64_t type = r.number(); type != kEnd && !r.failed(); type = r.number()) {
    const uint64_t size = r.count(1);
    const uint8_t* data = r.bytes(size);
    if (!data) return;
    Reader p(data, size);
    switch (type) {
      case kEmptyStream:
        emptyStream = p.bits(n);
        numEmpty = std::count(emptyStream.begin(), emptyStream.end(), true);
        emptyFile.assign(numEmpty, false);
        anti.assign(numEmpty, false);
        break;
      case kEmptyFile:
        emptyFile = p.bits(numEmpty);
        break;
      case kAnti:
        anti = p.bits(numEmpty);
        break;
      case kName: {
        if (p.byte() != 0) return r.fail(Status::kUnsupportedMethod);
        for (FileEntry& f : a.files) {
          for (;;) {
            if (p.left() < 2) return r.fail(Status::kCorrupt);
            const uint8_t* c = p.bytes(2);
            const char16_t ch = static_cast<char16_t>(c[0] | c[1] << 8);
            if (ch == 0) break;
            f.name.push_back(ch);
          }
        }
        break;
      }
      case kMTime: {
        const std::vector<bool> defined = p.definedBits(n);
        if (p.byte() != 0) return r.fail(Status::kUnsupportedMethod);
        for (size_t i = 0; i < defined.size() && !p.failed(); ++i) {
          if (!defined[i]) continue;
          a.files[i].mtimeDefined = true;
          a.files[i].mtime = p.u64();
        }
        break;
      }
      case kWinAttributes: {
        const std::vector<bool> defined = p.definedBits(n);
        if (p.byte() != 0) return r.fail(Status::kUnsupportedMethod);
        for (size_t i = 0; i < defined.size() && !p.failed(); ++i) {
          if (!defined[i]) continue;
          a.files[i].attributesDefined = true;
          a.files[i].attributes = p.u32();
        }
        break;
      }
      default:
        break;  // times we do not apply, padding, start positions
    }
    if (p.failed()) return r.fail(p.status());
  }
  if (emptyFile.size() != numEmpty || anti.size() != numEmpty) return r.fail(Status::kCorrupt);
  for (size_t i = 0, e = 0; i < a.files.size(); ++i) {
    FileEntry& f = a.files[i];
    f.hasStream = !emptyStream[i];
    if (!f.hasStream) {
      f.isDirectory = !emptyFile[e];
      f.isAnti = anti[e];
      ++e;
    }
    if (f.attributesDefined && (f.attributes & 0x10)) f.isDirectory = true;
  }
}

// Decodes the folders of an encoded header into one buffer.
Status decodeHeaderFolders(ByteSource& source, Archive& packed, const Text& password, const Limits& limits,
                           std::vector<uint8_t>* out) {
  out->clear();
  for (size_t i = 0; i < packed.folders.size(); ++i) {
    const uint64_t size = packed.folders[i].unpackSize();
    if (size > limits.memoryBytes || size > limits.memoryBytes - out->size()) return Status::kOutOfMemory;
    std::unique_ptr<Stream> stream;
    Status s = openFolder(source, packed, i, password, limits, &stream);
    if (s != Status::kOk) return s;
    const size_t at = out->size();
    // Grown as the data arrives, so a header that only claims to be large
    // costs nothing.
    const bool encrypted = folderIsEncrypted(packed.folders[i]);
    for (uint64_t left = size; left > 0;) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(left, 1 << 20));
      const size_t end = out->size();
      out->resize(end + n);
      s = readFully(*stream, out->data() + end, n);
      if (s != Status::kOk) return encrypted && s == Status::kCorrupt ? Status::kWrongPassword : s;
      left -= n;
    }
    if (packed.folders[i].crcDefined && crc32(out->data() + at, static_cast<size_t>(size)) != packed.folders[i].crc) {
      return encrypted ? Status::kWrongPassword : Status::kCrcError;
    }
  }
  return Status::kOk;
}

Status setPackOffsets(ByteSource& source, Archive& a) {
  a.packOffsets.clear();
  uint64_t at = a.base + kSignatureHeaderSize;
  if (a.packPos > source.size() - std::min(source.size(), at)) return Status::kTruncated;
  at += a.packPos;
  for (const uint64_t size : a.packSizes) {
    a.packOffsets.push_back(at);
    if (size > source.size() - std::min(source.size(), at)) return Status::kTruncated;
    at += size;
  }
  return Status::kOk;
}

Status linkFiles(Archive& a, const SubStreams& s) {
  a.folderFiles.assign(a.folders.size(), {});
  size_t folder = 0, inFolder = 0, stream = 0;
  for (size_t i = 0; i < a.files.size(); ++i) {
    FileEntry& f = a.files[i];
    if (!f.hasStream) continue;
    while (folder < a.folders.size() && inFolder >= s.counts[folder]) {
      ++folder;
      inFolder = 0;
    }
    if (folder >= a.folders.size() || stream >= s.sizes.size()) return Status::kCorrupt;
    f.size = s.sizes[stream];
    f.crcDefined = s.crcDefined[stream];
    f.crc = s.crcs[stream];
    a.folderFiles[folder].files.push_back(i);
    ++inFolder;
    ++stream;
  }
  return Status::kOk;
}

}  // namespace

int Folder::mainOutput() const {
  for (uint32_t o = 0; o < unpackSizes.size(); ++o) {
    if (std::none_of(bindPairs.begin(), bindPairs.end(), [&](const BindPair& b) { return b.outIndex == o; })) {
      return static_cast<int>(o);
    }
  }
  return -1;
}

uint64_t Folder::unpackSize() const {
  const int main = mainOutput();
  return main < 0 ? 0 : unpackSizes[main];
}

bool findSignature(ByteSource& source, uint64_t from, uint64_t* offset) {
  constexpr size_t kChunk = 1 << 16;
  std::vector<uint8_t> buffer(kChunk + kSignatureHeaderSize);
  for (uint64_t at = from; at < source.size(); at += kChunk) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), source.size() - at));
    if (source.readAt(at, buffer.data(), n) != Status::kOk) return false;
    const size_t scan = std::min(n, kChunk);
    for (size_t i = 0; i < scan; ++i) {
      const uint8_t* hit = static_cast<const uint8_t*>(memchr(buffer.data() + i, '7', scan - i));
      if (!hit) break;
      i = static_cast<size_t>(hit - buffer.data());
      if (n - i < kSignatureHeaderSize) {
        uint8_t header[kSignatureHeaderSize];
        if (source.size() - (at + i) < kSignatureHeaderSize) continue;
        if (source.readAt(at + i, header, sizeof header) != Status::kOk) return false;
        if (memcmp(header, kSignature, 6) == 0 && crc32(header + 12, 20) == le32(header + 8)) {
          *offset = at + i;
          return true;
        }
        continue;
      }
      if (memcmp(hit, kSignature, 6) == 0 && crc32(hit + 12, 20) == le32(hit + 8)) {
        *offset = at + i;
        return true;
      }
    }
  }
  return false;
}

Status readArchive(ByteSource& source, const Text& password, const Limits& limits, Archive* archive) {
  *archive = Archive();
  uint64_t base = 0;
  if (!findSignature(source, 0, &base)) return Status::kNotArchive;
  uint8_t header[kSignatureHeaderSize];
  if (Status s = source.readAt(base, header, sizeof header); s != Status::kOk) return s;
  if (header[6] != 0) return Status::kUnsupportedMethod;  // a major version we do not know
  const uint64_t nextOffset = le64(header + 12);
  const uint64_t nextSize = le64(header + 20);
  const uint32_t nextCrc = le32(header + 28);
  archive->base = base;
  if (nextSize == 0) return Status::kOk;  // an empty archive
  const uint64_t start = base + kSignatureHeaderSize;
  if (nextOffset > source.size() - std::min(source.size(), start) ||
      nextSize > source.size() - std::min(source.size(), start + nextOffset)) {
    return Status::kTruncated;
  }
  if (nextSize > limits.memoryBytes) return Status::kOutOfMemory;
  std::vector<uint8_t> bytes(static_cast<size_t>(nextSize));
  if (Status s = source.readAt(start + nextOffset, bytes.data(), bytes.size()); s != Status::kOk) return s;
  if (crc32(bytes.data(), bytes.size()) != nextCrc) return Status::kCrcError;

  // Encoded headers: each round unpacks the next header from a folder.
  for (int round = 0;; ++round) {
    Reader r(bytes.data(), bytes.size());
    const uint64_t type = r.number();
    if (type == kHeader) break;
    if (type != kEncodedHeader || round >= 4) return Status::kCorrupt;
    Archive packed;
    packed.base = base;
    readStreamsInfo(r, packed, nullptr);
    if (r.failed()) return r.status();
    if (packed.folders.empty()) return Status::kCorrupt;
    if (Status s = setPackOffsets(source, packed); s != Status::kOk) return s;
    for (const Folder& f : packed.folders) archive->headerEncrypted |= folderIsEncrypted(f);
    std::vector<uint8_t> next;
    if (Status s = decodeHeaderFolders(source, packed, password, limits, &next); s != Status::kOk) return s;
    bytes.swap(next);
  }

  Reader r(bytes.data(), bytes.size());
  r.number();  // kHeader
  SubStreams subStreams;
  uint64_t type = r.number();
  if (type == kArchiveProperties) {
    for (uint64_t t = r.number(); t != kEnd && !r.failed(); t = r.number()) r.skip(r.count(1));
    type = r.number();
  }
  if (type == kAdditionalStreamsInfo) {
    Archive ignored;
    readStreamsInfo(r, ignored, nullptr);
    type = r.number();
  }
  if (type == kMainStreamsInfo) {
    readStreamsInfo(r, *archive, &subStreams);
    type = r.number();
  }
  if (type == kFilesInfo) {
    readFilesInfo(r, *archive);
    type = r.number();
  }
  if (r.failed()) return r.status();
  if (type != kEnd) return Status::kCorrupt;
  if (Status s = setPackOffsets(source, *archive); s != Status::kOk) return s;
  if (subStreams.counts.size() != archive->folders.size()) return Status::kCorrupt;
  return linkFiles(*archive, subStreams);
}

}  // namespace zul::sevenzip
