#include "config/data_block.h"

#include <gtest/gtest.h>

namespace zul {
namespace {

const Text kReadme = "\xD7\xD4\xCA\xF6\xCE\xC4\xB1\xBE_\xBF\xAA\xCA\xBC";  // 自述文本_开始

Bytes block(const Text& name, std::string_view content) { return name + "\x01" + Bytes(content) + name + "end"; }

TEST(FindDataBlockTest, Lookup) {
  const Bytes binary("line1\r\n[s]\r\nk=v\0\xFF\x01", 18);
  const struct {
    const char* what;
    Bytes file;
    Bytes expected;
  } cases[] = {
      {"between INI lines", "[a]\r\nx=1\r\n" + block(kReadme, binary) + "\r\n[b]\r\n", binary},
      {"missing", "[a]\r\nx=1\r\n", ""},
      {"empty content", block(kReadme, ""), ""},
      {"name without 0x01 is no opening", "note: " + kReadme + " here\r\n" + block(kReadme, "text"), "text"},
      {"name only without 0x01", "note: " + kReadme + "end " + kReadme + "\x02x", ""},
      {"no closing pattern", kReadme + "\x01text", ""},
      {"content cut at name + end", kReadme + "\x01" + "a" + kReadme + "endb" + kReadme + "end", "a"},
      {"first block wins", block(kReadme, "one") + block(kReadme, "two"), "one"},
      {"closing before the opening is skipped", kReadme + "end" + block(kReadme, "x"), "x"},
      {"at the very start and end", block(kReadme, "x"), "x"},
  };
  for (const auto& c : cases) EXPECT_EQ(findDataBlock(c.file, kReadme), c.expected) << c.what;
}

TEST(FindDataBlockTest, OtherEndMarker) {
  EXPECT_EQ(findDataBlock("n\x01" "abcnendxnstop", "n", "stop"), "abcnendx");
  EXPECT_EQ(findDataBlock("n\x01" "abcnend", "n", "stop"), "");
}

TEST(ReplaceReferencesTest, OnePassOverTheOriginal) {
  const Text r1 = "#\xD7\xCA\xD4\xB4\xCA\xFD\xBE\xDD_1";   // #资源数据_1
  const Text r2 = "#\xD7\xCA\xD4\xB4\xCA\xFD\xBE\xDD_2";   // #资源数据_2
  const struct {
    const char* what;
    Bytes file;
    std::vector<Text> references;
    std::vector<Bytes> contents;
    Bytes expected;
  } cases[] = {
      {"three occurrences", "a" + r1 + "b" + r1 + r1, {r1}, {"X"}, "aXbXX"},
      {"no references", "a=b\r\n", {r1, r2}, {"X", "Y"}, "a=b\r\n"},
      {"ordered by position", r2 + "-" + r1 + "-" + r2, {r1, r2}, {"X", "Y"}, "Y-X-Y"},
      {"contents are not searched again", r1 + r2, {r1, r2}, {r2, r1}, r2 + r1},
      {"content may be empty or binary", r1 + "|" + r2, {r1, r2}, {"", Bytes("\0\x01", 2)}, Bytes("|\0\x01", 3)},
      {"prefix reference: longer match wins", r1 + "0 " + r1, {r1, r1 + "0"}, {"short", "long"}, "long short"},
      {"self-overlap replaced once", "aaa", {"aa"}, {"X"}, "Xa"},
      {"empty reference ignored", "abc", {""}, {"X"}, "abc"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(replaceReferences(c.file, c.references, c.contents), c.expected) << c.what;
  }
}

}  // namespace
}  // namespace zul
