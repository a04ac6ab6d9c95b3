// The coders behind the 7z writer: LZMA2 (optionally after the x86 branch
// filter) through liblzma, and 7z's AES-256 through OpenSSL. Data flows
// through a chain of sinks that ends in a file or a string.
#pragma once

#include <lzma.h>
#include <openssl/evp.h>
#include <stdio.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zul::pack {

class Sink {
 public:
  virtual ~Sink() = default;
  // False when the bytes could not be taken; the chain is then unusable.
  [[nodiscard]] virtual bool write(const uint8_t* data, size_t size) = 0;
};

class FileSink : public Sink {
 public:
  explicit FileSink(FILE* file) : file_(file) {}
  bool write(const uint8_t* data, size_t size) override;
  uint64_t written() const { return written_; }  // bytes

 private:
  FILE* file_;
  uint64_t written_ = 0;
};

class StringSink : public Sink {
 public:
  bool write(const uint8_t* data, size_t size) override;
  std::string bytes;
};

inline constexpr unsigned kAesCyclesPower = 19;  // 2^19 SHA-256 rounds per key
inline constexpr size_t kAesBlockSize = 16;       // bytes

struct AesKey {
  std::string salt;  // random, 16 bytes
  uint8_t key[32] = {};
};

// Draws a salt and derives the 7z key for `password` (UTF-16 code units):
// SHA-256 over 2^19 repetitions of salt, UTF-16LE password and the 64-bit
// little-endian repetition number. False when OpenSSL fails.
[[nodiscard]] bool deriveAesKey(const std::u16string& password, AesKey* key);

// AES-256-CBC with a fresh random IV. The tail is filled with zero bytes to a
// whole block, which the 7z decoder drops by the unpack size it knows.
class CipherSink : public Sink {
 public:
  explicit CipherSink(Sink& next);
  // The coder properties for the 7z header: flags and cycle power, sizes,
  // salt, IV. False when OpenSSL fails.
  [[nodiscard]] bool start(const AesKey& key, std::string* properties);
  bool write(const uint8_t* data, size_t size) override;
  [[nodiscard]] bool finish();

 private:
  Sink& next_;
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx_;
  std::vector<uint8_t> buffer_;
  uint64_t total_ = 0;  // plain bytes taken
};

// The dictionary size in bytes for `preset` and data of `bytes` bytes: the
// level's size (at least 32 MiB from level 5 on, as 7-Zip 26 uses), cut to
// the smallest power of two that holds the data, since a larger one only
// costs the extracting side memory.
uint32_t dictionarySizeFor(int preset, uint64_t bytes);

// A raw LZMA2 stream, with the x86 filter before it when asked, ending with
// LZMA2's end marker (one 0x00 byte).
class LzmaEncoder {
 public:
  explicit LzmaEncoder(Sink& out) : out_(out) {}
  ~LzmaEncoder() { lzma_end(&stream_); }
  LzmaEncoder(const LzmaEncoder&) = delete;
  LzmaEncoder& operator=(const LzmaEncoder&) = delete;

  // `*property` receives LZMA2's one property byte (the dictionary size).
  [[nodiscard]] bool start(bool x86, int preset, uint32_t dictionarySize, uint8_t* property);
  [[nodiscard]] bool write(const uint8_t* data, size_t size);
  [[nodiscard]] bool finish();
  uint64_t produced() const { return produced_; }  // compressed bytes so far

 private:
  lzma_ret code(lzma_action action);

  Sink& out_;
  lzma_stream stream_ = LZMA_STREAM_INIT;
  uint64_t produced_ = 0;
};

}  // namespace zul::pack
