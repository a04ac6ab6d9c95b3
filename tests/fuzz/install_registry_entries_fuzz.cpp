// The registry-entry list and block writing on arbitrary bytes: the entry
// parser must read every block exactly as the block lookup does, and a
// block that setBlockBytes accepts must read back as the value written.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "config/data_block.h"
#include "install/registry_entries.h"

namespace {

std::string text(const std::string& bytes) { return bytes.substr(0, bytes.find('\0')); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  std::vector<zul::RegistryEntry> entries;
  (void)zul::parseRegistryEntries(input, &entries);
  // Checking against the lookup costs five searches per entry; the first
  // entries are where the parser's index could go wrong.
  for (size_t i = 1; i <= entries.size() && i <= 64; ++i) {
    const std::string n = std::to_string(i);
    const zul::RegistryEntry& e = entries[i - 1];
    if (e.path != text(zul::findDataBlock(input, "REGpath" + n)) ||
        e.type != text(zul::findDataBlock(input, "REGtype" + n)) ||
        e.data != zul::findDataBlock(input, "REGdata" + n) || e.off != text(zul::findDataBlock(input, "REGoff" + n)) ||
        e.name != text(zul::findDataBlock(input, "REGname" + n))) {
      abort();
    }
  }

  // The first byte splits the rest into a block name, a value and a store.
  if (size < 3) return 0;
  const size_t nameLength = 1 + data[0] % 8, valueLength = data[1];
  const std::string_view rest = input.substr(2);
  if (rest.size() < nameLength + valueLength) return 0;
  const std::string_view name = rest.substr(0, nameLength), value = rest.substr(nameLength, valueLength);
  const std::string_view store = rest.substr(nameLength + valueLength);
  std::string out;
  if (zul::setBlockBytes(store, name, value, &out)) {
    const std::string expected = value.empty() ? std::string(zul::kEmptyBlockValue) : std::string(value);
    if (zul::findDataBlock(out, name) != expected) abort();
  }
  return 0;
}
