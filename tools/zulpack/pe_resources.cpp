#include "pe_resources.h"

#include <openssl/evp.h>

#include <optional>

namespace zul::pack {
namespace {

constexpr uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr uint16_t kMagicPe32 = 0x10B;
constexpr uint16_t kMagicPe32Plus = 0x20B;
constexpr uint32_t kResourceDirectoryIndex = 2;
constexpr uint32_t kHighBit = 0x80000000u;
constexpr size_t kDirectoryHeaderSize = 16;
constexpr size_t kDirectoryEntrySize = 8;
constexpr size_t kSectionHeaderSize = 40;

// Little-endian reads that fail instead of reading past the end.
class Reader {
 public:
  explicit Reader(std::string_view bytes) : bytes_(bytes) {}
  size_t size() const { return bytes_.size(); }
  bool has(uint64_t offset, uint64_t count) const { return offset <= bytes_.size() && count <= bytes_.size() - offset; }
  std::optional<uint16_t> u16(uint64_t offset) const {
    if (!has(offset, 2)) return std::nullopt;
    return static_cast<uint16_t>(byte(offset) | byte(offset + 1) << 8);
  }
  std::optional<uint32_t> u32(uint64_t offset) const {
    if (!has(offset, 4)) return std::nullopt;
    return static_cast<uint32_t>(byte(offset) | byte(offset + 1) << 8 | byte(offset + 2) << 16) |
           static_cast<uint32_t>(byte(offset + 3)) << 24;
  }
  std::string_view slice(uint64_t offset, uint64_t count) const { return bytes_.substr(offset, count); }

 private:
  uint32_t byte(uint64_t offset) const { return static_cast<unsigned char>(bytes_[offset]); }
  std::string_view bytes_;
};

struct Section {
  uint32_t virtualAddress;
  uint32_t virtualSize;
  uint32_t rawSize;
  uint32_t rawOffset;
};

// The resource section as a byte range of the image, with the RVA it maps to.
struct ResourceArea {
  std::string_view bytes;  // from the resource directory's start to its section's raw end
  uint32_t rva;            // RVA of bytes[0]
};

struct Layout {
  uint16_t sectionCount = 0;
  uint64_t sectionTable = 0;  // file offset
  uint32_t resourceRva = 0;
  uint32_t resourceSize = 0;
};

PeStatus readLayout(const Reader& in, Layout* layout) {
  const auto mz = in.u16(0);
  if (!mz || *mz != 0x5A4D) return PeStatus::kNotPe;
  const auto peOffset = in.u32(0x3C);
  if (!peOffset) return PeStatus::kNotPe;
  const auto signature = in.u32(*peOffset);
  if (!signature || *signature != kPeSignature) return PeStatus::kNotPe;
  const uint64_t coff = uint64_t{*peOffset} + 4;
  const auto sectionCount = in.u16(coff + 2);
  const auto optionalSize = in.u16(coff + 16);
  if (!sectionCount || !optionalSize) return PeStatus::kCorrupt;
  const uint64_t optional = coff + 20;
  const auto magic = in.u16(optional);
  if (!magic) return PeStatus::kCorrupt;
  uint64_t countOffset = 0;
  if (*magic == kMagicPe32) {
    countOffset = 92;
  } else if (*magic == kMagicPe32Plus) {
    countOffset = 108;
  } else {
    return PeStatus::kNotPe;
  }
  const auto directoryCount = in.u32(optional + countOffset);
  if (!directoryCount) return PeStatus::kCorrupt;
  layout->sectionCount = *sectionCount;
  layout->sectionTable = optional + *optionalSize;
  if (*directoryCount <= kResourceDirectoryIndex) return PeStatus::kOk;  // no resource directory
  const uint64_t entry = optional + countOffset + 4 + 8 * kResourceDirectoryIndex;
  if (entry + 8 > layout->sectionTable) return PeStatus::kCorrupt;
  const auto rva = in.u32(entry);
  const auto size = in.u32(entry + 4);
  if (!rva || !size) return PeStatus::kCorrupt;
  layout->resourceRva = *rva;
  layout->resourceSize = *size;
  return PeStatus::kOk;
}

std::optional<Section> readSection(const Reader& in, const Layout& layout, uint16_t index) {
  const uint64_t at = layout.sectionTable + uint64_t{index} * kSectionHeaderSize;
  const auto virtualSize = in.u32(at + 8);
  const auto virtualAddress = in.u32(at + 12);
  const auto rawSize = in.u32(at + 16);
  const auto rawOffset = in.u32(at + 20);
  if (!virtualSize || !virtualAddress || !rawSize || !rawOffset) return std::nullopt;
  return Section{*virtualAddress, *virtualSize, *rawSize, *rawOffset};
}

// Maps `rva` to the bytes of its section's raw data from there on. kNotFound
// is never returned: an RVA outside every section's file data is corrupt.
PeStatus mapRva(const Reader& in, const Layout& layout, uint32_t rva, ResourceArea* area) {
  for (uint16_t i = 0; i < layout.sectionCount; ++i) {
    const auto section = readSection(in, layout, i);
    if (!section) return PeStatus::kCorrupt;
    if (rva < section->virtualAddress) continue;
    const uint64_t delta = rva - section->virtualAddress;
    if (delta >= section->rawSize) continue;
    if (!in.has(section->rawOffset, section->rawSize)) return PeStatus::kCorrupt;
    area->bytes = in.slice(uint64_t{section->rawOffset} + delta, section->rawSize - delta);
    area->rva = rva;
    return PeStatus::kOk;
  }
  return PeStatus::kCorrupt;
}

bool nameMatches(const Reader& area, uint32_t offset, const std::u16string& wanted) {
  const auto length = area.u16(offset);
  if (!length || *length != wanted.size() || !area.has(uint64_t{offset} + 2, uint64_t{*length} * 2)) return false;
  for (size_t i = 0; i < wanted.size(); ++i) {
    char16_t a = *area.u16(offset + 2 + 2 * i);
    char16_t b = wanted[i];
    if (a >= 'a' && a <= 'z') a = static_cast<char16_t>(a - 'a' + 'A');
    if (b >= 'a' && b <= 'z') b = static_cast<char16_t>(b - 'a' + 'A');
    if (a != b) return false;
  }
  return true;
}

// Looks `key` up in the directory at `directory` (offset within the area) and
// returns the entry's target word (subdirectory flag in the high bit).
PeStatus findEntry(const Reader& area, uint32_t directory, const ResourceKey* key, uint32_t* target) {
  const auto namedCount = area.u16(uint64_t{directory} + 12);
  const auto idCount = area.u16(uint64_t{directory} + 14);
  if (!namedCount || !idCount) return PeStatus::kCorrupt;
  const uint64_t count = uint64_t{*namedCount} + *idCount;
  const uint64_t first = uint64_t{directory} + kDirectoryHeaderSize;
  if (!area.has(first, count * kDirectoryEntrySize)) return PeStatus::kCorrupt;
  for (uint64_t i = 0; i < count; ++i) {
    const uint32_t nameWord = *area.u32(first + i * kDirectoryEntrySize);
    const uint32_t targetWord = *area.u32(first + i * kDirectoryEntrySize + 4);
    bool match = key == nullptr;  // no key: the first entry
    if (!match && key->isString) {
      match = (nameWord & kHighBit) != 0 && nameMatches(area, nameWord & ~kHighBit, key->name);
    } else if (!match) {
      match = (nameWord & kHighBit) == 0 && nameWord == key->id;
    }
    if (match) {
      *target = targetWord;
      return PeStatus::kOk;
    }
  }
  return PeStatus::kNotFound;
}

}  // namespace

ResourceKey ResourceKey::fromId(uint16_t id) {
  ResourceKey key;
  key.id = id;
  return key;
}

ResourceKey ResourceKey::fromName(std::string_view ascii) {
  ResourceKey key;
  key.isString = true;
  for (char c : ascii) key.name.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  return key;
}

PeStatus findResource(std::string_view image, const ResourceKey& type, const ResourceKey& name, Bytes* data) {
  const Reader in(image);
  Layout layout;
  if (const PeStatus status = readLayout(in, &layout); status != PeStatus::kOk) return status;
  if (layout.resourceRva == 0 || layout.resourceSize == 0) return PeStatus::kNotFound;
  ResourceArea resources;
  if (const PeStatus status = mapRva(in, layout, layout.resourceRva, &resources); status != PeStatus::kOk) {
    return status;
  }
  const Reader area(resources.bytes);

  // Type, name and language: exactly three levels, so a directory entry that
  // points back up the tree cannot make the walk loop.
  const ResourceKey* keys[] = {&type, &name, nullptr};
  uint32_t offset = 0;
  for (const ResourceKey* key : keys) {
    uint32_t target = 0;
    if (const PeStatus status = findEntry(area, offset, key, &target); status != PeStatus::kOk) return status;
    const bool last = key == nullptr;
    const bool isDirectory = (target & kHighBit) != 0;
    if (isDirectory == last) return PeStatus::kCorrupt;
    offset = target & ~kHighBit;
  }

  const auto dataRva = area.u32(offset);
  const auto dataSize = area.u32(uint64_t{offset} + 4);
  if (!dataRva || !dataSize) return PeStatus::kCorrupt;
  ResourceArea payload;
  if (mapRva(in, layout, *dataRva, &payload) != PeStatus::kOk || payload.bytes.size() < *dataSize) {
    return PeStatus::kCorrupt;
  }
  data->assign(payload.bytes.substr(0, *dataSize));
  return PeStatus::kOk;
}

PeStatus configArchivePasswordOf(std::string_view stubImage, Text* password) {
  Bytes key;
  const PeStatus status = findResource(stubImage, ResourceKey::fromName("KEY"), ResourceKey::fromId(250), &key);
  if (status != PeStatus::kOk) return status;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned length = 0;
  if (EVP_Digest(key.data(), key.size(), digest, &length, EVP_md5(), nullptr) != 1) return PeStatus::kCorrupt;
  static constexpr char kHex[] = "0123456789abcdef";
  Text hex;
  for (unsigned i = 0; i < length; ++i) {
    hex.push_back(kHex[digest[i] >> 4]);
    hex.push_back(kHex[digest[i] & 0xF]);
  }
  *password = std::move(hex);
  return PeStatus::kOk;
}

}  // namespace zul::pack
