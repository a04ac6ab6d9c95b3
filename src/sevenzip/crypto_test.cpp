// The crypto adapter of the tree: OpenSSL natively, CNG under Wine. Known
// answers from RFC 1321, FIPS 180-2 and NIST SP 800-38A.
#include "platform/crypto.h"

#include <gtest/gtest.h>

#include <string>

namespace zul {
namespace {

std::string hex(const uint8_t* data, size_t size) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < size; ++i) {
    out.push_back(kHex[data[i] >> 4]);
    out.push_back(kHex[data[i] & 15]);
  }
  return out;
}

std::string unhex(std::string_view h) {
  std::string out;
  for (size_t i = 0; i + 1 < h.size(); i += 2) out.push_back(static_cast<char>(std::stoi(std::string(h.substr(i, 2)), nullptr, 16)));
  return out;
}

TEST(CryptoTest, Md5HexGivesLowerCaseDigits) {
  EXPECT_EQ(md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(md5Hex("zul"), "1cf440e0df367e8a74becfa88ba0595a");
  EXPECT_EQ(md5Hex(std::string("\x00\xff\x81\\", 4)).size(), 32u);
}

TEST(CryptoTest, Sha256InOneCallAndInPieces) {
  const Sha256Digest abc = sha256("abc");
  EXPECT_EQ(hex(abc.data(), abc.size()), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  Sha256 h;
  for (int i = 0; i < 1000; ++i) h.update(std::string(1000, 'a'));
  const Sha256Digest million = h.finish();
  EXPECT_EQ(hex(million.data(), million.size()), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(CryptoTest, Aes256CbcDecryptsInPiecesAlongTheChain) {
  const std::string key = unhex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
  const std::string iv = unhex("000102030405060708090a0b0c0d0e0f");
  const std::string cipher = unhex(
      "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d39f23369a9d9bacfa530e26304231461");
  const std::string plain = "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e5130c81c46a35ce411e5fbc1191a0a52ef";

  std::string whole = cipher;
  Aes256CbcDecryptor one(reinterpret_cast<const uint8_t*>(key.data()), reinterpret_cast<const uint8_t*>(iv.data()));
  ASSERT_TRUE(one.ok());
  ASSERT_TRUE(one.decrypt(reinterpret_cast<uint8_t*>(whole.data()), whole.size()));
  EXPECT_EQ(hex(reinterpret_cast<const uint8_t*>(whole.data()), whole.size()), plain);

  std::string pieces = cipher;
  Aes256CbcDecryptor chain(reinterpret_cast<const uint8_t*>(key.data()), reinterpret_cast<const uint8_t*>(iv.data()));
  for (size_t at = 0; at < pieces.size(); at += 16) {
    ASSERT_TRUE(chain.decrypt(reinterpret_cast<uint8_t*>(pieces.data()) + at, 16));
  }
  EXPECT_EQ(pieces, whole);
  EXPECT_FALSE(chain.decrypt(reinterpret_cast<uint8_t*>(pieces.data()), 15));
}

}  // namespace
}  // namespace zul
