#include "registry_list.h"

#include <iconv.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "config/compressed_container.h"
#include "config/data_block.h"
#include "project_text.h"

namespace zul::pack {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kListFile = "registry.txt";
constexpr std::string_view kEntryFile = "ZULREG.db";
constexpr std::string_view kTrueText = "\xD5\xE6";   // 真
constexpr std::string_view kFalseText = "\xBC\xD9";  // 假
// The installer reads no more entries than this.
constexpr size_t kMaxEntries = 4096;
constexpr std::string_view kRoots[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_CONFIG", "HKEY_CURRENT_USER",
                                       "HKEY_LOCAL_MACHINE", "HKEY_USERS"};

std::string at(const std::string& label, int line) { return label + ":" + std::to_string(line) + ": "; }

bool convert(const char* to, const char* from, std::string_view in, std::string* out) {
  out->clear();
  if (in.empty()) return true;
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string buffer(in.size() * 4 + 4, '\0');
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size(), dstLeft = buffer.size();
  char* dst = buffer.data();
  const bool ok = iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<size_t>(-1) && srcLeft == 0;
  iconv_close(cd);
  if (ok) *out = buffer.substr(0, dst - buffer.data());
  return ok;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool hasControl(std::string_view s) {
  return std::any_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 && c != '\t'; });
}

std::string asciiLowerCopy(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool readHostFile(const fs::path& path, std::string* data) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  *data = buffer.str();
  return static_cast<bool>(in) || in.eof();
}

// True when `script` starts as the registry editor's scripts do: 8-bit
// "REGEDIT4" or "Windows Registry Editor Version 5.00", or the latter in
// UTF-16LE after its byte-order mark.
bool isRegistryScript(std::string_view script) {
  constexpr std::string_view kVersion5 = "Windows Registry Editor Version 5.00";
  if (script.substr(0, 2) == "\xFF\xFE") {
    std::string narrow;
    for (size_t i = 2; i + 1 < script.size() && narrow.size() < kVersion5.size(); i += 2) {
      if (script[i + 1] != '\0') return false;
      narrow += script[i];
    }
    return narrow == kVersion5;
  }
  return script.substr(0, 8) == "REGEDIT4" || script.substr(0, kVersion5.size()) == kVersion5;
}

// Where the installer's replacement of "%InstallPath%" would not give the
// install folder in `script`: in a UTF-16 script it is not replaced at all;
// in an 8-bit one, inside a quoted name or string the registry editor reads
// the folder's backslashes as escapes ("\P" is dropped, "\n" a line break).
// Only key headers take it whole. True with `*line` (1-based) and `*reason`
// when such a place exists.
bool installPathMisplaced(std::string_view script, int* line, std::string* reason) {
  constexpr std::string_view kVariable = "%InstallPath%";
  if (script.substr(0, 2) == "\xFF\xFE") {
    std::string wide;
    for (char c : kVariable) wide += {c, '\0'};
    if (script.find(wide) == std::string_view::npos) return false;
    *line = 0;
    *reason = "a UTF-16 script keeps %InstallPath% as written; save it as REGEDIT4 text to have it replaced";
    return true;
  }
  *line = 0;
  for (size_t start = 0; start < script.size();) {
    ++*line;
    size_t end = script.find('\n', start);
    if (end == std::string_view::npos) end = script.size();
    const std::string_view text = trim(script.substr(start, end - start));
    start = end + 1;
    if (text.empty() || text.front() == '[' || text.front() == ';') continue;
    if (text.find(kVariable) != std::string_view::npos) {
      *reason = "%InstallPath% in a quoted name or string: the registry editor would read the install folder's "
                "backslashes as escapes; write this value in the registry list instead";
      return true;
    }
  }
  return false;
}

// Key header "[path]" or "[path] remove" in `line` (UTF-8, trimmed).
bool parseKeyHeader(std::string_view line, const std::string& where, Text* path, bool* remove, std::string* error) {
  const size_t close = line.rfind(']');
  if (close == std::string_view::npos) {
    *error = where + "the key header has no closing ']'";
    return false;
  }
  const std::string_view after = trim(line.substr(close + 1));
  if (!after.empty() && after != "remove") {
    *error = where + "only \"remove\" may follow the key header, not \"" + std::string(after) + "\"";
    return false;
  }
  *remove = !after.empty();
  std::string_view key = trim(line.substr(1, close - 1));
  while (!key.empty() && key.back() == '\\') key.remove_suffix(1);
  const std::string_view root = key.substr(0, key.find('\\'));
  const bool known = std::find(std::begin(kRoots), std::end(kRoots), root) != std::end(kRoots);
  if (!known) {
    for (std::string_view r : kRoots) {
      if (asciiLowerCopy(r) == asciiLowerCopy(root)) {
        *error = where + "root names are case-sensitive: write " + std::string(r) + ", not " + std::string(root);
        return false;
      }
    }
    *error = where + "unknown root \"" + std::string(root) +
             "\" (HKEY_CLASSES_ROOT, HKEY_CURRENT_CONFIG, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE or HKEY_USERS)";
    return false;
  }
  if (root.size() == key.size()) {
    *error = where + "a key below the root is needed";
    return false;
  }
  if (hasControl(key)) {
    *error = where + "the key holds a control character";
    return false;
  }
  if (!convert("GBK", "UTF-8", key, path)) {
    *error = where + "a character that GBK cannot hold";
    return false;
  }
  return true;
}

// The name part of a value line: a quoted name or the text before the first
// '='. `*rest` receives what follows the '='.
bool parseName(std::string_view line, const std::string& where, std::string* name, bool* quoted,
               std::string_view* rest, std::string* error) {
  name->clear();
  *quoted = !line.empty() && line.front() == '"';
  size_t i = 0;
  if (*quoted) {
    for (i = 1;; ++i) {
      if (i >= line.size()) {
        *error = where + "the quoted name has no closing '\"'";
        return false;
      }
      if (line[i] != '"') {
        *name += line[i];
      } else if (i + 1 < line.size() && line[i + 1] == '"') {
        *name += '"';
        ++i;
      } else {
        break;
      }
    }
    const std::string_view after = trim(line.substr(i + 1));
    if (after.empty() || after.front() != '=') {
      *error = where + "expected '=' after the quoted name";
      return false;
    }
    *rest = trim(after.substr(1));
    return true;
  }
  const size_t equals = line.find('=');
  if (equals == std::string_view::npos) {
    *error = where + "expected \"name = type:data\", \"import = FILE\" or a [key]";
    return false;
  }
  *name = std::string(trim(line.substr(0, equals)));
  if (name->empty()) {
    *error = where + "the value has no name (write @ for the default value)";
    return false;
  }
  *rest = trim(line.substr(equals + 1));
  return true;
}

bool parseDword(std::string_view text, Bytes* data) {
  const bool negative = !text.empty() && text.front() == '-';
  std::string_view digits = negative ? text.substr(1) : text;
  if (digits.empty() || digits.size() > 10) return false;
  int64_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (negative) value = -value;
  if (value < INT32_MIN || value > static_cast<int64_t>(UINT32_MAX)) return false;
  // The installer reads signed decimal text; values above the signed range
  // are stored as the negative number with the same 32 bits.
  *data = std::to_string(static_cast<int32_t>(static_cast<uint32_t>(value)));
  return true;
}

bool parseHex(std::string_view text, Bytes* data) {
  data->clear();
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == ',' || text[i] == ' ' || text[i] == '\t') {
      ++i;
      continue;
    }
    const int high = hexDigit(text[i]);
    const int low = i + 1 < text.size() ? hexDigit(text[i + 1]) : -1;
    if (high < 0 || low < 0) return false;
    if (i + 2 < text.size() && text[i + 2] != ',' && text[i + 2] != ' ' && text[i + 2] != '\t') return false;
    *data += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return true;
}

bool parseValue(std::string_view valueText, const std::string& where, RegistryListEntry* entry, std::string* error) {
  const size_t colon = valueText.find(':');
  if (colon == std::string_view::npos) {
    *error = where + "expected type:data (types sz, dword, hex)";
    return false;
  }
  const std::string type = asciiLowerCopy(trim(valueText.substr(0, colon)));
  const std::string_view data = valueText.substr(colon + 1);
  if (type == "sz") {
    entry->type = "REG_SZ";
    if (hasControl(data)) {
      *error = where + "the text holds a control character";
      return false;
    }
    if (!convert("GBK", "UTF-8", data, &entry->data)) {
      *error = where + "a character that GBK cannot hold";
      return false;
    }
  } else if (type == "dword") {
    entry->type = "REG_DWORD";
    if (!parseDword(trim(data), &entry->data)) {
      *error = where + "bad dword \"" + std::string(trim(data)) +
               "\" (a decimal number from -2147483648 to 4294967295)";
      return false;
    }
  } else if (type == "hex") {
    entry->type = "REG_BINARY";
    if (!parseHex(trim(data), &entry->data)) {
      *error = where + "bad hex bytes \"" + std::string(trim(data)) + "\" (two hex digits a byte, separated by , or blanks)";
      return false;
    }
  } else {
    *error = where + "unknown type \"" + type + "\" (sz, dword or hex)";
    return false;
  }
  return true;
}

// The block names of entry `i` (1-based), in the order of the fields.
std::vector<Text> blockNames(size_t i) {
  const Text n = std::to_string(i);
  return {"REGpath" + n, "REGtype" + n, "REGoff" + n, "REGname" + n, "REGdata" + n};
}

Bytes block(std::string_view name, std::string_view content) {
  Bytes b(name);
  b += '\x01';
  b.append(content);
  b.append(name);
  b.append(kBlockEndMarker);
  return b;
}

// Entry numbers k whose "REGdata" k opening occurs in `content`.
std::set<size_t> dataOpeningsIn(std::string_view content, size_t count) {
  std::set<size_t> found;
  constexpr std::string_view kTag = "REGdata";
  for (size_t at = content.find('\x01'); at != std::string_view::npos; at = content.find('\x01', at + 1)) {
    size_t digits = at;
    while (digits > 0 && at - digits < 5 && content[digits - 1] >= '0' && content[digits - 1] <= '9') --digits;
    if (digits == at || content[digits] == '0' || digits < kTag.size()) continue;
    if (content.substr(digits - kTag.size(), kTag.size()) != kTag) continue;
    const size_t number = std::stoul(std::string(content.substr(digits, at - digits)));
    if (number >= 1 && number <= count) found.insert(number);
  }
  return found;
}

}  // namespace

bool parseRegistryList(std::string_view bytes, const fs::path& project, const std::string& label,
                       std::vector<RegistryListEntry>* entries, std::string* error) {
  entries->clear();
  if (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF") {
    *error = label + ": UTF-16 text; save the list as UTF-8 or GBK";
    return false;
  }
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  const bool utf8 = isUtf8(bytes);

  Text key;
  bool haveKey = false, removeKey = false;
  int lineNumber = 0;
  for (size_t start = 0; start < bytes.size();) {
    ++lineNumber;
    size_t end = bytes.find('\n', start);
    if (end == std::string_view::npos) end = bytes.size();
    const std::string_view raw = bytes.substr(start, end - start);
    start = end + 1;
    const std::string where = at(label, lineNumber);

    std::string text;
    if (utf8) {
      text = std::string(raw);
    } else if (!convert("UTF-8", "GBK", raw, &text)) {
      *error = where + "neither UTF-8 nor GBK text";
      return false;
    }
    const std::string_view line = trim(text);
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;

    if (line.front() == '[') {
      if (!parseKeyHeader(line, where, &key, &removeKey, error)) return false;
      haveKey = true;
      continue;
    }

    std::string name;
    bool quoted = false;
    std::string_view rest;
    if (!parseName(line, where, &name, &quoted, &rest, error)) return false;

    RegistryListEntry entry;
    entry.line = lineNumber;
    if (!quoted && name == "import") {
      if (rest.empty()) {
        *error = where + "import needs a file name";
        return false;
      }
      const fs::path script = project / fs::path(std::string(rest));
      if (!readHostFile(script, &entry.data)) {
        *error = where + "import: " + script.string() + ": cannot be read";
        return false;
      }
      if (!isRegistryScript(entry.data)) {
        *error = where + "import: " + script.string() +
                 ": not a registry script (it must begin with REGEDIT4, or with Windows Registry Editor "
                 "Version 5.00 in UTF-16 or 8-bit text)";
        return false;
      }
      int scriptLine = 0;
      std::string reason;
      if (installPathMisplaced(entry.data, &scriptLine, &reason)) {
        *error = where + "import: " + script.string() + (scriptLine > 0 ? ":" + std::to_string(scriptLine) : "") +
                 ": " + reason;
        return false;
      }
      entry.type = "file";
      entries->push_back(std::move(entry));
      continue;
    }

    if (!haveKey) {
      *error = where + "a value before any [key]";
      return false;
    }
    if (!quoted && name == "@") name.clear();
    if (hasControl(name)) {
      *error = where + "the name holds a control character";
      return false;
    }
    if (!convert("GBK", "UTF-8", name, &entry.name)) {
      *error = where + "a character that GBK cannot hold";
      return false;
    }
    if (!parseValue(rest, where, &entry, error)) return false;
    entry.path = key;
    entry.remove = removeKey;
    entries->push_back(std::move(entry));
  }
  if (entries->size() > kMaxEntries) {
    *error = label + ": " + std::to_string(entries->size()) + " entries; the installer reads at most " +
             std::to_string(kMaxEntries);
    return false;
  }
  return true;
}

bool encodeRegistryEntries(const std::vector<RegistryListEntry>& entries, const std::string& label, Bytes* store,
                           std::string* error) {
  const size_t count = entries.size();
  if (count > kMaxEntries) {
    *error = label + ": more than " + std::to_string(kMaxEntries) + " entries";
    return false;
  }
  const auto fields = [](const RegistryListEntry& e) {
    return std::vector<std::string_view>{e.path, e.type, e.remove ? kTrueText : kFalseText, e.name, e.data};
  };

  // The lookup takes the first opening of a name, so a block must come
  // before any content that holds its opening. Only contents with 0x01 can
  // (data blocks; the text fields hold no control characters): the count and
  // the text blocks go first, then the data blocks, each after every data
  // block whose opening its content holds.
  Bytes out = block("num", std::to_string(count));
  for (size_t i = 1; i <= count; ++i) {
    const std::vector<Text> names = blockNames(i);
    const std::vector<std::string_view> values = fields(entries[i - 1]);
    for (size_t f = 0; f + 1 < names.size(); ++f) out += block(names[f], values[f]);
  }
  std::vector<std::set<size_t>> needs(count + 1);  // data blocks that must precede block i
  std::vector<std::vector<size_t>> neededBy(count + 1);
  for (size_t i = 1; i <= count; ++i) {
    for (size_t k : dataOpeningsIn(entries[i - 1].data, count)) {
      if (k == i) continue;
      needs[i].insert(k);
      neededBy[k].push_back(i);
    }
  }
  std::set<size_t> ready;
  for (size_t i = 1; i <= count; ++i) {
    if (needs[i].empty()) ready.insert(i);
  }
  size_t placed = 0;
  while (!ready.empty()) {
    const size_t i = *ready.begin();
    ready.erase(ready.begin());
    out += block("REGdata" + std::to_string(i), entries[i - 1].data);
    ++placed;
    for (size_t j : neededBy[i]) {
      needs[j].erase(i);
      if (needs[j].empty()) ready.insert(j);
    }
  }
  if (placed != count) {
    for (size_t i = 1; i <= count; ++i) {
      if (!needs[i].empty()) {
        *error = at(label, entries[i - 1].line) +
                 "the data holds the opening of another entry's data block, which holds this one's in turn";
        return false;
      }
    }
  }

  // The installer's own lookup decides.
  if (findDataBlock(out, "num") != std::to_string(count)) {
    *error = label + ": the entry count does not read back";
    return false;
  }
  for (size_t i = 1; i <= count; ++i) {
    const std::vector<Text> names = blockNames(i);
    const std::vector<std::string_view> values = fields(entries[i - 1]);
    for (size_t f = 0; f < names.size(); ++f) {
      if (findDataBlock(out, names[f]) != values[f]) {
        *error = at(label, entries[i - 1].line) + "its text would be cut short or misread: it holds \"" +
                 names[f] + "end\" or another block's pattern";
        return false;
      }
    }
  }
  *store = std::move(out);
  return true;
}

bool compressContainer(std::string_view plain, Bytes* container) {
  if (plain.empty() || plain.size() > kContainerOutputLimit) return false;
  uLongf size = compressBound(static_cast<uLong>(plain.size()));
  Bytes deflated(size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(deflated.data()), &size, reinterpret_cast<const Bytef*>(plain.data()),
                static_cast<uLong>(plain.size()), Z_BEST_COMPRESSION) != Z_OK) {
    return false;
  }
  deflated.resize(size);
  Bytes out(kContainerMagic);
  const uint32_t length = static_cast<uint32_t>(plain.size());
  for (int b = 0; b < 4; ++b) out += static_cast<char>(length >> (8 * b));
  out += deflated;
  *container = std::move(out);
  return true;
}

bool addRegistryList(const fs::path& project, std::vector<ArchiveEntry>* config, std::string* error) {
  const fs::path list = project / std::string(kListFile);
  std::error_code ec;
  if (!fs::exists(list, ec)) return true;
  const std::string label = list.string();
  for (const ArchiveEntry& e : *config) {
    if (asciiLowerCopy(e.name) == asciiLowerCopy(kEntryFile)) {
      *error = label + ": the configuration folder already holds a " + std::string(kEntryFile) +
               "; keep one of the two";
      return false;
    }
  }
  std::string bytes;
  if (!readHostFile(list, &bytes)) {
    *error = label + ": cannot be read";
    return false;
  }
  std::vector<RegistryListEntry> entries;
  Bytes store, container;
  if (!parseRegistryList(bytes, project, label, &entries, error) ||
      !encodeRegistryEntries(entries, label, &store, error)) {
    return false;
  }
  if (!compressContainer(store, &container) || decompressBytes(container) != store) {
    *error = label + ": the list is too large for the installer's container";
    return false;
  }
  ArchiveEntry entry;
  entry.name = Text(kEntryFile);
  entry.data = std::move(container);
  config->push_back(std::move(entry));
  return true;
}

}  // namespace zul::pack
