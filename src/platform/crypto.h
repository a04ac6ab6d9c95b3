// Digests and the block cipher, behind the platform adapter: the system's
// CNG (BCrypt) in the Windows tree, OpenSSL's libcrypto natively.
//
// The functions are self-contained and thread-safe; nothing here keeps
// program-wide state besides the lazily opened algorithm providers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "base/text.h"

namespace zul {

// MD5 (RFC 1321) of `data` as 32 lower-case hexadecimal digits. Used for the
// configuration archive password, the install-password digest and plug-in
// file names.
Text md5Hex(std::string_view data);

using Sha256Digest = std::array<uint8_t, 32>;

// SHA-256 over the bytes given to update(), in order.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void update(std::string_view bytes);
  // The digest of everything updated so far; the object is spent afterwards.
  Sha256Digest finish();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// SHA-256 of `data` in one call.
Sha256Digest sha256(std::string_view data);

// AES-256 in CBC mode, decryption only, no padding. Successive decrypt()
// calls continue the chain, so a long stream can be decrypted in pieces.
class Aes256CbcDecryptor {
 public:
  static constexpr size_t kKeySize = 32;    // bytes
  static constexpr size_t kBlockSize = 16;  // bytes, also the IV size

  // `key` is 32 bytes, `iv` 16 bytes.
  Aes256CbcDecryptor(const uint8_t* key, const uint8_t* iv);
  ~Aes256CbcDecryptor();
  Aes256CbcDecryptor(const Aes256CbcDecryptor&) = delete;
  Aes256CbcDecryptor& operator=(const Aes256CbcDecryptor&) = delete;

  // False when the cipher could not be set up; decrypt() then fails too.
  bool ok() const;
  // Decrypts `size` bytes in place; `size` must be a multiple of 16. False on
  // failure, with `data` in an unspecified state.
  [[nodiscard]] bool decrypt(uint8_t* data, size_t size);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zul
