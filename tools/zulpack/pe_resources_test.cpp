#include "pe_resources.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include "test_host_files.h"

namespace zul::pack {
namespace {

using test_files::readHost;

// The fixtures are linked by MinGW (PE32 and PE32+) from a resource script
// compiled by windres, so the reader is checked against the toolchain's own
// layout.
TEST(PeResources, FindsResourcesInWindresBuiltImages) {
  if (std::string(ZULPACK_PE_FIXTURE).empty()) GTEST_SKIP() << "no MinGW toolchain to build the fixture";
  for (const char* fixture : {ZULPACK_PE_FIXTURE, ZULPACK_PE64_FIXTURE}) {
    SCOPED_TRACE(fixture);
    const std::string image = readHost(fixture);
    ASSERT_FALSE(image.empty());
    struct Case {
      ResourceKey type, name;
      PeStatus status;
      Bytes data;
    } cases[] = {
        {ResourceKey::fromName("KEY"), ResourceKey::fromId(250), PeStatus::kOk, "zul"},
        {ResourceKey::fromName("key"), ResourceKey::fromId(250), PeStatus::kOk, "zul"},
        {ResourceKey::fromName("TEXT"), ResourceKey::fromName("Greeting"), PeStatus::kOk, "hi there"},
        {ResourceKey::fromId(10), ResourceKey::fromId(7), PeStatus::kOk, "seven"},  // RT_RCDATA
        {ResourceKey::fromName("KEY"), ResourceKey::fromId(251), PeStatus::kNotFound, ""},
        {ResourceKey::fromName("KEYS"), ResourceKey::fromId(250), PeStatus::kNotFound, ""},
        {ResourceKey::fromId(250), ResourceKey::fromId(250), PeStatus::kNotFound, ""},
    };
    for (const Case& c : cases) {
      Bytes data = "unchanged";
      EXPECT_EQ(findResource(image, c.type, c.name, &data), c.status) << c.data;
      EXPECT_EQ(data, c.status == PeStatus::kOk ? c.data : "unchanged");
    }
    // `printf zul | md5sum`
    Text password;
    ASSERT_EQ(configArchivePasswordOf(image, &password), PeStatus::kOk);
    EXPECT_EQ(password, "1cf440e0df367e8a74becfa88ba0595a");
  }
  Text password = "unchanged";
  EXPECT_EQ(configArchivePasswordOf("MZ", &password), PeStatus::kNotPe);
  EXPECT_EQ(password, "unchanged");
}

TEST(PeResources, TruncatedImagesNeverReadPastTheEnd) {
  if (std::string(ZULPACK_PE_FIXTURE).empty()) GTEST_SKIP() << "no MinGW toolchain to build the fixture";
  const std::string image = readHost(ZULPACK_PE_FIXTURE);
  ASSERT_FALSE(image.empty());
  for (size_t length = 0; length < image.size(); ++length) {
    Bytes data;
    const PeStatus status =
        findResource(std::string_view(image).substr(0, length), ResourceKey::fromName("KEY"), ResourceKey::fromId(250), &data);
    if (status == PeStatus::kOk) {
      EXPECT_EQ(data, "zul") << length;
    }
  }
}

// Images with a few bytes changed at random, mostly in the headers and the
// resource tree, run under the sanitizers: any status is fine, a crash or a
// read outside the image is not.
TEST(PeResources, CorruptedImagesNeverReadPastTheEnd) {
  if (std::string(ZULPACK_PE_FIXTURE).empty()) GTEST_SKIP() << "no MinGW toolchain to build the fixture";
  for (const char* fixture : {ZULPACK_PE_FIXTURE, ZULPACK_PE64_FIXTURE}) {
    const std::string original = readHost(fixture);
    ASSERT_FALSE(original.empty());
    std::mt19937 random(250);
    for (int round = 0; round < 20000; ++round) {
      std::string image = original;
      const int changes = 1 + static_cast<int>(random() % 4);
      for (int i = 0; i < changes; ++i) {
        // Half of the changes go to the first 1024 bytes (headers).
        const size_t span = random() % 2 ? 1024 : image.size();
        image[random() % span] = static_cast<char>(random());
      }
      Bytes data;
      if (findResource(image, ResourceKey::fromName("KEY"), ResourceKey::fromId(250), &data) == PeStatus::kOk) {
        EXPECT_LE(data.size(), image.size());
      }
    }
  }
}

// A hand-made PE32 image with one section at RVA 0x1000 (file offset 0x200)
// holding a three-level resource tree: type 5 / name 9 / language 0 -> "abc".
// The offsets of its parts are named so that the cases below can break them.
struct TinyPe {
  static constexpr size_t kPe = 0x40;
  static constexpr size_t kOptional = kPe + 24;
  static constexpr size_t kResourceDirectoryEntry = kOptional + 96 + 2 * 8;
  static constexpr size_t kSection = kOptional + 224;
  static constexpr size_t kRaw = 0x200;
  static constexpr size_t kRoot = kRaw, kNameDir = kRaw + 0x18, kLanguageDir = kRaw + 0x30;
  static constexpr size_t kDataEntry = kRaw + 0x48, kData = kRaw + 0x58;

  std::string bytes = std::string(kData + 3, '\0');

  void put16(size_t at, uint16_t v) {
    bytes[at] = static_cast<char>(v);
    bytes[at + 1] = static_cast<char>(v >> 8);
  }
  void put32(size_t at, uint32_t v) {
    put16(at, static_cast<uint16_t>(v));
    put16(at + 2, static_cast<uint16_t>(v >> 16));
  }
  // A directory with one id entry.
  void directory(size_t at, uint32_t id, uint32_t target) {
    put16(at + 14, 1);
    put32(at + 16, id);
    put32(at + 20, target);
  }

  TinyPe() {
    put16(0, 0x5A4D);
    put32(0x3C, kPe);
    put32(kPe, 0x00004550);
    put16(kPe + 4, 0x14C);
    put16(kPe + 6, 1);        // sections
    put16(kPe + 20, 224);     // optional header size
    put16(kOptional, 0x10B);  // PE32
    put32(kOptional + 92, 16);
    put32(kResourceDirectoryEntry, 0x1000);
    put32(kResourceDirectoryEntry + 4, 0x5B);
    put32(kSection + 8, 0x5B);   // virtual size
    put32(kSection + 12, 0x1000);
    put32(kSection + 16, 0x5B);  // raw size
    put32(kSection + 20, kRaw);
    directory(kRoot, 5, 0x80000000u | (kNameDir - kRaw));
    directory(kNameDir, 9, 0x80000000u | (kLanguageDir - kRaw));
    directory(kLanguageDir, 0, kDataEntry - kRaw);
    put32(kDataEntry, 0x1000 + (kData - kRaw));
    put32(kDataEntry + 4, 3);
    bytes.replace(kData, 3, "abc");
  }
};

TEST(PeResources, MalformedImagesGiveAStatus) {
  struct Case {
    const char* what;
    std::function<void(TinyPe&)> breakIt;
    PeStatus status;
  } cases[] = {
      {"intact", [](TinyPe&) {}, PeStatus::kOk},
      {"no MZ", [](TinyPe& pe) { pe.bytes[0] = 'X'; }, PeStatus::kNotPe},
      {"PE offset beyond the end", [](TinyPe& pe) { pe.put32(0x3C, 0xFFFFFFF0u); }, PeStatus::kNotPe},
      {"unknown optional header", [](TinyPe& pe) { pe.put16(TinyPe::kOptional, 0x107); }, PeStatus::kNotPe},
      {"no resource directory", [](TinyPe& pe) { pe.put32(TinyPe::kResourceDirectoryEntry, 0); },
       PeStatus::kNotFound},
      {"resource RVA in no section", [](TinyPe& pe) { pe.put32(TinyPe::kResourceDirectoryEntry, 0x9000); },
       PeStatus::kCorrupt},
      {"section raw data beyond the end", [](TinyPe& pe) { pe.put32(TinyPe::kSection + 16, 0x7FFFFFFF); },
       PeStatus::kCorrupt},
      {"section count beyond the table", [](TinyPe& pe) { pe.put16(TinyPe::kPe + 6, 0xFFFF); }, PeStatus::kOk},
      {"entry count beyond the section", [](TinyPe& pe) { pe.put16(TinyPe::kRoot + 14, 0xFFFF); },
       PeStatus::kCorrupt},
      {"subdirectory offset beyond the section", [](TinyPe& pe) { pe.put32(TinyPe::kRoot + 20, 0x8000FFF0u); },
       PeStatus::kCorrupt},
      {"name level loops back to the root", [](TinyPe& pe) { pe.put32(TinyPe::kNameDir + 20, 0x80000000u); },
       PeStatus::kCorrupt},
      {"language entry is a directory", [](TinyPe& pe) { pe.put32(TinyPe::kLanguageDir + 20, 0x80000000u); },
       PeStatus::kCorrupt},
      {"type entry is data", [](TinyPe& pe) { pe.put32(TinyPe::kRoot + 20, TinyPe::kDataEntry - TinyPe::kRaw); },
       PeStatus::kCorrupt},
      {"data RVA outside the image", [](TinyPe& pe) { pe.put32(TinyPe::kDataEntry, 0xFFFFFFF0u); },
       PeStatus::kCorrupt},
      {"data size beyond the section", [](TinyPe& pe) { pe.put32(TinyPe::kDataEntry + 4, 0xFFFFFFFFu); },
       PeStatus::kCorrupt},
  };
  for (const Case& c : cases) {
    TinyPe pe;
    c.breakIt(pe);
    Bytes data;
    const PeStatus status = findResource(pe.bytes, ResourceKey::fromId(5), ResourceKey::fromId(9), &data);
    EXPECT_EQ(status, c.status) << c.what;
    if (status == PeStatus::kOk) {
      EXPECT_EQ(data, "abc") << c.what;
    }
  }
}

}  // namespace
}  // namespace zul::pack
