// The 7z reader on arbitrary bytes, through header parsing, every coder and
// extraction into a memory file system: any input ends in a status, never a
// crash or a hang, and nothing is written outside the destination folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "config/memory_file_system.h"
#include "sevenzip/extractor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zul::MemoryFileSystem fs;
  fs.files["C:\\a.7z"] = zul::Bytes(reinterpret_cast<const char*>(data), size);
  zul::sevenzip::ExtractOptions options;
  options.password = "p";
  options.limits.memoryBytes = 64 << 20;
  options.limits.maxKeyDerivationPower = 8;
  uint64_t total = 0;
  options.onEvent = [&total](const zul::sevenzip::ExtractEvent& e) {
    if (e.kind != zul::sevenzip::ExtractEvent::Kind::kBegin) total += 1;
    return e.written < (16u << 20) && total < 100000;
  };
  (void)zul::sevenzip::extract(fs, "C:\\a.7z", "C:\\out", options);
  for (const auto& [path, bytes] : fs.files) {
    if (path != "C:\\a.7z" && path.rfind("C:\\out\\", 0) != 0) abort();
  }
  for (const auto& path : fs.folders) {
    if (path != "C:\\out" && path.rfind("C:\\out\\", 0) != 0 && path != "C:") abort();
  }
  return 0;
}
