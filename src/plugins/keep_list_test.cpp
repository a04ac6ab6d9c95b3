#include "plugins/keep_list.h"

#include <gtest/gtest.h>

namespace zul {
namespace {

TEST(KeepListTest, SplitsAtCommas) {
  struct Case {
    std::string_view text;
    std::vector<Text> pieces;
  } cases[] = {
      {"", {}},
      {"data", {"data"}},
      {"data,bin\\a.dll", {"data", "bin\\a.dll"}},
      {"a,,b", {"a", "", "b"}},
      {"a,", {"a"}},
      {",a", {"", "a"}},
      {"\xD7\xD6,\xCA\xFD", {"\xD7\xD6", "\xCA\xFD"}},
  };
  for (const Case& c : cases) EXPECT_EQ(parseKeepList(c.text), c.pieces) << c.text;
}

}  // namespace
}  // namespace zul
