#include "plugins/plugin_arguments.h"

#include <cstring>

namespace zul {
namespace {

Text replaceAll(std::string_view text, std::string_view from, std::string_view to) {
  Text out;
  out.reserve(text.size());
  size_t start = 0;
  for (size_t at; (at = text.find(from, start)) != std::string_view::npos; start = at + from.size()) {
    out.append(text.substr(start, at - start)).append(to);
  }
  out.append(text.substr(start));
  return out;
}

}  // namespace

uintptr_t ArgumentStore::keep(std::string_view bytes) {
  // One extra zero byte: a byte-set value read as a text still ends.
  auto copy = std::make_unique<char[]>(bytes.size() + 1);
  std::memcpy(copy.get(), bytes.data(), bytes.size());
  copy[bytes.size()] = '\0';
  const auto address = reinterpret_cast<uintptr_t>(copy.get());
  copies_.push_back(std::move(copy));
  return address;
}

ArgumentSlots ArgumentStore::fill(std::string_view parameters) {
  ArgumentSlots slots{};
  const std::vector<Bytes> lines = splitBytes(parameters, kParameterLineSeparator);
  for (size_t j = 0; j < lines.size() && j < kArgumentSlots; ++j) {
    const std::vector<Bytes> fields = splitBytes(lines[j], kParameterFieldSeparator);
    if (fields.size() < 3) continue;
    const std::string_view type = fields[1];
    const std::string_view value = fields[2];
    if (type == kTypeText) {
      const std::string_view text = value.substr(0, value.find('\0'));
      if (!text.empty()) slots[j] = keep(text);
    } else if (type == kTypeBytes) {
      if (!value.empty()) slots[j] = keep(value);
    } else if (type == kTypeInteger) {
      // Sign-extended, so that a 32-bit int parameter reads the same value
      // in either build.
      slots[j] = static_cast<uintptr_t>(static_cast<intptr_t>(toInt(value)));
    }
  }
  return slots;
}

Text eventParameterText(std::string_view description) {
  Text text = replaceAll(description, "\xA1\xAD\xA1\xAD", "\r\n");  // …… -> CRLF
  text = replaceAll(text, "\xA3\xAC", kParameterFieldSeparator);    // ，
  return replaceAll(text, "\r\n", kParameterLineSeparator);
}

}  // namespace zul
