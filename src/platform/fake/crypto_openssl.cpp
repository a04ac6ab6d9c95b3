// The crypto adapter on OpenSSL's EVP interface (libcrypto).
#include <openssl/evp.h>

#include "platform/crypto.h"

namespace zul {

Text md5Hex(std::string_view data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!EVP_Digest(data.data(), data.size(), digest, &length, EVP_md5(), nullptr) || length != 16) return {};
  static constexpr char kHex[] = "0123456789abcdef";
  Text hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex.push_back(kHex[digest[i] >> 4]);
    hex.push_back(kHex[digest[i] & 15]);
  }
  return hex;
}

struct Sha256::Impl {
  EVP_MD_CTX* context = nullptr;
};

Sha256::Sha256() : impl_(std::make_unique<Impl>()) {
  impl_->context = EVP_MD_CTX_new();
  if (impl_->context) EVP_DigestInit_ex(impl_->context, EVP_sha256(), nullptr);
}

Sha256::~Sha256() { EVP_MD_CTX_free(impl_->context); }

void Sha256::update(std::string_view bytes) {
  if (impl_->context) EVP_DigestUpdate(impl_->context, bytes.data(), bytes.size());
}

Sha256Digest Sha256::finish() {
  Sha256Digest digest{};
  unsigned int length = 0;
  if (impl_->context) EVP_DigestFinal_ex(impl_->context, digest.data(), &length);
  return digest;
}

Sha256Digest sha256(std::string_view data) {
  Sha256 hash;
  hash.update(data);
  return hash.finish();
}

struct Aes256CbcDecryptor::Impl {
  EVP_CIPHER_CTX* context = nullptr;
  bool ready = false;
};

Aes256CbcDecryptor::Aes256CbcDecryptor(const uint8_t* key, const uint8_t* iv) : impl_(std::make_unique<Impl>()) {
  impl_->context = EVP_CIPHER_CTX_new();
  impl_->ready = impl_->context && EVP_DecryptInit_ex(impl_->context, EVP_aes_256_cbc(), nullptr, key, iv) == 1 &&
                 EVP_CIPHER_CTX_set_padding(impl_->context, 0) == 1;
}

Aes256CbcDecryptor::~Aes256CbcDecryptor() { EVP_CIPHER_CTX_free(impl_->context); }

bool Aes256CbcDecryptor::ok() const { return impl_->ready; }

bool Aes256CbcDecryptor::decrypt(uint8_t* data, size_t size) {
  if (!impl_->ready || size % kBlockSize != 0) return false;
  // EVP_DecryptUpdate takes an int length; go in bounded pieces.
  constexpr size_t kPiece = size_t{1} << 30;
  while (size > 0) {
    const size_t n = size < kPiece ? size : kPiece;
    int produced = 0;
    if (EVP_DecryptUpdate(impl_->context, data, &produced, data, static_cast<int>(n)) != 1 ||
        static_cast<size_t>(produced) != n) {
      return false;
    }
    data += n;
    size -= n;
  }
  return true;
}

}  // namespace zul
