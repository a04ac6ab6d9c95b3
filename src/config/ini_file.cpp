#include "config/ini_file.h"

namespace zul {
namespace {

// Blanks that the profile functions drop around names and values. 0x1A is
// the old end-of-file mark, which they treat as a blank too. None of these
// can be a GBK trail byte, so trimming from the end is safe.
bool isBlank(unsigned char b) { return b == ' ' || b == '\t' || b == '\v' || b == '\f' || b == 0x1A; }

bool isLineBreak(char c) { return c == '\r' || c == '\n'; }

std::string_view trimBlanks(std::string_view s) {
  while (!s.empty() && isBlank(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && isBlank(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

// A C string ends at its first NUL: names and values handed through the
// profile functions cannot hold one.
std::string_view upToNul(std::string_view s) {
  const size_t at = s.find('\0');
  return at == std::string_view::npos ? s : s.substr(0, at);
}

// Equal ignoring the case of ASCII letters that are not GBK trail bytes.
bool equalNames(std::string_view a, std::string_view b) {
  return a.size() == b.size() && asciiLower(a) == asciiLower(b);
}

// Drops one pair of matching single or double quotes around the whole value.
std::string_view stripQuotes(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    return v.substr(1, v.size() - 2);
  }
  return v;
}

// The longest prefix of at most `limit` bytes that does not end inside a
// double-byte character.
std::string_view cutWhole(std::string_view s, size_t limit) {
  if (s.size() <= limit) return s;
  size_t i = 0;
  while (i < limit) {
    const size_t width = isGbkLeadByte(static_cast<unsigned char>(s[i])) && i + 1 < s.size() ? 2 : 1;
    if (i + width > limit) break;
    i += width;
  }
  return s.substr(0, i);
}

// Line breaks and NUL would end the line or the text early; a lead byte at
// the very end would take the byte after it (a "]", "=" or line break) as
// its trail byte.
bool hasForbiddenByte(std::string_view s) {
  if (s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) return true;
  for (size_t i = 0; i < s.size(); ++i) {
    if (isGbkLeadByte(static_cast<unsigned char>(s[i]))) {
      if (i + 1 == s.size()) return true;
      ++i;
    }
  }
  return false;
}

std::string_view stripLeadingControls(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= 32) s.remove_prefix(1);
  return s;
}

}  // namespace

IniDocument::IniDocument(std::string_view bytes) : bytes_(bytes) { parse(); }

void IniDocument::parse() {
  lines_.clear();
  const size_t n = bytes_.size();
  size_t pos = 0;
  while (pos < n) {
    Line line;
    line.start = pos;
    size_t i = pos;
    while (i < n && !isLineBreak(bytes_[i])) {
      i += isGbkLeadByte(static_cast<unsigned char>(bytes_[i])) && i + 1 < n ? 2 : 1;
    }
    line.end = i;
    if (i < n && bytes_[i] == '\r') ++i;
    if (i < n && bytes_[i] == '\n' && (i == line.end || bytes_[i - 1] == '\r')) ++i;
    line.next = i;

    size_t ts = line.start;
    size_t te = line.end;
    while (ts < te && isBlank(static_cast<unsigned char>(bytes_[ts]))) ++ts;
    while (te > ts && isBlank(static_cast<unsigned char>(bytes_[te - 1]))) --te;
    line.blank = ts == te;

    if (!line.blank && bytes_[ts] == '[') {
      // The name runs to the last "]" of the line; text after it is ignored.
      size_t close = std::string_view::npos;
      for (size_t k = ts + 1; k < te;) {
        if (isGbkLeadByte(static_cast<unsigned char>(bytes_[k])) && k + 1 < te) {
          k += 2;
          continue;
        }
        if (bytes_[k] == ']') close = k;
        ++k;
      }
      if (close != std::string_view::npos) {
        const std::string_view whole(bytes_);
        const std::string_view name = trimBlanks(whole.substr(ts + 1, close - ts - 1));
        line.isSection = true;
        line.nameStart = static_cast<size_t>(name.data() - whole.data());
        line.nameEnd = line.nameStart + name.size();
        lines_.push_back(line);
        pos = line.next;
        continue;
      }
    }

    if (!line.blank) {
      const std::string_view whole(bytes_);
      size_t equals = std::string_view::npos;
      for (size_t k = ts; k < te;) {
        if (isGbkLeadByte(static_cast<unsigned char>(bytes_[k])) && k + 1 < te) {
          k += 2;
          continue;
        }
        if (bytes_[k] == '=') {
          equals = k;
          break;
        }
        ++k;
      }
      const size_t nameEnd = equals == std::string_view::npos ? te : equals;
      const std::string_view name = trimBlanks(whole.substr(ts, nameEnd - ts));
      line.nameStart = static_cast<size_t>(name.data() - whole.data());
      line.nameEnd = line.nameStart + name.size();
      if (equals != std::string_view::npos) {
        const std::string_view value = trimBlanks(whole.substr(equals + 1, te - equals - 1));
        line.hasValue = true;
        line.valueStart = static_cast<size_t>(value.data() - whole.data());
        line.valueEnd = line.valueStart + value.size();
      }
    }
    lines_.push_back(line);
    pos = line.next;
  }
}

std::string_view IniDocument::name(const Line& line) const {
  return upToNul(std::string_view(bytes_).substr(line.nameStart, line.nameEnd - line.nameStart));
}

size_t IniDocument::findSection(std::string_view section) const {
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].isSection && equalNames(name(lines_[i]), section)) return i;
  }
  return lines_.size();
}

size_t IniDocument::findKey(size_t sectionIndex, std::string_view key) const {
  for (size_t i = sectionIndex + 1; i < lines_.size() && !lines_[i].isSection; ++i) {
    if (!lines_[i].blank && equalNames(name(lines_[i]), key)) return i;
  }
  return lines_.size();
}

std::optional<Text> IniDocument::value(std::string_view section, std::string_view key) const {
  section = trimBlanks(section);
  key = trimBlanks(key);
  const size_t s = findSection(section);
  if (s == lines_.size()) return std::nullopt;
  const size_t k = findKey(s, key);
  if (k == lines_.size() || !lines_[k].hasValue) return std::nullopt;
  const Line& line = lines_[k];
  const std::string_view raw = std::string_view(bytes_).substr(line.valueStart, line.valueEnd - line.valueStart);
  return Text(stripQuotes(upToNul(raw)));
}

std::vector<Text> IniDocument::sectionNames() const {
  std::vector<Text> names;
  for (const Line& line : lines_) {
    if (line.isSection && !name(line).empty()) names.emplace_back(name(line));
  }
  return names;
}

bool IniDocument::setValue(std::string_view section, std::string_view key, std::string_view value) {
  section = trimBlanks(section);
  key = trimBlanks(key);
  while (!value.empty() && isBlank(static_cast<unsigned char>(value.front()))) value.remove_prefix(1);
  if (section.empty() || key.empty() || hasForbiddenByte(section) || hasForbiddenByte(key) ||
      hasForbiddenByte(value)) {
    return false;
  }
  // A key that would read back as another key or as a section header.
  if (key.front() == '[' || splitGbk(key, '=').size() > 1) return false;

  const Text newLine = Text(key) + "=" + Text(value) + "\r\n";
  const size_t s = findSection(section);
  if (s == lines_.size()) {
    Text tail;
    if (!lines_.empty() && lines_.back().next == lines_.back().end) tail = "\r\n";
    tail.append("[").append(section).append("]\r\n").append(newLine);
    bytes_ += tail;
    parse();
    return true;
  }

  const size_t k = findKey(s, key);
  if (k != lines_.size()) {
    const Line& line = lines_[k];
    if (line.hasValue) {
      bytes_.replace(line.valueStart, line.valueEnd - line.valueStart, value);
    } else {
      bytes_.insert(line.nameEnd, Text("=").append(value));
    }
    parse();
    return true;
  }

  size_t last = s;
  for (size_t i = s + 1; i < lines_.size() && !lines_[i].isSection; ++i) {
    if (!lines_[i].blank) last = i;
  }
  const Line& after = lines_[last];
  if (after.next == after.end) {
    bytes_.insert(after.next, Text("\r\n").append(newLine));
  } else {
    bytes_.insert(after.next, newLine);
  }
  parse();
  return true;
}

Text profileValue(const IniDocument& doc, std::string_view section, std::string_view key) {
  section = stripLeadingControls(section);
  key = stripLeadingControls(key);
  if (section.empty() || key.empty()) return {};
  const std::optional<Text> value = doc.value(section, key);
  if (!value) return {};
  return Text(cutWhole(*value, kProfileValueBuffer - 1));
}

Text readProfileString(FileSystem& fs, const Text& path, const Text& section, const Text& key) {
  const std::string_view file = stripLeadingControls(path);
  if (file.empty() || stripLeadingControls(section).empty() || stripLeadingControls(key).empty()) return {};
  return profileValue(IniDocument(readWholeFile(fs, Text(file))), section, key);
}

bool writeProfileString(FileSystem& fs, const Text& path, const Text& section, const Text& key,
                        const Text& value) {
  const bool existed = fs.exists(path);
  const Bytes old = readWholeFile(fs, path);
  IniDocument doc(old);
  if (!doc.setValue(section, key, value)) return false;
  if (existed && doc.bytes() == old) return true;
  return replaceFile(fs, path, doc.bytes());
}

std::vector<Text> profileSectionNames(FileSystem& fs, const Text& path) {
  const IniDocument doc(readWholeFile(fs, path));
  std::vector<Text> names;
  size_t used = 1;  // the NUL that ends the list
  for (Text& name : doc.sectionNames()) {
    if (used + name.size() + 1 > kProfileSectionNamesBuffer) break;
    used += name.size() + 1;
    names.push_back(std::move(name));
  }
  return names;
}

bool replaceFile(FileSystem& fs, const Text& path, std::string_view data) {
  const Text temporary = path + ".zul-new";
  if (writeWholeFile(fs, temporary, data) && fs.moveFile(temporary, path)) return true;
  fs.removeFile(temporary);
  return false;
}

}  // namespace zul
