// Parameter texts and the argument slots of a plug-in call.
//
// A parameter text is a list of lines separated by "\r\nDLL标记$"; a line
// holds a name (unused), a type and a value separated by "$参数，". Line j
// fills argument slot j:
//   "文本型"  the address of a NUL-terminated copy of the value up to its
//            first NUL, or 0 when that text is empty;
//   "字节集"  the address of a copy of the value's bytes (no length is
//            passed), or 0 when the value is empty;
//   "整数型"  the value read like atoi, as a 32-bit integer;
//   other types, and lines with fewer than three fields, give 0.
// Slots no line fills are 0; lines after the 15th are ignored.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "base/text.h"

namespace zul {

inline constexpr size_t kArgumentSlots = 15;

// One slot's value. Pointer-sized: 32 bits in the stub that ships; on x86-64
// texts and bytes are passed by address too, and integers sign-extended.
using ArgumentSlots = std::array<uintptr_t, kArgumentSlots>;

inline constexpr std::string_view kParameterLineSeparator = "\r\nDLL\xB1\xEA\xBC\xC7$";  // \r\nDLL标记$
inline constexpr std::string_view kParameterFieldSeparator = "$\xB2\xCE\xCA\xFD\xA3\xAC";  // $参数，
inline constexpr std::string_view kTypeText = "\xCE\xC4\xB1\xBE\xD0\xCD";                  // 文本型
inline constexpr std::string_view kTypeBytes = "\xD7\xD6\xBD\xDA\xBC\xAF";                 // 字节集
inline constexpr std::string_view kTypeInteger = "\xD5\xFB\xCA\xFD\xD0\xCD";               // 整数型

// Holds the copies that text and byte-set arguments point to. Copies are
// never released while the store lives (the program keeps its store until it
// ends), so a plug-in may keep an address it was given.
class ArgumentStore {
 public:
  // The slots for `parameters`, copying its text and byte-set values into
  // the store.
  ArgumentSlots fill(std::string_view parameters);

  // Number of copies held.
  size_t copies() const { return copies_.size(); }

 private:
  uintptr_t keep(std::string_view bytes);
  std::vector<std::unique_ptr<char[]>> copies_;
};

// An event description as the wizard and the uninstaller build it (lines of
// "name，type，value", separated by "\r\n" or "……") turned into a parameter
// text: "……" becomes "\r\n", then "，" becomes "$参数，", then "\r\n"
// becomes "\r\nDLL标记$"; byte-exact, every occurrence.
Text eventParameterText(std::string_view description);

}  // namespace zul
