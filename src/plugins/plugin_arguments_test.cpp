#include "plugins/plugin_arguments.h"

#include <gtest/gtest.h>

#include <cstring>

namespace zul {
namespace {

Text line(std::string_view type, std::string_view value) {
  return "name" + Text(kParameterFieldSeparator) + Text(type) + Text(kParameterFieldSeparator) + Text(value);
}

Text join(const std::vector<Text>& lines) {
  Text out;
  for (size_t i = 0; i < lines.size(); ++i) out += (i ? Text(kParameterLineSeparator) : Text()) + lines[i];
  return out;
}

int32_t asInt(uintptr_t slot) { return static_cast<int32_t>(static_cast<intptr_t>(slot)); }
const char* asText(uintptr_t slot) { return reinterpret_cast<const char*>(slot); }

TEST(ArgumentStoreTest, EachTypeFillsItsSlot) {
  ArgumentStore store;
  const ArgumentSlots slots = store.fill(join({
      line(kTypeText, "\xC4\xE3\xBA\xC3"),              // 你好
      line(kTypeText, ""),                              // empty text: 0, not an empty string
      line(kTypeText, Text("ab\0cd", 5)),               // up to the first NUL
      line(kTypeBytes, Text("\x01\0\x02", 3)),          // by address, NULs kept
      line(kTypeBytes, ""),
      line(kTypeInteger, "-5"),
      line(kTypeInteger, " 42abc"),                     // as atoi reads it
      line("\xC2\xDF\xBC\xAD\xD0\xCD", "1"),            // 逻辑型: not a passed type
      "name" + Text(kParameterFieldSeparator) + Text(kTypeInteger),  // two fields only
  }));
  EXPECT_STREQ(asText(slots[0]), "\xC4\xE3\xBA\xC3");
  EXPECT_EQ(slots[1], 0u);
  EXPECT_STREQ(asText(slots[2]), "ab");
  ASSERT_NE(slots[3], 0u);
  EXPECT_EQ(std::memcmp(asText(slots[3]), "\x01\0\x02", 3), 0);
  EXPECT_EQ(slots[4], 0u);
  EXPECT_EQ(asInt(slots[5]), -5);
  EXPECT_EQ(static_cast<uint32_t>(slots[5]), 0xFFFFFFFBu);  // two's complement in 32 bits
  EXPECT_EQ(asInt(slots[6]), 42);
  EXPECT_EQ(slots[7], 0u);
  EXPECT_EQ(slots[8], 0u);
  for (size_t j = 9; j < kArgumentSlots; ++j) EXPECT_EQ(slots[j], 0u) << j;
  EXPECT_EQ(store.copies(), 3u);
}

TEST(ArgumentStoreTest, FifteenSlotsAtMostAndTheCopiesOutliveLaterCalls) {
  ArgumentStore store;
  std::vector<Text> lines;
  for (int j = 1; j <= 17; ++j) lines.push_back(line(kTypeInteger, std::to_string(j)));
  const ArgumentSlots numbers = store.fill(join(lines));
  for (size_t j = 0; j < kArgumentSlots; ++j) EXPECT_EQ(asInt(numbers[j]), static_cast<int32_t>(j + 1));

  const ArgumentSlots first = store.fill(line(kTypeText, "kept"));
  for (int i = 0; i < 100; ++i) (void)store.fill(line(kTypeText, std::string(100, 'x')));
  EXPECT_STREQ(asText(first[0]), "kept");
}

TEST(EventParameterTextTest, DescriptionBecomesParameterLines) {
  // 消息，整数型，2000 CRLF 参数一，整数型，1 CRLF
  const Text description =
      "\xCF\xFB\xCF\xA2\xA3\xAC\xD5\xFB\xCA\xFD\xD0\xCD\xA3\xAC" "2000\r\n"
      "\xB2\xCE\xCA\xFD\xD2\xBB\xA3\xAC\xD5\xFB\xCA\xFD\xD0\xCD\xA3\xAC" "1\r\n";
  const Text sep(kParameterFieldSeparator);
  EXPECT_EQ(eventParameterText(description),
            "\xCF\xFB\xCF\xA2" + sep + Text(kTypeInteger) + sep + "2000" + Text(kParameterLineSeparator) +
                "\xB2\xCE\xCA\xFD\xD2\xBB" + sep + Text(kTypeInteger) + sep + "1" + Text(kParameterLineSeparator));

  ArgumentStore store;
  const ArgumentSlots slots = store.fill(eventParameterText(description));
  EXPECT_EQ(asInt(slots[0]), 2000);
  EXPECT_EQ(asInt(slots[1]), 1);
  for (size_t j = 2; j < kArgumentSlots; ++j) EXPECT_EQ(slots[j], 0u);
}

TEST(EventParameterTextTest, EllipsisAndCrLfSeparateLinesAlike) {
  // ，整数型，1003……，整数型，1  against the same with CRLF
  const Text head = "\xA3\xAC\xD5\xFB\xCA\xFD\xD0\xCD\xA3\xAC" "1003";
  const Text tail = "\xA3\xAC\xD5\xFB\xCA\xFD\xD0\xCD\xA3\xAC" "-1";
  const Text withEllipsis = eventParameterText(head + "\xA1\xAD\xA1\xAD" + tail);
  EXPECT_EQ(withEllipsis, eventParameterText(head + "\r\n" + tail));
  ArgumentStore store;
  const ArgumentSlots slots = store.fill(withEllipsis);
  EXPECT_EQ(asInt(slots[0]), 1003);
  EXPECT_EQ(asInt(slots[1]), -1);
}

}  // namespace
}  // namespace zul
