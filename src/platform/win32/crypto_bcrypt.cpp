// The crypto adapter on the system's CNG primitives (bcrypt.dll), so the stub
// carries no cryptographic code of its own.
//
// bcrypt.dll is not one of the loader's known DLLs: imported statically, it
// would be looked up in the program's own folder before the system folder,
// before main() runs, so a copy planted beside a downloaded setup file would
// run with the setup's rights. It is therefore loaded here, at first use,
// from the system folder only, and reached through GetProcAddress.
#include <windows.h>

#include <bcrypt.h>

#include <cstring>
#include <string>

#include "platform/crypto.h"
#include "platform/win32/unique_handle.h"

namespace zul {
namespace {

using win32::UniqueHandle;
using win32::UniqueModule;

// The entry points this adapter uses; every pointer is null when the DLL or
// one of its functions could not be found.
struct BcryptApi {
  UniqueModule module;
  decltype(&BCryptOpenAlgorithmProvider) openAlgorithmProvider = nullptr;
  decltype(&BCryptCloseAlgorithmProvider) closeAlgorithmProvider = nullptr;
  decltype(&BCryptSetProperty) setProperty = nullptr;
  decltype(&BCryptCreateHash) createHash = nullptr;
  decltype(&BCryptHashData) hashData = nullptr;
  decltype(&BCryptFinishHash) finishHash = nullptr;
  decltype(&BCryptDestroyHash) destroyHash = nullptr;
  decltype(&BCryptGenerateSymmetricKey) generateSymmetricKey = nullptr;
  decltype(&BCryptDecrypt) decrypt = nullptr;
  decltype(&BCryptDestroyKey) destroyKey = nullptr;

  // True when every entry point was found.
  bool ok() const { return destroyKey != nullptr; }
};

template <typename F>
bool resolve(HMODULE module, const char* name, F& out) {
  out = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return out != nullptr;
}

HMODULE loadFromSystemFolder() {
  HMODULE module = LoadLibraryExW(L"bcrypt.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module || GetLastError() != ERROR_INVALID_PARAMETER) return module;
  // A Windows 7 without the update that brought the search flags rejects
  // them; the full path into the system folder is as safe there.
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);  // wchar_t units
  if (length == 0 || length >= MAX_PATH) return nullptr;
  const std::wstring path = std::wstring(folder, length) + L"\\bcrypt.dll";
  return LoadLibraryExW(path.c_str(), nullptr, 0);
}

BcryptApi loadApi() {
  BcryptApi api;
  api.module.reset(loadFromSystemFolder());
  const HMODULE m = api.module.get();
  if (!m || !resolve(m, "BCryptOpenAlgorithmProvider", api.openAlgorithmProvider) ||
      !resolve(m, "BCryptCloseAlgorithmProvider", api.closeAlgorithmProvider) ||
      !resolve(m, "BCryptSetProperty", api.setProperty) || !resolve(m, "BCryptCreateHash", api.createHash) ||
      !resolve(m, "BCryptHashData", api.hashData) || !resolve(m, "BCryptFinishHash", api.finishHash) ||
      !resolve(m, "BCryptDestroyHash", api.destroyHash) ||
      !resolve(m, "BCryptGenerateSymmetricKey", api.generateSymmetricKey) ||
      !resolve(m, "BCryptDecrypt", api.decrypt) || !resolve(m, "BCryptDestroyKey", api.destroyKey)) {
    api.destroyKey = nullptr;
  }
  return api;
}

// Loaded once for the process. Function-local statics that call api() in their
// initializer are destroyed before it, so no owner below outlives the module.
const BcryptApi& api() {
  static const BcryptApi loaded = loadApi();
  return loaded;
}

void closeProvider(BCRYPT_ALG_HANDLE h) { api().closeAlgorithmProvider(h, 0); }
void destroyHash(BCRYPT_HASH_HANDLE h) { api().destroyHash(h); }
void destroyKey(BCRYPT_KEY_HANDLE h) { api().destroyKey(h); }

using UniqueProvider = UniqueHandle<BCRYPT_ALG_HANDLE, 0, closeProvider>;
using UniqueHash = UniqueHandle<BCRYPT_HASH_HANDLE, 0, destroyHash>;
using UniqueCipherKey = UniqueHandle<BCRYPT_KEY_HANDLE, 0, destroyKey>;

// One provider per algorithm, opened on first use and kept for the process.
UniqueProvider openProvider(const wchar_t* algorithm, bool cbc = false) {
  BCRYPT_ALG_HANDLE opened = nullptr;
  if (!api().ok() || api().openAlgorithmProvider(&opened, algorithm, nullptr, 0) < 0) return {};
  UniqueProvider handle(opened);
  if (cbc && api().setProperty(handle.get(), BCRYPT_CHAINING_MODE, (PUCHAR)BCRYPT_CHAIN_MODE_CBC,
                               sizeof(BCRYPT_CHAIN_MODE_CBC), 0) < 0) {
    return {};
  }
  return handle;
}

BCRYPT_ALG_HANDLE md5Provider() {
  static const UniqueProvider handle = openProvider(BCRYPT_MD5_ALGORITHM);
  return handle.get();
}

BCRYPT_ALG_HANDLE sha256Provider() {
  static const UniqueProvider handle = openProvider(BCRYPT_SHA256_ALGORITHM);
  return handle.get();
}

BCRYPT_ALG_HANDLE aesCbcProvider() {
  static const UniqueProvider handle = openProvider(BCRYPT_AES_ALGORITHM, true);
  return handle.get();
}

// A fresh hash object on `provider`; empty when `provider` is null or the
// object cannot be created.
UniqueHash createHash(BCRYPT_ALG_HANDLE provider) {
  BCRYPT_HASH_HANDLE created = nullptr;
  if (!provider || api().createHash(provider, &created, nullptr, 0, nullptr, 0, 0) < 0) return {};
  return UniqueHash(created);
}

// Feeds `bytes` in pieces that fit the ULONG length.
bool hashData(BCRYPT_HASH_HANDLE hash, std::string_view bytes) {
  while (!bytes.empty()) {
    const ULONG n = static_cast<ULONG>(bytes.size() < 0x40000000 ? bytes.size() : 0x40000000);
    if (api().hashData(hash, (PUCHAR)bytes.data(), n, 0) < 0) return false;
    bytes.remove_prefix(n);
  }
  return true;
}

}  // namespace

Text md5Hex(std::string_view data) {
  const UniqueHash hash = createHash(md5Provider());
  UCHAR digest[16];
  if (!hash || !hashData(hash.get(), data) || api().finishHash(hash.get(), digest, sizeof digest, 0) < 0) return {};
  static constexpr char kHex[] = "0123456789abcdef";
  Text hex;
  for (UCHAR b : digest) {
    hex.push_back(kHex[b >> 4]);
    hex.push_back(kHex[b & 15]);
  }
  return hex;
}

struct Sha256::Impl {
  UniqueHash hash;
  bool failed = false;
};

Sha256::Sha256() : impl_(std::make_unique<Impl>()) { impl_->hash = createHash(sha256Provider()); }

Sha256::~Sha256() = default;

void Sha256::update(std::string_view bytes) {
  if (!impl_->hash || !hashData(impl_->hash.get(), bytes)) impl_->failed = true;
}

Sha256Digest Sha256::finish() {
  Sha256Digest digest{};
  if (impl_->hash && !impl_->failed) api().finishHash(impl_->hash.get(), digest.data(), digest.size(), 0);
  return digest;
}

Sha256Digest sha256(std::string_view data) {
  Sha256 hash;
  hash.update(data);
  return hash.finish();
}

struct Aes256CbcDecryptor::Impl {
  UniqueCipherKey key;
  UCHAR iv[kBlockSize];  // the chain value; BCryptDecrypt advances it
};

Aes256CbcDecryptor::Aes256CbcDecryptor(const uint8_t* key, const uint8_t* iv) : impl_(std::make_unique<Impl>()) {
  memcpy(impl_->iv, iv, kBlockSize);
  BCRYPT_KEY_HANDLE generated = nullptr;
  if (aesCbcProvider() &&
      api().generateSymmetricKey(aesCbcProvider(), &generated, nullptr, 0, (PUCHAR)key, kKeySize, 0) >= 0) {
    impl_->key.reset(generated);
  }
}

Aes256CbcDecryptor::~Aes256CbcDecryptor() = default;

bool Aes256CbcDecryptor::ok() const { return static_cast<bool>(impl_->key); }

bool Aes256CbcDecryptor::decrypt(uint8_t* data, size_t size) {
  if (!impl_->key || size % kBlockSize != 0) return false;
  constexpr size_t kPiece = size_t{1} << 30;
  while (size > 0) {
    const ULONG n = static_cast<ULONG>(size < kPiece ? size : kPiece);
    ULONG produced = 0;
    if (api().decrypt(impl_->key.get(), data, n, nullptr, impl_->iv, kBlockSize, data, n, &produced, 0) < 0 ||
        produced != n) {
      return false;
    }
    data += n;
    size -= n;
  }
  return true;
}

}  // namespace zul
