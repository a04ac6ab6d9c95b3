// Shared by the reader's tests: where the 7zz fixtures are and how to look
// at extracted files in either tree.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file_system.h"
#include "platform/test_support/scratch_folder.h"

namespace zul::sevenzip::testing {

// The fixture folder's path in the tree's FileSystem form, ending in "\"
// (natively a host path, under Wine the host path on drive Z:).
Text fixturePath(const std::string& name = "");
// A file of the committed corpus (testdata/corpus) in the same form.
Text corpusPath(const std::string& name);
// A file's last-write time in FILETIME units; 0 when it cannot be read.
uint64_t modificationTime(ScratchFolder& scratch, const Text& path);
// GBK bytes from hex digits.
Text fromHex(const std::string& hex);

}  // namespace zul::sevenzip::testing
