#include "project_text.h"

#include <gtest/gtest.h>

namespace zul::pack {
namespace {

TEST(ProjectText, ConvertsUtf8AndKeepsGbk) {
  struct Case {
    std::string in;
    Text want;
  } cases[] = {
      {"[\xE8\xBD\xAF\xE4\xBB\xB6]\nk=v\n", "[\xC8\xED\xBC\xFE]\r\nk=v\r\n"},            // UTF-8 "软件", LF ends
      {"\xEF\xBB\xBFk=\xE6\xB5\x8B\r\n", "k=\xB2\xE2\r\n"},                             // BOM dropped, "测"
      {"[\xC8\xED\xBC\xFE]\r\nk=v", "[\xC8\xED\xBC\xFE]\r\nk=v"},                      // already GBK, no final break
      {"plain ascii", "plain ascii"},
      {"", ""},
  };
  for (const auto& c : cases) {
    Text out;
    std::string error;
    ASSERT_TRUE(toPackageText(c.in, &out, &error)) << error;
    EXPECT_EQ(out, c.want);
  }
}

TEST(ProjectText, NamesTheLineOfACharacterGbkCannotHold) {
  Text out = "unchanged";
  std::string error;
  // U+1F600 (an emoji) on line 3.
  EXPECT_FALSE(toPackageText("a\nb\nc \xF0\x9F\x98\x80\n", &out, &error));
  EXPECT_EQ(error, "line 3: a character that GBK cannot hold");
  EXPECT_EQ(out, "unchanged");
}

TEST(ProjectText, Utf8Detection) {
  EXPECT_TRUE(isUtf8("\xE4\xB8\xAD"));
  EXPECT_FALSE(isUtf8("\xE4\xB8"));      // cut short
  EXPECT_FALSE(isUtf8("\xD6\xD0"));      // GBK "中"
  EXPECT_FALSE(isUtf8("\xC0\x80"));      // overlong
}

}  // namespace
}  // namespace zul::pack
