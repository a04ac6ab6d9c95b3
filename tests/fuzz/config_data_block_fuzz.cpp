// Data block lookup and reference replacement on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "config/data_block.h"

// Input: a block name ended by 0x00, then up to three references each ended
// by 0x00, then the file's bytes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t nameEnd = input.find('\0');
  if (nameEnd == std::string_view::npos) return 0;
  const std::string_view name = input.substr(0, nameEnd);
  input.remove_prefix(nameEnd + 1);
  std::vector<zul::Text> references;
  for (int i = 0; i < 3; ++i) {
    const size_t end = input.find('\0');
    if (end == std::string_view::npos) break;
    references.emplace_back(input.substr(0, end));
    input.remove_prefix(end + 1);
  }

  const zul::Bytes content = zul::findDataBlock(input, name);
  if (!content.empty()) {
    const zul::Bytes whole = zul::Bytes(name) + '\x01' + content + zul::Bytes(name) + "end";
    if (input.find(whole) == std::string_view::npos) abort();
  }

  // Replacing every reference by itself gives the input back.
  const std::vector<zul::Bytes> same(references.begin(), references.end());
  if (zul::replaceReferences(input, references, same) != input) abort();
  // One byte in place of every occurrence never makes the bytes longer.
  const std::vector<zul::Bytes> marks(references.size(), "#");
  if (zul::replaceReferences(input, references, marks).size() > input.size()) abort();
  return 0;
}
