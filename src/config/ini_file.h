// The package's INI files, read and written on their GBK bytes.
//
// Reading follows the Windows profile functions: section and key names are
// compared ignoring the case of ASCII letters, blanks around names and
// values are dropped, one pair of matching quotes around a value is dropped,
// and the first of two equal sections or keys wins. Lines end with CR LF, LF
// or CR; the last line needs no line break. Double-byte GBK characters are
// never split, so a trail byte "\", "[" or "]" is part of its character.
//
// Writing edits the file's bytes in place: one value is replaced, or one line
// or one section is added, and every other byte stays as it was. Data blocks
// with binary content may therefore live in the same file.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "platform/file_system.h"

namespace zul {

// Buffer size, in bytes, with which the program reads every value; a value is
// cut to one byte less, and never inside a double-byte character.
inline constexpr size_t kProfileValueBuffer = 10240;
// Buffer size, in bytes, for the list of section names (each name followed by
// a NUL byte, the list by another NUL byte).
inline constexpr size_t kProfileSectionNamesBuffer = 204800;

// A parsed view of one INI file. Holds a copy of the bytes; spans refer to it.
class IniDocument {
 public:
  explicit IniDocument(std::string_view bytes);

  // The value of `key` in the first section named `section`, without the
  // cut to the buffer size. Nullopt when the section or the key is missing,
  // or when the key's line has no "=". Names are trimmed of blanks first.
  std::optional<Text> value(std::string_view section, std::string_view key) const;

  // Names of every section in file order, duplicates included, empty names
  // left out.
  std::vector<Text> sectionNames() const;

  // Sets `key` in the first section named `section` to `value` (leading
  // blanks of `value` dropped, as the profile functions do). Replaces the old
  // value in place, else adds a line after the section's last non-blank line,
  // else adds the section at the end of the file. New lines end with CR LF.
  // False, with the document unchanged, when a trimmed name is empty, the
  // key holds "=" or starts with "[", or a name or the value holds a line
  // break or NUL or ends with a GBK lead byte (any of these would change
  // how the file reads).
  [[nodiscard]] bool setValue(std::string_view section, std::string_view key, std::string_view value);

  const Bytes& bytes() const { return bytes_; }

 private:
  struct Line {
    size_t start = 0;       // first byte of the line
    size_t end = 0;         // one past the last byte before the line break
    size_t next = 0;        // first byte of the following line
    bool isSection = false;
    size_t nameStart = 0;   // section name, or key name (trimmed)
    size_t nameEnd = 0;
    bool hasValue = false;  // key line with "="
    size_t valueStart = 0;  // raw value, trimmed, quotes kept
    size_t valueEnd = 0;
    bool blank = false;
  };

  void parse();
  std::string_view name(const Line& line) const;
  // Index of the first section header named `section`, or lines_.size().
  size_t findSection(std::string_view section) const;
  // Index of the first key line named `key` after header `sectionIndex` up to
  // the next header, or lines_.size().
  size_t findKey(size_t sectionIndex, std::string_view key) const;

  Bytes bytes_;
  std::vector<Line> lines_;
};

// The value that readProfileString gives for `section` and `key` of an
// already parsed file.
Text profileValue(const IniDocument& doc, std::string_view section, std::string_view key);

// GetPrivateProfileStringA with an empty default and a 10,240-byte buffer.
// Characters with codes up to 32 are removed from the front of `path`,
// `section` and `key`; when one of them is then empty the result is empty and
// nothing is read. A missing file, section or key gives the empty text.
Text readProfileString(FileSystem& fs, const Text& path, const Text& section, const Text& key);

// WritePrivateProfileStringA setting one value (see IniDocument::setValue).
// Creates the file when it is missing. The new contents are written to a
// temporary file beside `path` and renamed over it, so a failure leaves the
// old file whole. False when the names are not valid or the file could not be
// written.
[[nodiscard]] bool writeProfileString(FileSystem& fs, const Text& path, const Text& section, const Text& key,
                                      const Text& value);

// GetPrivateProfileSectionNamesA with a 204,800-byte buffer: the section
// names in file order. Names that no longer fit in the buffer are left out
// whole rather than cut. Empty when the file is missing.
std::vector<Text> profileSectionNames(FileSystem& fs, const Text& path);

// Replaces `path` with `data` through a temporary file in the same folder and
// a rename, so that an interruption never leaves a half-written file. False
// when either step failed; the temporary file is then removed.
[[nodiscard]] bool replaceFile(FileSystem& fs, const Text& path, std::string_view data);

}  // namespace zul
