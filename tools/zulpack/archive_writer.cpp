#include "archive_writer.h"

#include <errno.h>
#include <iconv.h>
#include <lzma.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

namespace zul::pack {
namespace {

// Header property ids of the 7z format.
enum PropertyId : uint8_t {
  kEnd = 0x00,
  kHeader = 0x01,
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
  kName = 0x11,
  kMTime = 0x14,
  kWinAttributes = 0x15,
  kEncodedHeader = 0x17,
};

constexpr uint8_t kSignature[8] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C, 0, 3};
constexpr size_t kStartHeaderSize = 32;
constexpr uint8_t kCoderIdLzma2[] = {0x21};
constexpr uint8_t kCoderIdX86[] = {0x03, 0x03, 0x01, 0x03};
constexpr uint8_t kCoderIdAes[] = {0x06, 0xF1, 0x07, 0x01};
constexpr unsigned kAesCyclesPower = 19;  // 2^19 SHA-256 rounds per key
constexpr size_t kAesBlock = 16;
constexpr size_t kSaltSize = 16;
constexpr size_t kIoChunk = 1 << 20;
constexpr uint32_t kDirectoryAttribute = 0x10;
constexpr uint64_t kMinSolidBlock = 16u << 20;
constexpr uint32_t kLargeDictionary = 32u << 20;

std::string utf8OfGbk(std::string_view gbk) {
  iconv_t cd = iconv_open("UTF-8", "GBK");
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(gbk);
  std::string out(gbk.size() * 3 + 4, '\0');
  char* in = const_cast<char*>(gbk.data());
  size_t inLeft = gbk.size();
  char* o = out.data();
  size_t outLeft = out.size();
  const bool ok = iconv(cd, &in, &inLeft, &o, &outLeft) != static_cast<size_t>(-1);
  iconv_close(cd);
  if (!ok) return std::string(gbk);
  out.resize(out.size() - outLeft);
  return out;
}

// ---- Byte sinks: compressed data flows from LZMA2 through AES to a file ----

class Sink {
 public:
  virtual ~Sink() = default;
  [[nodiscard]] virtual bool write(const uint8_t* data, size_t size) = 0;
};

class FileSink : public Sink {
 public:
  explicit FileSink(FILE* file) : file_(file) {}
  bool write(const uint8_t* data, size_t size) override {
    if (size != 0 && fwrite(data, 1, size, file_) != size) return false;
    written_ += size;
    return true;
  }
  uint64_t written() const { return written_; }

 private:
  FILE* file_;
  uint64_t written_ = 0;
};

class StringSink : public Sink {
 public:
  bool write(const uint8_t* data, size_t size) override {
    bytes.append(reinterpret_cast<const char*>(data), size);
    return true;
  }
  std::string bytes;
};

struct AesKey {
  std::string salt;
  uint8_t key[32] = {};
};

// The 7z key: SHA-256 over 2^19 repetitions of salt, UTF-16LE password and
// the 64-bit little-endian repetition number.
bool deriveAesKey(const std::u16string& password, AesKey* key) {
  key->salt.resize(kSaltSize);
  if (RAND_bytes(reinterpret_cast<unsigned char*>(key->salt.data()), kSaltSize) != 1) return false;
  std::string round = key->salt;
  for (char16_t c : password) {
    round.push_back(static_cast<char>(c & 0xFF));
    round.push_back(static_cast<char>(c >> 8));
  }
  const size_t counterAt = round.size();
  round.append(8, '\0');
  constexpr uint64_t kRounds = uint64_t{1} << kAesCyclesPower;
  constexpr uint64_t kBatch = 4096;  // rounds hashed per update call
  std::string batch;
  batch.reserve(round.size() * kBatch);
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> sha(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!sha || EVP_DigestInit_ex(sha.get(), EVP_sha256(), nullptr) != 1) return false;
  for (uint64_t i = 0; i < kRounds; ++i) {
    for (int b = 0; b < 8; ++b) round[counterAt + b] = static_cast<char>(i >> (8 * b));
    batch += round;
    if (batch.size() >= round.size() * kBatch || i + 1 == kRounds) {
      if (EVP_DigestUpdate(sha.get(), batch.data(), batch.size()) != 1) return false;
      batch.clear();
    }
  }
  unsigned length = 0;
  return EVP_DigestFinal_ex(sha.get(), key->key, &length) == 1 && length == 32;
}

// AES-256-CBC without padding; the tail is filled with zero bytes to a whole
// block, which the 7z decoder drops by the unpack size it knows.
class CipherSink : public Sink {
 public:
  CipherSink(Sink& next) : next_(next), ctx_(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free) {}
  [[nodiscard]] bool start(const AesKey& key, std::string* iv) {
    iv->resize(kAesBlock);
    auto* ivBytes = reinterpret_cast<unsigned char*>(iv->data());
    return ctx_ && RAND_bytes(ivBytes, kAesBlock) == 1 &&
           EVP_EncryptInit_ex(ctx_.get(), EVP_aes_256_cbc(), nullptr, key.key, ivBytes) == 1 &&
           EVP_CIPHER_CTX_set_padding(ctx_.get(), 0) == 1;
  }
  bool write(const uint8_t* data, size_t size) override {
    buffer_.resize(size + kAesBlock);
    int produced = 0;
    if (EVP_EncryptUpdate(ctx_.get(), buffer_.data(), &produced, data, static_cast<int>(size)) != 1) return false;
    total_ += size;
    return next_.write(buffer_.data(), static_cast<size_t>(produced));
  }
  [[nodiscard]] bool finish() {
    const uint8_t zeros[kAesBlock] = {};
    const size_t pad = (kAesBlock - total_ % kAesBlock) % kAesBlock;
    if (pad != 0 && !write(zeros, pad)) return false;
    int produced = 0;
    buffer_.resize(kAesBlock);
    return EVP_EncryptFinal_ex(ctx_.get(), buffer_.data(), &produced) == 1 && produced == 0;
  }

 private:
  Sink& next_;
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx_;
  std::vector<uint8_t> buffer_;
  uint64_t total_ = 0;
};

// How one folder (compressed block) is coded, as the header describes it.
struct FolderCoding {
  bool x86 = false;
  bool aes = false;
  uint8_t lzma2Property = 0;
  std::string aesProperties;
  uint64_t unpackSize = 0;  // bytes out of LZMA2 (and of the x86 filter)
  uint64_t lzmaSize = 0;    // bytes out of the AES decoder: LZMA2's input
  uint64_t packSize = 0;    // bytes stored
};

// Feeds bytes through [x86 +] LZMA2 [+ AES] into `out`.
class FolderEncoder {
 public:
  FolderEncoder(Sink& out) : out_(out), cipher_(out) {}
  ~FolderEncoder() { lzma_end(&stream_); }

  [[nodiscard]] bool start(bool x86, int preset, uint64_t expectedSize, const AesKey* key, FolderCoding* coding,
                           std::string* error) {
    coding_ = coding;
    coding->x86 = x86;
    coding->aes = key != nullptr;
    lzma_options_lzma options;
    if (lzma_lzma_preset(&options, static_cast<uint32_t>(std::clamp(preset, 0, 9)))) {
      *error = "unsupported compression level";
      return false;
    }
    // 7-Zip 26 uses a 32 MiB dictionary from level 5 on; a dictionary larger
    // than the data only costs the extracting side memory.
    if (preset >= 5 && options.dict_size < kLargeDictionary) options.dict_size = kLargeDictionary;
    uint64_t dictionary = LZMA_DICT_SIZE_MIN;
    while (dictionary < expectedSize && dictionary < options.dict_size) dictionary *= 2;
    options.dict_size = static_cast<uint32_t>(std::min<uint64_t>(dictionary, options.dict_size));
    lzma_filter filters[3];
    size_t n = 0;
    if (x86) filters[n++] = {LZMA_FILTER_X86, nullptr};
    filters[n++] = {LZMA_FILTER_LZMA2, &options};
    filters[n] = {LZMA_VLI_UNKNOWN, nullptr};
    if (lzma_properties_encode(&filters[n - 1], &coding->lzma2Property) != LZMA_OK ||
        lzma_raw_encoder(&stream_, filters) != LZMA_OK) {
      *error = "cannot start the LZMA2 encoder";
      return false;
    }
    if (key != nullptr) {
      std::string iv;
      if (!cipher_.start(*key, &iv)) {
        *error = "cannot start AES encryption";
        return false;
      }
      // Salt and IV both present: first byte flags them and holds the cycle
      // power, the second holds their sizes minus one.
      coding->aesProperties.push_back(static_cast<char>(0xC0 | kAesCyclesPower));
      coding->aesProperties.push_back(static_cast<char>((kSaltSize - 1) << 4 | (kAesBlock - 1)));
      coding->aesProperties += key->salt;
      coding->aesProperties += iv;
    }
    return true;
  }

  [[nodiscard]] bool write(const uint8_t* data, size_t size) {
    coding_->unpackSize += size;
    stream_.next_in = data;
    stream_.avail_in = size;
    while (stream_.avail_in != 0) {
      if (!run(LZMA_RUN)) return false;
    }
    return true;
  }

  [[nodiscard]] bool finish() {
    stream_.next_in = nullptr;
    stream_.avail_in = 0;
    for (;;) {
      const lzma_ret ret = code(LZMA_FINISH);
      if (ret == LZMA_STREAM_END) break;
      if (ret != LZMA_OK) return false;
    }
    if (coding_->aes && !cipher_.finish()) return false;
    coding_->packSize = coding_->aes ? (coding_->lzmaSize + kAesBlock - 1) / kAesBlock * kAesBlock
                                     : coding_->lzmaSize;
    return true;
  }

 private:
  bool run(lzma_action action) { return code(action) == LZMA_OK; }

  lzma_ret code(lzma_action action) {
    uint8_t buffer[1 << 16];
    stream_.next_out = buffer;
    stream_.avail_out = sizeof buffer;
    const lzma_ret ret = lzma_code(&stream_, action);
    const size_t produced = sizeof buffer - stream_.avail_out;
    coding_->lzmaSize += produced;
    Sink& next = coding_->aes ? static_cast<Sink&>(cipher_) : out_;
    if (produced != 0 && !next.write(buffer, produced)) return LZMA_PROG_ERROR;
    return ret;
  }

  Sink& out_;
  CipherSink cipher_;
  lzma_stream stream_ = LZMA_STREAM_INIT;
  FolderCoding* coding_ = nullptr;
};

// Serialises header structures.
class HeaderWriter {
 public:
  void byte(uint8_t b) { out.push_back(static_cast<char>(b)); }
  // The 7z variable-length number: leading one bits in the first byte count
  // the extra little-endian bytes that follow.
  void number(uint64_t value) {
    int extra = 0;
    while (extra < 8 && value >= (uint64_t{1} << (7 * (extra + 1)))) ++extra;
    uint8_t first = extra == 8 ? 0xFF : static_cast<uint8_t>(0xFF00 >> extra);
    if (extra < 8) first |= static_cast<uint8_t>(value >> (8 * extra));
    byte(first);
    for (int i = 0; i < extra; ++i) byte(static_cast<uint8_t>(value >> (8 * i)));
  }
  void u32(uint32_t v) {
    for (int i = 0; i < 4; ++i) byte(static_cast<uint8_t>(v >> (8 * i)));
  }
  void u64(uint64_t v) {
    for (int i = 0; i < 8; ++i) byte(static_cast<uint8_t>(v >> (8 * i)));
  }
  void bits(const std::vector<bool>& v) {
    for (size_t i = 0; i < v.size(); i += 8) {
      uint8_t b = 0;
      for (size_t j = 0; j < 8 && i + j < v.size(); ++j) {
        if (v[i + j]) b |= static_cast<uint8_t>(0x80 >> j);
      }
      byte(b);
    }
  }
  void bytes(std::string_view s) { out.append(s); }
  void coder(const uint8_t* id, size_t idSize, std::string_view properties) {
    byte(static_cast<uint8_t>(idSize | (properties.empty() ? 0 : 0x20)));
    out.append(reinterpret_cast<const char*>(id), idSize);
    if (!properties.empty()) {
      number(properties.size());
      bytes(properties);
    }
  }
  // Coders in decoding order: AES, LZMA2, x86; each one's input is bound to
  // the previous one's output.
  void folder(const FolderCoding& f) {
    const size_t coders = 1 + (f.aes ? 1 : 0) + (f.x86 ? 1 : 0);
    number(coders);
    if (f.aes) coder(kCoderIdAes, sizeof kCoderIdAes, f.aesProperties);
    coder(kCoderIdLzma2, sizeof kCoderIdLzma2, std::string_view(reinterpret_cast<const char*>(&f.lzma2Property), 1));
    if (f.x86) coder(kCoderIdX86, sizeof kCoderIdX86, {});
    for (size_t i = 1; i < coders; ++i) {
      number(i);
      number(i - 1);
    }
  }
  void folderUnpackSizes(const FolderCoding& f) {
    if (f.aes) number(f.lzmaSize);
    number(f.unpackSize);
    if (f.x86) number(f.unpackSize);
  }
  // PackInfo and UnpackInfo of `folders`, whose streams start `packPos`
  // bytes after the start header.
  void streams(uint64_t packPos, const std::vector<FolderCoding>& folders, const std::vector<uint32_t>* folderCrcs) {
    byte(kPackInfo);
    number(packPos);
    number(folders.size());
    byte(kSize);
    for (const FolderCoding& f : folders) number(f.packSize);
    byte(kEnd);
    byte(kUnpackInfo);
    byte(kFolder);
    number(folders.size());
    byte(0);  // not external
    for (const FolderCoding& f : folders) folder(f);
    byte(kCodersUnpackSize);
    for (const FolderCoding& f : folders) folderUnpackSizes(f);
    if (folderCrcs != nullptr) {
      byte(kCrc);
      byte(1);  // all defined
      for (uint32_t crc : *folderCrcs) u32(crc);
    }
    byte(kEnd);
  }

  std::string out;
};

// ---- Entries ----

struct Item {
  const ArchiveEntry* entry;
  std::u16string path;  // "/"-separated
  uint64_t size = 0;
  bool x86 = false;
  std::string sortKey;  // lower-case extension, then lower-case path
};

std::string describe(const ArchiveEntry& entry) {
  std::string what = "'" + utf8OfGbk(entry.name) + "'";
  if (!entry.hostPath.empty()) what += " (" + entry.hostPath + ")";
  return what;
}

// Why Windows cannot create a file or folder named `part`; null when it can.
const char* windowsNameProblem(const Text& part) {
  for (size_t i = 0; i < part.size(); ++i) {
    const auto b = static_cast<unsigned char>(part[i]);
    if (isGbkLeadByte(b) && i + 1 < part.size()) {
      ++i;  // a trail byte may be 0x5C or 0x7C ('|') and belongs to its character
    } else if (b < 0x20 || strchr("<>\"|?*", b) != nullptr) {
      return "holds a character that Windows file names cannot hold";
    }
  }
  // Neither byte is ever a GBK trail byte.
  if (part.back() == ' ' || part.back() == '.') return "ends with a blank or a dot, which Windows drops";
  const Text device = asciiLower(part.substr(0, part.find('.')));
  if (device == "con" || device == "prn" || device == "aux" || device == "nul" ||
      (device.size() == 4 && (device.starts_with("com") || device.starts_with("lpt")) && device[3] >= '1' &&
       device[3] <= '9')) {
    return "is a device name on Windows";
  }
  return nullptr;
}

bool prepareItem(const ArchiveEntry& entry, Item* item, std::string* error) {
  item->entry = &entry;
  const std::vector<Text> parts = [&] {
    Text slashes = entry.name;
    for (size_t i = 0; i < slashes.size(); ++i) {
      if (isGbkLeadByte(static_cast<unsigned char>(slashes[i]))) {
        ++i;
      } else if (slashes[i] == '/') {
        slashes[i] = '\\';
      }
    }
    std::vector<Text> split = splitGbk(slashes, '\\');
    if (split.size() > 1 && split.back().empty()) split.pop_back();  // "folder\"
    return split;
  }();
  Text normalised;
  for (const Text& part : parts) {
    if (part.empty() || part == "." || part == ".." || part.find(':') != Text::npos) {
      *error = describe(entry) + ": the archive name must be a relative path without empty, \".\" or \"..\" parts";
      return false;
    }
    if (const char* problem = windowsNameProblem(part)) {
      *error = describe(entry) + ": the archive name " + problem;
      return false;
    }
    if (!normalised.empty()) normalised += '/';
    normalised += part;
  }
  if (!gbkToUtf16(normalised, &item->path)) {
    *error = describe(entry) + ": the archive name is not valid GBK text";
    return false;
  }
  if (entry.isDirectory) return true;
  if (entry.hostPath.empty()) {
    item->size = entry.data.size();
  } else {
    struct stat st;
    if (stat(entry.hostPath.c_str(), &st) != 0) {
      *error = describe(entry) + ": cannot read: " + strerror(errno);
      return false;
    }
    if (!S_ISREG(st.st_mode)) {
      *error = describe(entry) + ": not a regular file";
      return false;
    }
    item->size = static_cast<uint64_t>(st.st_size);
  }
  const Text base = asciiLower(parts.back());
  const size_t dot = base.rfind('.');
  const Text extension = dot == Text::npos ? Text() : base.substr(dot + 1);
  item->x86 = extension == "exe" || extension == "dll" || extension == "sys" || extension == "ocx";
  item->sortKey = extension + '\0' + asciiLower(normalised);
  return true;
}

std::u16string foldCase(const std::u16string& s) {
  std::u16string folded = s;
  for (char16_t& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char16_t>(c - 'A' + 'a');
  }
  return folded;
}

// ---- Compression of folders ----

struct FolderPlan {
  std::vector<const Item*> items;
  uint64_t bytes = 0;
  bool x86 = false;
};

struct FolderOutput {
  FolderCoding coding;
  std::vector<uint32_t> crcs;  // one per item
  FILE* scratch = nullptr;     // the packed bytes
  ~FolderOutput() {
    if (scratch != nullptr) fclose(scratch);
  }
};

// An unlinked temporary file in `folder`, so that it vanishes with the process.
FILE* openScratch(const std::string& folder) {
  std::string pattern = folder + "/.zulpack-XXXXXX";
  const int fd = mkstemp(pattern.data());
  if (fd < 0) return nullptr;
  unlink(pattern.c_str());
  FILE* file = fdopen(fd, "w+b");
  if (file == nullptr) close(fd);
  return file;
}

class FolderJob {
 public:
  FolderJob(const FolderPlan& plan, const ArchiveOptions& options, const AesKey* key, std::atomic<uint64_t>& done,
            const std::atomic<bool>& cancelled)
      : plan_(plan), options_(options), key_(key), done_(done), cancelled_(cancelled) {}

  bool run(const std::string& scratchFolder, FolderOutput* output, std::string* error) {
    output->scratch = openScratch(scratchFolder);
    if (output->scratch == nullptr) {
      *error = "cannot create a temporary file in '" + scratchFolder + "': " + strerror(errno);
      return false;
    }
    FileSink sink(output->scratch);
    FolderEncoder encoder(sink);
    if (!encoder.start(plan_.x86, options_.preset, plan_.bytes, key_, &output->coding, error)) return false;
    std::vector<uint8_t> buffer(kIoChunk);
    for (const Item* item : plan_.items) {
      uLong crc = crc32(0, nullptr, 0);
      const ArchiveEntry& entry = *item->entry;
      uint64_t fed = 0;
      const auto feed = [&](const uint8_t* data, size_t size) {
        crc = crc32_z(crc, data, size);
        fed += size;
        done_ += size;
        if (!encoder.write(data, size)) {
          *error = describe(entry) + ": compression failed (out of memory or disk space?)";
          return false;
        }
        return true;
      };
      if (entry.hostPath.empty()) {
        for (size_t at = 0; at < entry.data.size() && !cancelled_; at += kIoChunk) {
          const size_t n = std::min(kIoChunk, entry.data.size() - at);
          if (!feed(reinterpret_cast<const uint8_t*>(entry.data.data()) + at, n)) return false;
        }
      } else {
        std::unique_ptr<FILE, decltype(&fclose)> in(fopen(entry.hostPath.c_str(), "rb"), fclose);
        if (!in) {
          *error = describe(entry) + ": cannot read: " + strerror(errno);
          return false;
        }
        size_t n;
        while (!cancelled_ && fed <= item->size && (n = fread(buffer.data(), 1, buffer.size(), in.get())) != 0) {
          if (!feed(buffer.data(), n)) return false;
        }
        if (ferror(in.get())) {
          *error = describe(entry) + ": read error";
          return false;
        }
      }
      if (cancelled_) return false;
      if (fed != item->size) {
        *error = describe(entry) + ": the file changed size while it was being packed";
        return false;
      }
      output->crcs.push_back(static_cast<uint32_t>(crc));
    }
    if (!encoder.finish() || fflush(output->scratch) != 0 || sink.written() != output->coding.packSize) {
      *error = "cannot write compressed data to a temporary file in '" + scratchFolder + "'";
      return false;
    }
    return true;
  }

 private:
  const FolderPlan& plan_;
  const ArchiveOptions& options_;
  const AesKey* key_;
  std::atomic<uint64_t>& done_;
  const std::atomic<bool>& cancelled_;
};

std::vector<FolderPlan> planFolders(const std::vector<Item>& items, const ArchiveOptions& options) {
  std::vector<const Item*> streams;
  uint64_t total = 0;
  for (const Item& item : items) {
    if (!item.entry->isDirectory && item.size != 0) {
      streams.push_back(&item);
      total += item.size;
    }
  }
  std::vector<FolderPlan> folders;
  if (!options.solid) {
    for (const Item* item : streams) folders.push_back(FolderPlan{{item}, item->size, item->x86});
    return folders;
  }
  // Executables first in their own blocks (they take the x86 filter), then
  // the rest; by extension so that similar files share a dictionary. Blocks
  // are cut at about total / threads bytes: each thread gets work, and every
  // cut, which restarts the dictionary, costs compression.
  std::stable_sort(streams.begin(), streams.end(), [](const Item* a, const Item* b) {
    if (a->x86 != b->x86) return a->x86;
    return a->sortKey < b->sortKey;
  });
  const uint64_t threads = static_cast<uint64_t>(std::max(1, options.threads));
  const uint64_t limit = threads == 1 ? UINT64_MAX : std::max(kMinSolidBlock, total / threads + 1);
  for (const Item* item : streams) {
    if (folders.empty() || folders.back().x86 != item->x86 || folders.back().bytes >= limit) {
      folders.push_back(FolderPlan{{}, 0, item->x86});
    }
    folders.back().items.push_back(item);
    folders.back().bytes += item->size;
  }
  return folders;
}

// Compresses every folder on up to `options.threads` threads, largest first.
bool compressFolders(const std::vector<FolderPlan>& plans, const ArchiveOptions& options, const AesKey* key,
                     const std::string& scratchFolder, std::vector<FolderOutput>* outputs, std::string* error) {
  outputs->clear();
  outputs->resize(plans.size());
  std::vector<size_t> order(plans.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return plans[a].bytes > plans[b].bytes; });

  uint64_t total = 0;
  for (const FolderPlan& plan : plans) total += plan.bytes;
  std::atomic<uint64_t> done{0};
  std::atomic<size_t> next{0};
  std::atomic<bool> cancelled{false};
  std::mutex mutex;
  std::condition_variable finished;
  size_t running = 0;
  std::string firstError;

  const auto worker = [&] {
    for (;;) {
      const size_t at = next++;
      if (at >= order.size() || cancelled) break;
      std::string jobError;
      FolderJob job(plans[order[at]], options, key, done, cancelled);
      if (!job.run(scratchFolder, &(*outputs)[order[at]], &jobError)) {
        std::lock_guard<std::mutex> lock(mutex);
        if (!cancelled && !jobError.empty()) firstError = jobError;
        cancelled = true;
        break;
      }
    }
    std::lock_guard<std::mutex> lock(mutex);
    --running;
    finished.notify_all();
  };

  const size_t threadCount = std::min<size_t>(std::max(1, options.threads), std::max<size_t>(1, plans.size()));
  std::vector<std::thread> threads;
  running = threadCount;
  for (size_t i = 0; i < threadCount; ++i) threads.emplace_back(worker);
  {
    std::unique_lock<std::mutex> lock(mutex);
    while (running != 0) {
      finished.wait_for(lock, std::chrono::milliseconds(100));
      if (options.progress) {
        lock.unlock();
        options.progress(std::min(done.load(), total), total);
        lock.lock();
      }
    }
  }
  for (std::thread& t : threads) t.join();
  if (cancelled) {
    *error = firstError.empty() ? "compression failed" : firstError;
    return false;
  }
  return true;
}

// ---- Headers ----

std::string buildHeader(const std::vector<FolderPlan>& plans,
                        const std::vector<FolderOutput>& outputs, const std::vector<const Item*>& order) {
  HeaderWriter h;
  h.byte(kHeader);
  if (!plans.empty()) {
    h.byte(kMainStreamsInfo);
    std::vector<FolderCoding> codings;
    for (const FolderOutput& output : outputs) codings.push_back(output.coding);
    h.streams(0, codings, nullptr);
    h.byte(kSubStreamsInfo);
    const bool multiple = std::any_of(plans.begin(), plans.end(), [](const FolderPlan& p) { return p.items.size() != 1; });
    if (multiple) {
      h.byte(kNumUnpackStream);
      for (const FolderPlan& plan : plans) h.number(plan.items.size());
      h.byte(kSize);
      for (const FolderPlan& plan : plans) {
        for (size_t i = 0; i + 1 < plan.items.size(); ++i) h.number(plan.items[i]->size);
      }
    }
    h.byte(kCrc);
    h.byte(1);  // all defined
    for (const FolderOutput& output : outputs) {
      for (uint32_t crc : output.crcs) h.u32(crc);
    }
    h.byte(kEnd);
    h.byte(kEnd);
  }

  h.byte(kFilesInfo);
  h.number(order.size());
  std::vector<bool> emptyStream, emptyFile;
  for (const Item* item : order) {
    const bool empty = item->entry->isDirectory || item->size == 0;
    emptyStream.push_back(empty);
    if (empty) emptyFile.push_back(!item->entry->isDirectory);
  }
  const auto property = [&h](uint8_t id, const HeaderWriter& body) {
    h.byte(id);
    h.number(body.out.size());
    h.bytes(body.out);
  };
  if (!emptyFile.empty()) {
    HeaderWriter body;
    body.bits(emptyStream);
    property(kEmptyStream, body);
    if (std::find(emptyFile.begin(), emptyFile.end(), true) != emptyFile.end()) {
      HeaderWriter files;
      files.bits(emptyFile);
      property(kEmptyFile, files);
    }
  }
  {
    HeaderWriter body;
    body.byte(0);  // not external
    for (const Item* item : order) {
      for (char16_t c : item->path) {
        body.byte(static_cast<uint8_t>(c & 0xFF));
        body.byte(static_cast<uint8_t>(c >> 8));
      }
      body.byte(0);
      body.byte(0);
    }
    property(kName, body);
  }
  std::vector<bool> hasTime;
  for (const Item* item : order) hasTime.push_back(item->entry->mtime != 0);
  if (std::find(hasTime.begin(), hasTime.end(), true) != hasTime.end()) {
    HeaderWriter body;
    const bool all = std::find(hasTime.begin(), hasTime.end(), false) == hasTime.end();
    body.byte(all ? 1 : 0);
    if (!all) body.bits(hasTime);
    body.byte(0);  // not external
    for (const Item* item : order) {
      if (item->entry->mtime != 0) body.u64(item->entry->mtime);
    }
    property(kMTime, body);
  }
  {
    HeaderWriter body;
    body.byte(1);  // all defined
    body.byte(0);  // not external
    for (const Item* item : order) {
      body.u32(item->entry->attributes | (item->entry->isDirectory ? kDirectoryAttribute : 0));
    }
    property(kWinAttributes, body);
  }
  h.byte(kEnd);
  h.byte(kEnd);
  return std::move(h.out);
}

// ---- Output file ----

// The archive file under construction; removed unless committed.
class PendingFile {
 public:
  ~PendingFile() {
    if (file_ != nullptr) fclose(file_);
    if (!path_.empty()) unlink(path_.c_str());
  }
  bool create(const std::string& target, std::string* error) {
    path_ = target + ".XXXXXX";
    const int fd = mkstemp(path_.data());
    if (fd >= 0) file_ = fdopen(fd, "wb");
    if (file_ == nullptr) {
      *error = "cannot create '" + target + "': " + strerror(errno);
      if (fd >= 0) {
        close(fd);
        unlink(path_.c_str());
      }
      path_.clear();
      return false;
    }
    fchmod(fd, 0644);
    return true;
  }
  FILE* file() { return file_; }
  bool commit(const std::string& target, std::string* error) {
    const bool ok = fflush(file_) == 0 && fsync(fileno(file_)) == 0;
    const bool closed = fclose(file_) == 0;
    file_ = nullptr;
    if (!ok || !closed || rename(path_.c_str(), target.c_str()) != 0) {
      *error = "cannot write '" + target + "': " + strerror(errno);
      return false;
    }
    path_.clear();
    return true;
  }

 private:
  std::string path_;
  FILE* file_ = nullptr;
};

std::string folderOfHostPath(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool copyScratch(FILE* from, FileSink& to) {
  if (fseek(from, 0, SEEK_SET) != 0) return false;
  std::vector<uint8_t> buffer(kIoChunk);
  size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), from)) != 0) {
    if (!to.write(buffer.data(), n)) return false;
  }
  return !ferror(from);
}

void startHeader(uint64_t nextOffset, std::string_view next, uint8_t out[kStartHeaderSize]) {
  HeaderWriter h;
  h.u64(nextOffset);
  h.u64(next.size());
  h.u32(static_cast<uint32_t>(crc32_z(0, reinterpret_cast<const Bytef*>(next.data()), next.size())));
  memcpy(out, kSignature, 8);
  const uint32_t crc = static_cast<uint32_t>(crc32_z(0, reinterpret_cast<const Bytef*>(h.out.data()), h.out.size()));
  for (int i = 0; i < 4; ++i) out[8 + i] = static_cast<uint8_t>(crc >> (8 * i));
  memcpy(out + 12, h.out.data(), 20);
}

std::string volumeName(const std::string& baseName, int number) {
  char suffix[16];
  snprintf(suffix, sizeof suffix, ".%03d", number);
  return baseName + suffix;
}

}  // namespace

bool gbkToUtf16(std::string_view gbk, std::u16string* utf16) {
  utf16->clear();
  if (gbk.empty()) return true;
  iconv_t cd = iconv_open("UTF-16LE", "GBK");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string out(gbk.size() * 2 + 4, '\0');
  char* in = const_cast<char*>(gbk.data());
  size_t inLeft = gbk.size();
  char* o = out.data();
  size_t outLeft = out.size();
  const bool ok = iconv(cd, &in, &inLeft, &o, &outLeft) != static_cast<size_t>(-1) && inLeft == 0;
  iconv_close(cd);
  if (!ok) return false;
  const size_t bytes = out.size() - outLeft;
  for (size_t i = 0; i + 1 < bytes; i += 2) {
    const char16_t c = static_cast<char16_t>(static_cast<unsigned char>(out[i]) | static_cast<unsigned char>(out[i + 1]) << 8);
    if (c == 0) return false;
    utf16->push_back(c);
  }
  return true;
}

bool writeArchive(const std::vector<ArchiveEntry>& entries, const ArchiveOptions& options, const std::string& outPath,
                  std::string* error) {
  std::vector<Item> items(entries.size());
  std::set<std::u16string> seen;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (!prepareItem(entries[i], &items[i], error)) return false;
    if (!seen.insert(foldCase(items[i].path)).second) {
      *error = describe(entries[i]) + ": more than one entry has this name";
      return false;
    }
  }

  std::unique_ptr<AesKey> key;
  if (!options.password.empty()) {
    std::u16string password;
    key = std::make_unique<AesKey>();
    if (!gbkToUtf16(options.password, &password)) {
      *error = "the password is not valid GBK text";
      return false;
    }
    if (!deriveAesKey(password, key.get())) {
      *error = "cannot derive the AES key";
      return false;
    }
  }

  const std::string outFolder = folderOfHostPath(outPath);
  const std::vector<FolderPlan> plans = planFolders(items, options);
  std::vector<FolderOutput> outputs;
  if (!compressFolders(plans, options, key.get(), outFolder, &outputs, error)) return false;

  // File list: the entries without contents in their given order, then the
  // others in the order of their streams.
  std::vector<const Item*> order;
  for (const Item& item : items) {
    if (item.entry->isDirectory || item.size == 0) order.push_back(&item);
  }
  for (const FolderPlan& plan : plans) order.insert(order.end(), plan.items.begin(), plan.items.end());
  const std::string header = buildHeader(plans, outputs, order);

  PendingFile pending;
  if (!pending.create(outPath, error)) return false;
  FileSink archive(pending.file());
  uint8_t start[kStartHeaderSize] = {};
  const auto writeFailed = [&] {
    *error = "cannot write '" + outPath + "': " + strerror(errno);
    return false;
  };
  if (!archive.write(start, sizeof start)) return writeFailed();
  for (const FolderOutput& output : outputs) {
    if (!copyScratch(output.scratch, archive)) return writeFailed();
  }
  uint64_t nextOffset = archive.written() - kStartHeaderSize;
  std::string next = header;
  if (options.compressHeaders || key) {
    StringSink packed;
    FolderEncoder encoder(packed);
    FolderCoding coding;
    std::string encoderError;
    if (!encoder.start(false, options.preset, header.size(), key.get(), &coding, &encoderError) ||
        !encoder.write(reinterpret_cast<const uint8_t*>(header.data()), header.size()) || !encoder.finish()) {
      *error = "cannot compress the archive header: " + encoderError;
      return false;
    }
    HeaderWriter encoded;
    encoded.byte(kEncodedHeader);
    const std::vector<uint32_t> crc = {
        static_cast<uint32_t>(crc32_z(0, reinterpret_cast<const Bytef*>(header.data()), header.size()))};
    encoded.streams(nextOffset, {coding}, &crc);
    encoded.byte(kEnd);
    if (!archive.write(reinterpret_cast<const uint8_t*>(packed.bytes.data()), packed.bytes.size())) {
      return writeFailed();
    }
    nextOffset += packed.bytes.size();
    next = std::move(encoded.out);
  }
  if (!archive.write(reinterpret_cast<const uint8_t*>(next.data()), next.size())) return writeFailed();
  startHeader(nextOffset, next, start);
  if (fseek(pending.file(), 0, SEEK_SET) != 0 || fwrite(start, 1, sizeof start, pending.file()) != sizeof start) {
    return writeFailed();
  }
  if (!pending.commit(outPath, error)) return false;
  if (options.progress) {
    uint64_t total = 0;
    for (const FolderPlan& plan : plans) total += plan.bytes;
    options.progress(total, total);
  }
  return true;
}

bool splitVolumes(const std::string& archivePath, uint64_t volumeSize, const std::string& baseName,
                  std::string* error, int* volumeCount) {
  if (volumeSize == 0) {
    *error = "the volume size must be above 0";
    return false;
  }
  std::unique_ptr<FILE, decltype(&fclose)> in(fopen(archivePath.c_str(), "rb"), fclose);
  struct stat st;
  if (!in || fstat(fileno(in.get()), &st) != 0) {
    *error = "cannot read '" + archivePath + "': " + strerror(errno);
    return false;
  }
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  const uint64_t count = size == 0 ? 1 : (size + volumeSize - 1) / volumeSize;
  if (count > 999) {
    *error = "'" + archivePath + "' would need more than 999 volumes of " + std::to_string(volumeSize) + " bytes";
    return false;
  }
  std::vector<std::unique_ptr<PendingFile>> volumes;
  std::vector<uint8_t> buffer(kIoChunk);
  for (uint64_t v = 0; v < count; ++v) {
    volumes.push_back(std::make_unique<PendingFile>());
    const std::string name = volumeName(baseName, static_cast<int>(v + 1));
    if (!volumes.back()->create(name, error)) return false;
    uint64_t left = std::min(volumeSize, size - std::min(size, v * volumeSize));
    while (left != 0) {
      const size_t n = fread(buffer.data(), 1, static_cast<size_t>(std::min<uint64_t>(left, buffer.size())), in.get());
      if (n == 0 || fwrite(buffer.data(), 1, n, volumes.back()->file()) != n) {
        *error = "cannot copy '" + archivePath + "' to '" + name + "': " + strerror(errno);
        return false;
      }
      left -= n;
    }
  }
  for (uint64_t v = 0; v < count; ++v) {
    if (!volumes[v]->commit(volumeName(baseName, static_cast<int>(v + 1)), error)) {
      for (uint64_t done = 0; done < v; ++done) unlink(volumeName(baseName, static_cast<int>(done + 1)).c_str());
      return false;
    }
  }
  // A 7z volume reader goes on to the next number while such a file exists.
  for (int v = static_cast<int>(count) + 1; v <= 999; ++v) {
    if (unlink(volumeName(baseName, v).c_str()) != 0) break;
  }
  if (volumeCount != nullptr) *volumeCount = static_cast<int>(count);
  return true;
}

}  // namespace zul::pack
