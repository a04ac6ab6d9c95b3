#include "archive_coders.h"

#include <openssl/rand.h>

#include <algorithm>

namespace zul::pack {
namespace {

constexpr size_t kSaltSize = 16;
constexpr uint32_t kLargeDictionary = 32u << 20;

}  // namespace

bool FileSink::write(const uint8_t* data, size_t size) {
  if (size != 0 && fwrite(data, 1, size, file_) != size) return false;
  written_ += size;
  return true;
}

bool StringSink::write(const uint8_t* data, size_t size) {
  bytes.append(reinterpret_cast<const char*>(data), size);
  return true;
}

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

CipherSink::CipherSink(Sink& next) : next_(next), ctx_(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free) {}

bool CipherSink::start(const AesKey& key, std::string* properties) {
  unsigned char iv[kAesBlockSize];
  if (!ctx_ || RAND_bytes(iv, sizeof iv) != 1 ||
      EVP_EncryptInit_ex(ctx_.get(), EVP_aes_256_cbc(), nullptr, key.key, iv) != 1 ||
      EVP_CIPHER_CTX_set_padding(ctx_.get(), 0) != 1) {
    return false;
  }
  // Salt and IV both present: the first byte flags them and holds the cycle
  // power, the second holds their sizes minus one.
  properties->clear();
  properties->push_back(static_cast<char>(0xC0 | kAesCyclesPower));
  properties->push_back(static_cast<char>((key.salt.size() - 1) << 4 | (kAesBlockSize - 1)));
  *properties += key.salt;
  properties->append(reinterpret_cast<const char*>(iv), sizeof iv);
  return true;
}

bool CipherSink::write(const uint8_t* data, size_t size) {
  buffer_.resize(size + kAesBlockSize);
  int produced = 0;
  if (EVP_EncryptUpdate(ctx_.get(), buffer_.data(), &produced, data, static_cast<int>(size)) != 1) return false;
  total_ += size;
  return next_.write(buffer_.data(), static_cast<size_t>(produced));
}

bool CipherSink::finish() {
  const uint8_t zeros[kAesBlockSize] = {};
  const size_t pad = (kAesBlockSize - total_ % kAesBlockSize) % kAesBlockSize;
  if (pad != 0 && !write(zeros, pad)) return false;
  int produced = 0;
  buffer_.resize(kAesBlockSize);
  return EVP_EncryptFinal_ex(ctx_.get(), buffer_.data(), &produced) == 1 && produced == 0;
}

uint32_t dictionarySizeFor(int preset, uint64_t bytes) {
  lzma_options_lzma options;
  uint32_t level = LZMA_DICT_SIZE_DEFAULT;
  if (!lzma_lzma_preset(&options, static_cast<uint32_t>(std::clamp(preset, 0, 9)))) level = options.dict_size;
  if (preset >= 5) level = std::max(level, kLargeDictionary);
  uint64_t size = LZMA_DICT_SIZE_MIN;
  while (size < bytes && size < level) size *= 2;
  return static_cast<uint32_t>(std::min<uint64_t>(size, level));
}

bool LzmaEncoder::start(bool x86, int preset, uint32_t dictionarySize, uint8_t* property) {
  lzma_options_lzma options;
  if (lzma_lzma_preset(&options, static_cast<uint32_t>(std::clamp(preset, 0, 9)))) return false;
  options.dict_size = dictionarySize;
  lzma_filter filters[3];
  size_t n = 0;
  if (x86) filters[n++] = {LZMA_FILTER_X86, nullptr};
  filters[n++] = {LZMA_FILTER_LZMA2, &options};
  filters[n] = {LZMA_VLI_UNKNOWN, nullptr};
  return lzma_properties_encode(&filters[n - 1], property) == LZMA_OK && lzma_raw_encoder(&stream_, filters) == LZMA_OK;
}

bool LzmaEncoder::write(const uint8_t* data, size_t size) {
  stream_.next_in = data;
  stream_.avail_in = size;
  while (stream_.avail_in != 0) {
    if (code(LZMA_RUN) != LZMA_OK) return false;
  }
  return true;
}

bool LzmaEncoder::finish() {
  stream_.next_in = nullptr;
  stream_.avail_in = 0;
  for (;;) {
    const lzma_ret ret = code(LZMA_FINISH);
    if (ret == LZMA_STREAM_END) return true;
    if (ret != LZMA_OK) return false;
  }
}

lzma_ret LzmaEncoder::code(lzma_action action) {
  uint8_t buffer[1 << 16];
  stream_.next_out = buffer;
  stream_.avail_out = sizeof buffer;
  const lzma_ret ret = lzma_code(&stream_, action);
  const size_t produced = sizeof buffer - stream_.avail_out;
  produced_ += produced;
  if (produced != 0 && !out_.write(buffer, produced)) return LZMA_PROG_ERROR;
  return ret;
}

}  // namespace zul::pack
