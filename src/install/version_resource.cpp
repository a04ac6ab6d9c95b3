#include "install/version_resource.h"

#include <algorithm>
#include <vector>

#include "config/ini_file.h"
#include "config/variables.h"

namespace zul {
namespace {

// The VERSIONINFO template; the GBK words inside the value quotes are the
// placeholders: 公司, 描述, 文件版本, 内部名称, 版权, 源文件名, 产品名称, 产品版本.
constexpr std::string_view kTemplate =
    "1 VERSIONINFO\r\n"
    "FILEVERSION 0,1,1010,2020\r\n"
    "PRODUCTVERSION 0,1,1010,2020\r\n"
    "FILEOS 0x40004\r\n"
    "FILETYPE 0x1\r\n"
    "\r\n"
    "{\r\n"
    "\tBLOCK \"StringFileInfo\"\r\n"
    "\t{\r\n"
    "\t\tBLOCK \"080404B0\"\r\n"
    "\t\t{\r\n"
    "\t\t\tVALUE \"CompanyName\", \"\xB9\xAB\xCB\xBE\"\r\n"
    "\t\t\tVALUE \"FileDescription\", \"\xC3\xE8\xCA\xF6\"\r\n"
    "\t\t\tVALUE \"FileVersion\", \"\xCE\xC4\xBC\xFE\xB0\xE6\xB1\xBE\"\r\n"
    "\t\t\tVALUE \"InternalName\", \"\xC4\xDA\xB2\xBF\xC3\xFB\xB3\xC6\"\r\n"
    "\t\t\tVALUE \"LegalCopyright\", \"\xB0\xE6\xC8\xA8\"\r\n"
    "\t\t\tVALUE \"OriginalFilename\", \"\xD4\xB4\xCE\xC4\xBC\xFE\xC3\xFB\"\r\n"
    "\t\t\tVALUE \"ProductName\", \"\xB2\xFA\xC6\xB7\xC3\xFB\xB3\xC6\"\r\n"
    "\t\t\tVALUE \"ProductVersion\", \"\xB2\xFA\xC6\xB7\xB0\xE6\xB1\xBE\"\r\n"
    "\t\t}\r\n"
    "\t}\r\n"
    "\r\n"
    "\tBLOCK \"VarFileInfo\"\r\n"
    "\t{\r\n"
    "\t\tVALUE \"Translation\", 0x0804 0x04B0\r\n"
    "\t}\r\n"
    "}\r\n"
    "\r\n";

constexpr std::string_view kCompany = "\xB9\xAB\xCB\xBE";                         // 公司
constexpr std::string_view kDescription = "\xC3\xE8\xCA\xF6";                     // 描述
constexpr std::string_view kFileVersion = "\xCE\xC4\xBC\xFE\xB0\xE6\xB1\xBE";     // 文件版本
constexpr std::string_view kInternalName = "\xC4\xDA\xB2\xBF\xC3\xFB\xB3\xC6";    // 内部名称
constexpr std::string_view kRightsNotice = "\xB0\xE6\xC8\xA8";                    // 版权
constexpr std::string_view kSourceFileName = "\xD4\xB4\xCE\xC4\xBC\xFE\xC3\xFB";  // 源文件名
constexpr std::string_view kProductName = "\xB2\xFA\xC6\xB7\xC3\xFB\xB3\xC6";     // 产品名称
constexpr std::string_view kProductVersion = "\xB2\xFA\xC6\xB7\xB0\xE6\xB1\xBE";  // 产品版本

constexpr uint16_t kFixedInfoSize = 52;  // VS_FIXEDFILEINFO, bytes
constexpr size_t kMaxLength = 0xFFFF;

enum class Keyword { kNone, kOpen, kClose, kBlock, kValue, kFileVersion, kProductVersion, kFileOs, kFileType };

std::string_view trim(std::string_view s) {
  const size_t first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

bool startsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

Keyword keywordOf(std::string_view line) {
  if (startsWith(line, "{")) return Keyword::kOpen;
  if (startsWith(line, "}")) return Keyword::kClose;
  if (startsWith(line, "BLOCK")) return Keyword::kBlock;
  if (startsWith(line, "VALUE")) return Keyword::kValue;
  if (startsWith(line, "FILEVERSION")) return Keyword::kFileVersion;
  if (startsWith(line, "PRODUCTVERSION")) return Keyword::kProductVersion;
  if (startsWith(line, "FILEOS")) return Keyword::kFileOs;
  if (startsWith(line, "FILETYPE")) return Keyword::kFileType;
  return Keyword::kNone;
}

// The text after the line's first space, trimmed.
std::string_view argumentOf(std::string_view line) {
  const size_t space = line.find(' ');
  return space == std::string_view::npos ? std::string_view() : trim(line.substr(space + 1));
}

// An optional sign, an optional lower-case "0x", then hexadecimal digits up
// to the first other character; the low 32 bits.
uint32_t parseHex(std::string_view s) {
  size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  if (s.substr(i, 2) == "0x") i += 2;
  uint32_t value = 0;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      break;
    }
    value = value * 16 + static_cast<uint32_t>(digit);
  }
  return negative ? 0u - value : value;
}

void put16(Bytes& out, size_t at, size_t value) {
  out[at] = static_cast<char>(value & 0xFF);
  out[at + 1] = static_cast<char>((value >> 8) & 0xFF);
}

void append16(Bytes& out, uint32_t value) {
  out.push_back(static_cast<char>(value & 0xFF));
  out.push_back(static_cast<char>((value >> 8) & 0xFF));
}

void append32(Bytes& out, uint32_t value) {
  append16(out, value & 0xFFFF);
  append16(out, value >> 16);
}

void padTo4(Bytes& out, size_t start) {
  while ((out.size() - start) % 4 != 0) out.push_back('\0');
}

class Compiler {
 public:
  Compiler(std::string_view script, TextCodec& codec) : lines_(splitBytes(script, "\r\n")), codec_(codec) {}

  VersionScriptStatus run(Bytes* out) {
    uint32_t fixed[13] = {0xFEEF04BD, 1, 0, 0, 0, 0, 0x3F, 0, 0, 0, 0, 0, 0};
    while (next_ < lines_.size()) {
      const std::string_view line = trim(lines_[next_++]);
      const Keyword keyword = keywordOf(line);
      if (keyword == Keyword::kOpen) break;
      if (keyword == Keyword::kFileVersion || keyword == Keyword::kProductVersion) {
        const std::vector<Text> parts = splitGbk(argumentOf(line), ',');
        if (parts.size() < 4) continue;
        const auto part = [&](int i) { return static_cast<uint32_t>(toInt(parts[i])); };
        const int at = keyword == Keyword::kFileVersion ? 2 : 4;
        fixed[at] = part(0) << 16 | part(1);
        fixed[at + 1] = part(2) << 16 | part(3);
      } else if (keyword == Keyword::kFileOs) {
        fixed[8] = parseHex(argumentOf(line));
      } else if (keyword == Keyword::kFileType) {
        fixed[9] = parseHex(argumentOf(line));
      }
    }

    appendHeader("VS_VERSION_INFO", kFixedInfoSize, 0);
    for (uint32_t field : fixed) append32(result_, field);
    children(0);
    if (status_ == VersionScriptStatus::kOk && !setLength(0)) status_ = VersionScriptStatus::kTooLarge;
    if (status_ == VersionScriptStatus::kOk) *out = std::move(result_);
    return status_;
  }

 private:
  void appendHeader(std::string_view key, uint16_t valueLength, uint16_t type) {
    const size_t start = result_.size();
    append16(result_, 0);  // wLength, set when the entry is complete
    append16(result_, valueLength);
    append16(result_, type);
    appendUtf16z(key);
    padTo4(result_, start);
  }

  void appendUtf16z(std::string_view text) {
    for (char16_t unit : codec_.toUtf16(text)) append16(result_, unit);
    append16(result_, 0);
  }

  // Sets the wLength of the entry starting at `start` to the bytes since.
  bool setLength(size_t start) {
    const size_t length = result_.size() - start;
    if (length > kMaxLength) return false;
    put16(result_, start, length);
    return true;
  }

  void children(int depth) {
    while (next_ < lines_.size() && status_ == VersionScriptStatus::kOk) {
      const std::string_view line = trim(lines_[next_++]);
      switch (keywordOf(line)) {
        case Keyword::kClose: return;
        case Keyword::kBlock: block(line, depth); break;
        case Keyword::kValue: value(line); break;
        default: break;
      }
    }
  }

  void block(std::string_view line, int depth) {
    if (depth >= kMaxVersionBlockDepth) {
      status_ = VersionScriptStatus::kTooDeep;
      return;
    }
    const size_t first = line.find('"'), last = line.rfind('"');
    const std::string_view key =
        first != std::string_view::npos && last > first ? line.substr(first + 1, last - first - 1) : std::string_view();
    const size_t start = result_.size();
    appendHeader(key, 0, 1);
    children(depth + 1);
    if (status_ == VersionScriptStatus::kOk && !setLength(start)) status_ = VersionScriptStatus::kTooLarge;
  }

  void value(std::string_view line) {
    const size_t comma = line.find(',');
    const size_t first = line.find('"');
    const size_t nameEnd = comma == 0 ? std::string_view::npos : line.rfind('"', comma == std::string_view::npos ? line.size() : comma - 1);
    const std::string_view name = first != std::string_view::npos && nameEnd != std::string_view::npos && nameEnd > first
                                      ? line.substr(first + 1, nameEnd - first - 1)
                                      : std::string_view();
    const size_t start = result_.size();
    if (name == "Translation") {
      const std::string_view argument =
          comma == std::string_view::npos ? std::string_view() : trim(line.substr(comma + 1));
      const std::vector<Text> parts = splitGbk(argument, ' ');
      if (parts.size() < 2) return;
      appendHeader(name, 4, 1);
      append16(result_, parseHex(parts[0]) & 0xFFFF);
      append16(result_, parseHex(parts[1]) & 0xFFFF);
    } else {
      const size_t valueStart = comma == std::string_view::npos ? std::string_view::npos : line.find('"', comma);
      const size_t valueEnd = line.rfind('"');
      const std::string_view text = valueStart != std::string_view::npos && valueEnd > valueStart
                                        ? line.substr(valueStart + 1, valueEnd - valueStart - 1)
                                        : std::string_view();
      appendHeader(name, 0, 1);
      const size_t valueAt = result_.size();
      appendUtf16z(text);
      padTo4(result_, valueAt);
      const size_t valueBytes = result_.size() - valueAt;
      if (valueBytes / 2 > kMaxLength) {
        status_ = VersionScriptStatus::kTooLarge;
        return;
      }
      put16(result_, start + 2, valueBytes / 2);
    }
    if (!setLength(start)) status_ = VersionScriptStatus::kTooLarge;
  }

  std::vector<Bytes> lines_;
  size_t next_ = 0;
  TextCodec& codec_;
  Bytes result_;
  VersionScriptStatus status_ = VersionScriptStatus::kOk;
};

uint32_t read32(std::string_view s, size_t at) {
  return static_cast<uint32_t>(static_cast<unsigned char>(s[at])) |
         static_cast<uint32_t>(static_cast<unsigned char>(s[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(s[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(s[at + 3])) << 24;
}

uint16_t read16(std::string_view s, size_t at) {
  return static_cast<uint16_t>(static_cast<unsigned char>(s[at]) | static_cast<unsigned char>(s[at + 1]) << 8);
}

}  // namespace

Text fillVersionTemplate(const VersionTexts& texts) {
  Text script(kTemplate);
  script = replaceAll(script, kCompany, texts.company);
  script = replaceAll(script, kDescription, texts.description);
  script = replaceAll(script, kRightsNotice, texts.rightsNotice);
  script = replaceAll(script, kFileVersion, texts.fileVersion);
  script = replaceAll(script, kInternalName, texts.internalName);
  script = replaceAll(script, kSourceFileName, texts.sourceFileName);
  script = replaceAll(script, kProductName, texts.productName);
  script = replaceAll(script, kProductVersion, texts.productVersion);
  return script;
}

VersionScriptStatus compileVersionScript(std::string_view script, TextCodec& codec, Bytes* out) {
  out->clear();
  return Compiler(script, codec).run(out);
}

size_t executableImageEnd(std::string_view file) {
  constexpr size_t kDosHeader = 0x40, kCoffHeader = 20, kSectionHeader = 40;
  if (file.size() < kDosHeader || file.substr(0, 2) != "MZ") return 0;
  const uint64_t pe = read32(file, 0x3C);
  if (pe + 4 + kCoffHeader > file.size() || file.substr(pe, 4) != std::string_view("PE\0\0", 4)) return 0;
  const uint64_t sections = read16(file, pe + 4 + 2);
  const uint64_t optionalSize = read16(file, pe + 4 + 16);
  const uint64_t table = pe + 4 + kCoffHeader + optionalSize;
  uint64_t end = table + sections * kSectionHeader;
  if (end > file.size()) return 0;
  if (optionalSize >= 64) end = std::max<uint64_t>(end, read32(file, pe + 4 + kCoffHeader + 60));  // SizeOfHeaders
  for (uint64_t i = 0; i < sections; ++i) {
    const size_t header = table + i * kSectionHeader;
    const uint64_t rawSize = read32(file, header + 16), rawOffset = read32(file, header + 20);
    if (rawSize > 0) end = std::max(end, rawOffset + rawSize);
  }
  return end > file.size() ? 0 : static_cast<size_t>(end);
}

bool setVersionInfo(FileSystem& fs, ResourceUpdater& updater, TextCodec& codec, const Text& exePath,
                    const VersionTexts& texts) {
  Bytes data;
  if (compileVersionScript(fillVersionTemplate(texts), codec, &data) != VersionScriptStatus::kOk) return false;

  const Bytes before = readWholeFile(fs, exePath);
  updater.apply(exePath, {});
  const size_t imageEnd = executableImageEnd(before);
  Bytes tail;
  if (imageEnd > 0) {
    tail = before.substr(imageEnd);
  } else {
    // No readable image: what the trial update cut off is what it drops.
    const uint64_t now = readWholeFile(fs, exePath).size();
    if (now < before.size()) tail = before.substr(now);
  }

  ResourceChange change;
  change.type.id = kResourceTypeVersion;
  change.name.id = 1;
  change.language = kVersionLanguage;
  change.data = std::move(data);
  const bool updated = updater.apply(exePath, {change});
  if (tail.empty()) return updated;

  // The system's update may rewrite the file without the appended data, and
  // its length alone does not tell (it may grow while dropping it).
  const Bytes after = readWholeFile(fs, exePath);
  const size_t afterEnd = executableImageEnd(after);
  if (afterEnd > 0 && std::string_view(after).substr(afterEnd) == tail) return updated;
  const Bytes restored = (afterEnd > 0 ? after.substr(0, afterEnd) : after) + tail;
  return replaceFile(fs, exePath, restored) && updated;
}

}  // namespace zul
