#include "base/text.h"

#include <limits>

namespace zul {

std::vector<Text> splitGbk(std::string_view s, char sep) {
  std::vector<Text> parts(1);
  for (size_t i = 0; i < s.size(); ++i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (isGbkLeadByte(b) && i + 1 < s.size()) {
      parts.back().append(s.substr(i, 2));
      ++i;
    } else if (s[i] == sep) {
      parts.emplace_back();
    } else {
      parts.back().push_back(s[i]);
    }
  }
  return parts;
}

std::vector<Bytes> splitBytes(std::string_view s, std::string_view sep) {
  std::vector<Bytes> parts;
  if (sep.empty()) {
    parts.emplace_back(s);
    return parts;
  }
  size_t start = 0;
  for (;;) {
    const size_t at = s.find(sep, start);
    if (at == std::string_view::npos) break;
    parts.emplace_back(s.substr(start, at - start));
    start = at + sep.size();
  }
  parts.emplace_back(s.substr(start));
  return parts;
}

int32_t toInt(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
  int64_t value = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    value = value * 10 + (s[i] - '0');
    if (value > std::numeric_limits<int32_t>::max()) {
      return negative ? std::numeric_limits<int32_t>::min() : std::numeric_limits<int32_t>::max();
    }
  }
  return static_cast<int32_t>(negative ? -value : value);
}

size_t lastSeparatorGbk(std::string_view s, char separator) {
  size_t last = std::string_view::npos;
  for (size_t i = 0; i < s.size(); ++i) {
    if (isGbkLeadByte(static_cast<unsigned char>(s[i])) && i + 1 < s.size()) {
      ++i;
    } else if (s[i] == separator) {
      last = i;
    }
  }
  return last;
}

Text textUpToNul(std::string_view bytes) { return Text(bytes.substr(0, bytes.find('\0'))); }

Text asciiLower(std::string_view s) {
  Text out(s);
  for (size_t i = 0; i < out.size(); ++i) {
    const auto b = static_cast<unsigned char>(out[i]);
    if (isGbkLeadByte(b) && i + 1 < out.size()) {
      ++i;
    } else if (b >= 'A' && b <= 'Z') {
      out[i] = static_cast<char>(b - 'A' + 'a');
    }
  }
  return out;
}

}  // namespace zul
