#include "sevenzip/folder_decoder.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "platform/crypto.h"
#include "sevenzip/branch_filters.h"
#include "sevenzip/lzma2_decoder.h"
#include "sevenzip/lzma_decoder.h"
#include "sevenzip/text_codec.h"

namespace zul::sevenzip {
namespace {

constexpr size_t kInputBufferSize = 1 << 16;

// Method ids as stored in the coder records.
const std::string kCopy("\x00", 1);
const std::string kDelta("\x03", 1);
const std::string kX86Short("\x04", 1);
const std::string kArm64("\x0A", 1);
const std::string kLzma2("\x21", 1);
const std::string kLzma("\x03\x01\x01", 3);
const std::string kX86("\x03\x03\x01\x03", 4);
const std::string kBcj2("\x03\x03\x01\x1B", 4);
const std::string kArm("\x03\x03\x05\x01", 4);
const std::string kArmThumb("\x03\x03\x07\x01", 4);
const std::string kArmShort("\x07", 1);
const std::string kArmThumbShort("\x08", 1);
const std::string kDeflate("\x04\x01\x08", 3);
const std::string kAes("\x06\xF1\x07\x01", 4);

// A byte range of the archive.
class PackStream : public Stream {
 public:
  PackStream(ByteSource& source, uint64_t offset, uint64_t size) : source_(source), offset_(offset), left_(size) {}
  Status read(uint8_t* buffer, size_t size, size_t* got) override {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(size, left_));
    *got = 0;
    if (n == 0) return Status::kOk;
    if (Status s = source_.readAt(offset_, buffer, n); s != Status::kOk) return s;
    offset_ += n;
    left_ -= n;
    *got = n;
    return Status::kOk;
  }

 private:
  ByteSource& source_;
  uint64_t offset_;
  uint64_t left_;
};

// Buffered input of a coder, read from the stream that feeds it.
class Input {
 public:
  explicit Input(std::unique_ptr<Stream> stream) : stream_(std::move(stream)), buffer_(kInputBufferSize) {}

  // Refills when empty; afterwards empty() means the input has ended.
  Status fill() {
    if (pos_ < size_ || ended_) return Status::kOk;
    pos_ = size_ = 0;
    size_t got = 0;
    if (Status s = stream_->read(buffer_.data(), buffer_.size(), &got); s != Status::kOk) return s;
    size_ = got;
    ended_ = got == 0;
    return Status::kOk;
  }
  const uint8_t* data() const { return buffer_.data() + pos_; }
  size_t available() const { return size_ - pos_; }
  void consume(size_t n) { pos_ += n; }
  bool ended() const { return ended_; }
  // Reads one byte; false at the end.
  bool byte(uint8_t* b, Status* status) {
    if (pos_ == size_) {
      *status = fill();
      if (*status != Status::kOk || pos_ == size_) return false;
    }
    *b = buffer_[pos_++];
    return true;
  }

 private:
  std::unique_ptr<Stream> stream_;
  std::vector<uint8_t> buffer_;
  size_t pos_ = 0;
  size_t size_ = 0;
  bool ended_ = false;
};

// LZMA and LZMA2: the decoder writes into a window sized to the smaller of
// the dictionary and the output, and read() hands out what it produced.
template <typename Decoder>
class LzStream : public Stream {
 public:
  LzStream(std::unique_ptr<Stream> in, uint64_t outSize) : in_(std::move(in)), left_(outSize) {}

  Status init(uint64_t dictionary, const Limits& limits) {
    const uint64_t capacity = std::max<uint64_t>(1, std::min(dictionary, left_));
    if (capacity > limits.memoryBytes || capacity > SIZE_MAX) return Status::kOutOfMemory;
    buffer_.reset(new (std::nothrow) uint8_t[static_cast<size_t>(capacity)]);
    if (!buffer_) return Status::kOutOfMemory;
    window_ = {buffer_.get(), static_cast<size_t>(capacity), 0, 0};
    return Status::kOk;
  }
  Decoder& decoder() { return decoder_; }

  Status read(uint8_t* buffer, size_t size, size_t* got) override {
    *got = 0;
    while (mark_ == window_.pos) {
      if (left_ == 0 || size == 0) return Status::kOk;
      if (window_.pos == window_.capacity) window_.pos = mark_ = 0;
      if (Status s = in_.fill(); s != Status::kOk) return s;
      const size_t limit = window_.pos + static_cast<size_t>(std::min<uint64_t>(window_.capacity - window_.pos, left_));
      size_t taken = in_.available();
      if (decoder_.decode(window_, limit, in_.data(), &taken, in_.ended()) != LzmaResult::kOk) return Status::kCorrupt;
      in_.consume(taken);
      const size_t produced = window_.pos - mark_;
      left_ -= produced;
      if (produced == 0 && taken == 0 && (in_.ended() || finished())) return Status::kCorrupt;
    }
    const size_t n = std::min(size, window_.pos - mark_);
    memcpy(buffer, window_.buffer + mark_, n);
    mark_ += n;
    *got = n;
    return Status::kOk;
  }

 private:
  bool finished() const;

  Input in_;
  uint64_t left_;  // bytes still to decode
  std::unique_ptr<uint8_t[]> buffer_;
  LzWindow window_;
  size_t mark_ = 0;  // window bytes before this were handed out
  Decoder decoder_;
};

template <>
bool LzStream<LzmaDecoder>::finished() const { return decoder_.sawEndMarker(); }
template <>
bool LzStream<Lzma2Decoder>::finished() const { return decoder_.finished(); }

// A filter that works in place on a buffer and may keep a few trailing
// bytes for the next call (branch converters, delta, AES).
class FilterStream : public Stream {
 public:
  enum class Kind { kX86, kArm, kArmThumb, kArm64, kDelta, kAes };

  FilterStream(std::unique_ptr<Stream> in, Kind kind) : in_(std::move(in)), kind_(kind), buffer_(kInputBufferSize) {}

  void setDeltaDistance(unsigned d) { delta_ = d; }
  void setArm64Start(uint32_t pc) { ip_ = pc; }
  void setCipher(std::unique_ptr<Aes256CbcDecryptor> cipher) { cipher_ = std::move(cipher); }

  Status read(uint8_t* out, size_t size, size_t* got) override {
    *got = 0;
    while (ready_ == 0) {
      // Move unconverted bytes to the front and top the buffer up.
      memmove(buffer_.data(), buffer_.data() + start_, end_ - start_);
      end_ -= start_;
      start_ = 0;
      bool ended = false;
      while (end_ < buffer_.size()) {
        size_t n = 0;
        if (Status s = in_->read(buffer_.data() + end_, buffer_.size() - end_, &n); s != Status::kOk) return s;
        if (n == 0) {
          ended = true;
          break;
        }
        end_ += n;
      }
      if (end_ == 0) return Status::kOk;
      ready_ = convert(buffer_.data(), end_);
      if (kind_ == Kind::kAes && ready_ == SIZE_MAX) return Status::kCorrupt;
      ip_ += static_cast<uint32_t>(ready_);
      if (ended) {
        if (kind_ == Kind::kAes && ready_ != end_) return Status::kCorrupt;  // not whole blocks
        ready_ = end_;  // the last few bytes stay as they are
      }
      if (ready_ == 0 && !ended) continue;
    }
    const size_t n = std::min(size, ready_);
    memcpy(out, buffer_.data() + start_, n);
    start_ += n;
    ready_ -= n;
    *got = n;
    return Status::kOk;
  }

 private:
  size_t convert(uint8_t* data, size_t size) {
    switch (kind_) {
      case Kind::kX86: return x86Decode(data, size, ip_, &x86State_);
      case Kind::kArm: return armDecode(data, size, ip_);
      case Kind::kArmThumb: return armThumbDecode(data, size, ip_);
      case Kind::kArm64: return arm64Decode(data, size, ip_);
      case Kind::kDelta: deltaDecode(data, size, delta_, history_, &historyPos_); return size;
      case Kind::kAes: {
        const size_t whole = size - size % Aes256CbcDecryptor::kBlockSize;
        return cipher_->decrypt(data, whole) ? whole : SIZE_MAX;
      }
    }
    return size;
  }

  std::unique_ptr<Stream> in_;
  Kind kind_;
  std::vector<uint8_t> buffer_;
  size_t start_ = 0;  // first byte not yet handed out
  size_t ready_ = 0;  // converted bytes from start_ on
  size_t end_ = 0;    // bytes in the buffer
  uint32_t ip_ = 0;
  uint32_t x86State_ = 0;
  unsigned delta_ = 1;
  uint8_t history_[256] = {};
  uint8_t historyPos_ = 0;
  std::unique_ptr<Aes256CbcDecryptor> cipher_;
};

// Deflate through zlib's raw inflater.
class DeflateStream : public Stream {
 public:
  explicit DeflateStream(std::unique_ptr<Stream> in) : in_(std::move(in)) {}
  ~DeflateStream() override {
    if (ready_) inflateEnd(&z_);
  }
  Status init() {
    ready_ = inflateInit2(&z_, -15) == Z_OK;
    return ready_ ? Status::kOk : Status::kOutOfMemory;
  }
  Status read(uint8_t* out, size_t size, size_t* got) override {
    *got = 0;
    if (done_ || size == 0) return Status::kOk;
    z_.next_out = out;
    z_.avail_out = static_cast<uInt>(std::min<size_t>(size, 1u << 30));
    while (z_.avail_out > 0 && !done_) {
      if (Status s = in_.fill(); s != Status::kOk) return s;
      z_.next_in = const_cast<Bytef*>(in_.data());
      z_.avail_in = static_cast<uInt>(in_.available());
      const int r = inflate(&z_, Z_NO_FLUSH);
      in_.consume(in_.available() - z_.avail_in);
      if (r == Z_STREAM_END) {
        done_ = true;
      } else if (r == Z_BUF_ERROR && in_.ended()) {
        return Status::kCorrupt;
      } else if (r != Z_OK && r != Z_BUF_ERROR) {
        return r == Z_MEM_ERROR ? Status::kOutOfMemory : Status::kCorrupt;
      }
      if (z_.next_out != out) break;
    }
    *got = static_cast<size_t>(z_.next_out - out);
    return Status::kOk;
  }

 private:
  Input in_;
  z_stream z_{};
  bool ready_ = false;
  bool done_ = false;
};

// BCJ2: x86 CALL and JMP targets moved to two separate big-endian streams,
// with a range-coded bit per candidate saying whether it was converted.
class Bcj2Stream : public Stream {
 public:
  Bcj2Stream(std::unique_ptr<Stream> main, std::unique_ptr<Stream> call, std::unique_ptr<Stream> jump,
             std::unique_ptr<Stream> rc, uint64_t outSize)
      : main_(std::move(main)), call_(std::move(call)), jump_(std::move(jump)), rc_(std::move(rc)), left_(outSize) {
    std::fill(std::begin(probs_), std::end(probs_), uint16_t{1024});
  }

  Status read(uint8_t* out, size_t size, size_t* got) override {
    *got = 0;
    Status s = Status::kOk;
    if (!initialised_) {
      for (int i = 0; i < 5; ++i) {
        uint8_t b;
        if (!rc_.byte(&b, &s)) return s == Status::kOk ? Status::kCorrupt : s;
        code_ = (code_ << 8) | b;
      }
      initialised_ = true;
    }
    size_t n = 0;
    while (n < size && left_ > 0) {
      if (pendingSize_ > 0) {
        out[n++] = pending_[4 - pendingSize_--];
        --left_;
        ++written_;
        continue;
      }
      uint8_t b;
      if (!main_.byte(&b, &s)) {
        if (s != Status::kOk) return s;
        return n > 0 ? (*got = n, Status::kOk) : Status::kCorrupt;
      }
      out[n++] = b;
      --left_;
      ++written_;
      const bool candidate = (b & 0xFE) == 0xE8 || (prev_ == 0x0F && (b & 0xF0) == 0x80);
      if (!candidate || left_ == 0) {
        prev_ = b;
        continue;
      }
      uint16_t& p = probs_[b == 0xE8 ? prev_ : (b == 0xE9 ? 256 : 257)];
      const uint32_t bound = (range_ >> 11) * p;
      bool converted;
      if (code_ < bound) {
        range_ = bound;
        p = static_cast<uint16_t>(p + ((2048 - p) >> 5));
        converted = false;
      } else {
        range_ -= bound;
        code_ -= bound;
        p = static_cast<uint16_t>(p - (p >> 5));
        converted = true;
      }
      if (range_ < (1u << 24)) {
        uint8_t next;
        if (!rc_.byte(&next, &s)) return s == Status::kOk ? Status::kCorrupt : s;
        range_ <<= 8;
        code_ = (code_ << 8) | next;
      }
      if (!converted) {
        prev_ = b;
        continue;
      }
      Input& from = b == 0xE8 ? call_ : jump_;
      uint32_t src = 0;
      for (int i = 0; i < 4; ++i) {
        uint8_t v;
        if (!from.byte(&v, &s)) return s == Status::kOk ? Status::kCorrupt : s;
        src = (src << 8) | v;
      }
      const uint32_t dest = src - static_cast<uint32_t>(written_ + 4);
      for (int i = 0; i < 4; ++i) pending_[i] = static_cast<uint8_t>(dest >> (8 * i));
      pendingSize_ = 4;
      prev_ = static_cast<uint8_t>(dest >> 24);
    }
    *got = n;
    return Status::kOk;
  }

 private:
  Input main_, call_, jump_, rc_;
  uint64_t left_;
  uint64_t written_ = 0;  // output position, which the stored targets are relative to
  uint16_t probs_[258];
  uint32_t range_ = 0xFFFFFFFFu;
  uint32_t code_ = 0;
  bool initialised_ = false;
  uint8_t prev_ = 0;
  uint8_t pending_[4] = {};
  int pendingSize_ = 0;
};

// A stream that hands out exactly `size` bytes of another.
class LimitedStream : public Stream {
 public:
  LimitedStream(std::unique_ptr<Stream> in, uint64_t size) : in_(std::move(in)), left_(size) {}
  Status read(uint8_t* out, size_t size, size_t* got) override {
    *got = 0;
    if (left_ == 0) return Status::kOk;
    Status s = in_->read(out, static_cast<size_t>(std::min<uint64_t>(size, left_)), got);
    if (s == Status::kOk && *got == 0) return Status::kCorrupt;
    left_ -= *got;
    return s;
  }

 private:
  std::unique_ptr<Stream> in_;
  uint64_t left_;
};

// 7z AES: SHA-256 over (salt, UTF-16LE password, 64-bit round counter)
// repeated 2^power times gives the key.
Status deriveAesKey(const std::string& props, const Text& password, unsigned maxPower, uint8_t key[32],
                    uint8_t iv[16]) {
  if (props.empty()) return Status::kCorrupt;
  const auto b0 = static_cast<uint8_t>(props[0]);
  const unsigned power = b0 & 0x3F;
  std::string salt;
  memset(iv, 0, 16);
  if (b0 & 0xC0) {
    if (props.size() < 2) return Status::kCorrupt;
    const auto b1 = static_cast<uint8_t>(props[1]);
    const size_t saltSize = ((b0 >> 7) & 1) + (b1 >> 4);
    const size_t ivSize = ((b0 >> 6) & 1) + (b1 & 0x0F);
    if (props.size() != 2 + saltSize + ivSize) return Status::kCorrupt;
    salt = props.substr(2, saltSize);
    memcpy(iv, props.data() + 2 + saltSize, ivSize);
  }
  if (password.empty()) return Status::kWrongPassword;
  const std::u16string wide = utf16FromGbk(password);
  std::string unit = salt;
  for (const char16_t c : wide) {
    unit.push_back(static_cast<char>(c & 0xFF));
    unit.push_back(static_cast<char>(c >> 8));
  }
  if (power == 0x3F) {
    memset(key, 0, 32);
    memcpy(key, unit.data(), std::min<size_t>(unit.size(), 32));
    return Status::kOk;
  }
  if (power > maxPower) return Status::kUnsupportedMethod;
  // Rounds are hashed in batches so the adapter is called a few thousand
  // times rather than once per round.
  const uint64_t rounds = uint64_t{1} << power;
  constexpr uint64_t kBatch = 256;
  const size_t unitSize = unit.size() + 8;
  std::string batch;
  batch.reserve(unitSize * kBatch);
  Sha256 hash;
  for (uint64_t round = 0; round < rounds;) {
    batch.clear();
    for (uint64_t k = 0; k < kBatch && round < rounds; ++k, ++round) {
      batch += unit;
      for (int i = 0; i < 8; ++i) batch.push_back(static_cast<char>(round >> (8 * i)));
    }
    hash.update(batch);
  }
  const Sha256Digest digest = hash.finish();
  memcpy(key, digest.data(), 32);
  return Status::kOk;
}

struct Builder {
  ByteSource& source;
  const Archive& archive;
  const Folder& folder;
  const Text& password;
  const Limits& limits;
  std::vector<bool> visiting;  // coders on the current path, against cycles

  // The coder that owns folder-wide output `out`, and the first input index of each coder.
  bool locateOutput(uint32_t out, size_t* coder) const {
    uint32_t first = 0;
    for (size_t c = 0; c < folder.coders.size(); ++c) {
      if (out < first + folder.coders[c].numOutStreams) {
        *coder = c;
        return true;
      }
      first += folder.coders[c].numOutStreams;
    }
    return false;
  }
  uint32_t firstInput(size_t coder) const {
    uint32_t first = 0;
    for (size_t c = 0; c < coder; ++c) first += folder.coders[c].numInStreams;
    return first;
  }

  Status input(uint32_t in, std::unique_ptr<Stream>* stream) {
    for (const BindPair& b : folder.bindPairs) {
      if (b.inIndex == in) return output(b.outIndex, stream);
    }
    for (size_t p = 0; p < folder.packedStreams.size(); ++p) {
      if (folder.packedStreams[p] != in) continue;
      const uint64_t index = folder.firstPackStream + p;
      if (index >= archive.packOffsets.size()) return Status::kCorrupt;
      *stream = std::make_unique<PackStream>(source, archive.packOffsets[index], archive.packSizes[index]);
      return Status::kOk;
    }
    return Status::kCorrupt;
  }

  Status output(uint32_t out, std::unique_ptr<Stream>* stream) {
    size_t c = 0;
    if (!locateOutput(out, &c) || visiting[c]) return Status::kCorrupt;
    const Coder& coder = folder.coders[c];
    if (coder.numOutStreams != 1) return Status::kUnsupportedMethod;
    visiting[c] = true;
    std::vector<std::unique_ptr<Stream>> inputs(coder.numInStreams);
    const uint32_t first = firstInput(c);
    for (uint32_t i = 0; i < coder.numInStreams; ++i) {
      if (Status s = input(first + i, &inputs[i]); s != Status::kOk) return s;
    }
    visiting[c] = false;
    const uint64_t size = folder.unpackSizes[out];
    const std::string& id = coder.methodId;
    const std::string& props = coder.properties;
    if (id == kBcj2) {
      if (inputs.size() != 4) return Status::kCorrupt;
      *stream = std::make_unique<Bcj2Stream>(std::move(inputs[0]), std::move(inputs[1]), std::move(inputs[2]),
                                             std::move(inputs[3]), size);
      return Status::kOk;
    }
    if (inputs.size() != 1) return Status::kUnsupportedMethod;
    std::unique_ptr<Stream> in = std::move(inputs[0]);
    if (id == kCopy) {
      *stream = std::move(in);
      return Status::kOk;
    }
    if (id == kLzma) {
      LzmaProperties p;
      if (!p.parse(reinterpret_cast<const uint8_t*>(props.data()), props.size())) return Status::kUnsupportedMethod;
      if (LzmaDecoder::tableBytes(p) > limits.memoryBytes) return Status::kOutOfMemory;
      auto lz = std::make_unique<LzStream<LzmaDecoder>>(std::move(in), size);
      if (Status s = lz->init(p.dictionarySize, limits); s != Status::kOk) return s;
      lz->decoder().reset(p);
      *stream = std::move(lz);
      return Status::kOk;
    }
    if (id == kLzma2) {
      uint32_t dictionary = 0;
      if (props.size() != 1 || !lzma2DictionarySize(static_cast<uint8_t>(props[0]), &dictionary)) {
        return Status::kUnsupportedMethod;
      }
      auto lz = std::make_unique<LzStream<Lzma2Decoder>>(std::move(in), size);
      if (Status s = lz->init(dictionary, limits); s != Status::kOk) return s;
      lz->decoder().reset();
      *stream = std::move(lz);
      return Status::kOk;
    }
    if (id == kDeflate) {
      auto d = std::make_unique<DeflateStream>(std::move(in));
      if (Status s = d->init(); s != Status::kOk) return s;
      *stream = std::move(d);
      return Status::kOk;
    }
    FilterStream::Kind kind;
    if (id == kX86 || id == kX86Short) {
      kind = FilterStream::Kind::kX86;
    } else if (id == kArm || id == kArmShort) {
      kind = FilterStream::Kind::kArm;
    } else if (id == kArmThumb || id == kArmThumbShort) {
      kind = FilterStream::Kind::kArmThumb;
    } else if (id == kArm64) {
      kind = FilterStream::Kind::kArm64;
    } else if (id == kDelta) {
      kind = FilterStream::Kind::kDelta;
    } else if (id == kAes) {
      kind = FilterStream::Kind::kAes;
    } else {
      return Status::kUnsupportedMethod;
    }
    auto f = std::make_unique<FilterStream>(std::move(in), kind);
    if (kind == FilterStream::Kind::kDelta) {
      if (props.size() != 1) return Status::kUnsupportedMethod;
      f->setDeltaDistance(static_cast<uint8_t>(props[0]) + 1u);
    } else if (kind == FilterStream::Kind::kArm64 && !props.empty()) {
      if (props.size() != 4) return Status::kUnsupportedMethod;
      const auto* b = reinterpret_cast<const uint8_t*>(props.data());
      f->setArm64Start(uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24);
    } else if (kind == FilterStream::Kind::kAes) {
      uint8_t key[32], iv[16];
      if (Status s = deriveAesKey(props, password, limits.maxKeyDerivationPower, key, iv); s != Status::kOk) return s;
      auto cipher = std::make_unique<Aes256CbcDecryptor>(key, iv);
      if (!cipher->ok()) return Status::kOutOfMemory;
      f->setCipher(std::move(cipher));
    } else if (!props.empty() && kind != FilterStream::Kind::kX86) {
      return Status::kUnsupportedMethod;
    }
    *stream = std::move(f);
    return Status::kOk;
  }
};

}  // namespace

Status readFully(Stream& stream, uint8_t* buffer, size_t size) {
  while (size > 0) {
    size_t got = 0;
    if (Status s = stream.read(buffer, size, &got); s != Status::kOk) return s;
    if (got == 0) return Status::kCorrupt;
    buffer += got;
    size -= got;
  }
  return Status::kOk;
}

bool folderIsEncrypted(const Folder& folder) {
  return std::any_of(folder.coders.begin(), folder.coders.end(), [](const Coder& c) { return c.methodId == kAes; });
}

Status openFolder(ByteSource& source, const Archive& archive, size_t folderIndex, const Text& password,
                  const Limits& limits, std::unique_ptr<Stream>* stream) {
  if (folderIndex >= archive.folders.size()) return Status::kCorrupt;
  const Folder& folder = archive.folders[folderIndex];
  const int main = folder.mainOutput();
  if (main < 0) return Status::kCorrupt;
  Builder builder{source, archive, folder, password, limits, std::vector<bool>(folder.coders.size(), false)};
  std::unique_ptr<Stream> out;
  if (Status s = builder.output(static_cast<uint32_t>(main), &out); s != Status::kOk) return s;
  *stream = std::make_unique<LimitedStream>(std::move(out), folder.unpackSize());
  return Status::kOk;
}

}  // namespace zul::sevenzip
