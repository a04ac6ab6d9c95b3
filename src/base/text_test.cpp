#include "base/text.h"

#include <gtest/gtest.h>

namespace zul {
namespace {

TEST(SplitGbk, TrailBytesNeverSeparate) {
  // "表" is B1 ED and "\xD5\x5C" is a character whose trail byte is '\'.
  const std::string s = "C:\\\xD5\x5C\\b";
  const auto parts = splitGbk(s, '\\');
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts[0], "C:");
  EXPECT_EQ(parts[1], "\xD5\x5C");
  EXPECT_EQ(parts[2], "b");
}

TEST(SplitBytes, KeepsEmptyParts) {
  const auto parts = splitBytes("a#!#b#!##!#", "#!#");
  ASSERT_EQ(parts.size(), 4u);
  EXPECT_EQ(parts[0], "a");
  EXPECT_EQ(parts[1], "b");
  EXPECT_EQ(parts[2], "");
  EXPECT_EQ(parts[3], "");
}

TEST(ToInt, ReadsLeadingNumber) {
  struct Case { const char* in; int32_t want; } cases[] = {
      {"", 0}, {"abc", 0}, {"12", 12}, {" 7x", 7}, {"2x", 2}, {"-5", -5},
      {"+3", 3}, {"99999999999", 2147483647}, {"-99999999999", -2147483647 - 1},
  };
  for (const auto& c : cases) EXPECT_EQ(toInt(c.in), c.want) << c.in;
}

TEST(AsciiLower, LeavesTrailBytesAlone) {
  // 0x81 0x41 is a double-byte character whose trail byte is 'A'.
  EXPECT_EQ(asciiLower("AbC\x81\x41Z"), "abc\x81\x41z");
}

}  // namespace
}  // namespace zul
