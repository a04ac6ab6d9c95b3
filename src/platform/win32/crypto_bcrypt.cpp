// The crypto adapter on the system's CNG primitives (bcrypt.dll), so the stub
// carries no cryptographic code of its own.
#include <windows.h>

#include <bcrypt.h>

#include <cstring>

#include "platform/crypto.h"

namespace zul {
namespace {

// One provider per algorithm, opened on first use and kept for the process.
BCRYPT_ALG_HANDLE provider(const wchar_t* algorithm, bool cbc = false) {
  BCRYPT_ALG_HANDLE handle = nullptr;
  if (BCryptOpenAlgorithmProvider(&handle, algorithm, nullptr, 0) < 0) return nullptr;
  if (cbc && BCryptSetProperty(handle, BCRYPT_CHAINING_MODE, (PUCHAR)BCRYPT_CHAIN_MODE_CBC,
                               sizeof(BCRYPT_CHAIN_MODE_CBC), 0) < 0) {
    BCryptCloseAlgorithmProvider(handle, 0);
    return nullptr;
  }
  return handle;
}

BCRYPT_ALG_HANDLE md5Provider() {
  static const BCRYPT_ALG_HANDLE handle = provider(BCRYPT_MD5_ALGORITHM);
  return handle;
}

BCRYPT_ALG_HANDLE sha256Provider() {
  static const BCRYPT_ALG_HANDLE handle = provider(BCRYPT_SHA256_ALGORITHM);
  return handle;
}

BCRYPT_ALG_HANDLE aesCbcProvider() {
  static const BCRYPT_ALG_HANDLE handle = provider(BCRYPT_AES_ALGORITHM, true);
  return handle;
}

// Feeds `bytes` in pieces that fit the ULONG length.
bool hashData(BCRYPT_HASH_HANDLE hash, std::string_view bytes) {
  while (!bytes.empty()) {
    const ULONG n = static_cast<ULONG>(bytes.size() < 0x40000000 ? bytes.size() : 0x40000000);
    if (BCryptHashData(hash, (PUCHAR)bytes.data(), n, 0) < 0) return false;
    bytes.remove_prefix(n);
  }
  return true;
}

}  // namespace

Text md5Hex(std::string_view data) {
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (!md5Provider() || BCryptCreateHash(md5Provider(), &hash, nullptr, 0, nullptr, 0, 0) < 0) return {};
  UCHAR digest[16];
  const bool done = hashData(hash, data) && BCryptFinishHash(hash, digest, sizeof digest, 0) >= 0;
  BCryptDestroyHash(hash);
  if (!done) return {};
  static constexpr char kHex[] = "0123456789abcdef";
  Text hex;
  for (UCHAR b : digest) {
    hex.push_back(kHex[b >> 4]);
    hex.push_back(kHex[b & 15]);
  }
  return hex;
}

struct Sha256::Impl {
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool failed = false;
};

Sha256::Sha256() : impl_(std::make_unique<Impl>()) {
  if (!sha256Provider() || BCryptCreateHash(sha256Provider(), &impl_->hash, nullptr, 0, nullptr, 0, 0) < 0) {
    impl_->hash = nullptr;
  }
}

Sha256::~Sha256() {
  if (impl_->hash) BCryptDestroyHash(impl_->hash);
}

void Sha256::update(std::string_view bytes) {
  if (!impl_->hash || !hashData(impl_->hash, bytes)) impl_->failed = true;
}

Sha256Digest Sha256::finish() {
  Sha256Digest digest{};
  if (impl_->hash && !impl_->failed) BCryptFinishHash(impl_->hash, digest.data(), digest.size(), 0);
  return digest;
}

Sha256Digest sha256(std::string_view data) {
  Sha256 hash;
  hash.update(data);
  return hash.finish();
}

struct Aes256CbcDecryptor::Impl {
  BCRYPT_KEY_HANDLE key = nullptr;
  UCHAR iv[kBlockSize];  // the chain value; BCryptDecrypt advances it
};

Aes256CbcDecryptor::Aes256CbcDecryptor(const uint8_t* key, const uint8_t* iv) : impl_(std::make_unique<Impl>()) {
  memcpy(impl_->iv, iv, kBlockSize);
  if (!aesCbcProvider() ||
      BCryptGenerateSymmetricKey(aesCbcProvider(), &impl_->key, nullptr, 0, (PUCHAR)key, kKeySize, 0) < 0) {
    impl_->key = nullptr;
  }
}

Aes256CbcDecryptor::~Aes256CbcDecryptor() {
  if (impl_->key) BCryptDestroyKey(impl_->key);
}

bool Aes256CbcDecryptor::ok() const { return impl_->key != nullptr; }

bool Aes256CbcDecryptor::decrypt(uint8_t* data, size_t size) {
  if (!impl_->key || size % kBlockSize != 0) return false;
  constexpr size_t kPiece = size_t{1} << 30;
  while (size > 0) {
    const ULONG n = static_cast<ULONG>(size < kPiece ? size : kPiece);
    ULONG produced = 0;
    if (BCryptDecrypt(impl_->key, data, n, nullptr, impl_->iv, kBlockSize, data, n, &produced, 0) < 0 ||
        produced != n) {
      return false;
    }
    data += n;
    size -= n;
  }
  return true;
}

}  // namespace zul
