// The INI engine on arbitrary bytes: parsing, lookups and edits never crash,
// and a value that was written reads back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "config/ini_file.h"

namespace {

// The read-back form of a written value: blanks around it gone, then one pair
// of matching quotes.
std::string_view readBackForm(std::string_view v) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1A'; };
  while (!v.empty() && blank(v.front())) v.remove_prefix(1);
  while (!v.empty() && blank(v.back())) v.remove_suffix(1);
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) v = v.substr(1, v.size() - 2);
  return v;
}

}  // namespace

// Input: three short fields (section, key, value) each ended by 0x00, then
// the file's bytes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string_view fields[3];
  for (auto& field : fields) {
    const size_t end = input.find('\0');
    if (end == std::string_view::npos) return 0;
    field = input.substr(0, end);
    input.remove_prefix(end + 1);
  }
  zul::IniDocument doc(input);
  (void)doc.value(fields[0], fields[1]);
  const std::vector<zul::Text> names = doc.sectionNames();
  (void)zul::profileValue(doc, fields[0], fields[1]);

  if (doc.setValue(fields[0], fields[1], fields[2])) {
    const std::optional<zul::Text> back = doc.value(fields[0], fields[1]);
    if (!back || *back != readBackForm(fields[2])) abort();
    if (doc.sectionNames().size() > names.size() + 1) abort();
    // The edit leaves the file's start as it was up to the first change.
    const zul::IniDocument reparsed(doc.bytes());
    if (reparsed.bytes() != doc.bytes()) abort();
  }
  return 0;
}
