#include "sevenzip/crc32.h"

#include <gtest/gtest.h>

#include <string>

namespace zul::sevenzip {
namespace {

TEST(Crc32Test, KnownValuesAndContinuation) {
  EXPECT_EQ(crc32("", 0), 0u);
  EXPECT_EQ(crc32("123456789", 9), 0xCBF43926u);
  std::string data;
  for (int i = 0; i < 1000; ++i) data.push_back(static_cast<char>(i * 7 + (i >> 3)));
  const uint32_t whole = crc32(data.data(), data.size());
  for (size_t cut : {size_t{0}, size_t{1}, size_t{7}, size_t{8}, size_t{333}, size_t{1000}}) {
    EXPECT_EQ(crc32Update(crc32(data.data(), cut), data.data() + cut, data.size() - cut), whole) << cut;
  }
}

}  // namespace
}  // namespace zul::sevenzip
