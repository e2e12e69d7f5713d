#include "store/crc32.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace pennacle {
namespace {

// One bit at a time, straight from the polynomial: what every stored trailer was written with.
uint32_t crc32_bitwise(uint32_t crc, const uint8_t* p, size_t n) {
  crc = ~crc;
  for (size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
  }
  return ~crc;
}

TEST(Crc32, KnownValueAndEveryLengthAlignmentAndSplit) {
  const uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(crc32(0, check, sizeof check), 0xCBF43926u);
  EXPECT_EQ(crc32(0, nullptr, 0), 0u);
  std::mt19937 rng(7);
  std::vector<uint8_t> bytes(300);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
  for (size_t from = 0; from < 9; ++from) {
    for (size_t n = 0; from + n <= bytes.size(); n += 1 + n / 8) {
      const uint32_t want = crc32_bitwise(0, bytes.data() + from, n);
      ASSERT_EQ(crc32(0, bytes.data() + from, n), want) << from << " " << n;
      const size_t cut = n / 3;
      ASSERT_EQ(crc32(crc32(0, bytes.data() + from, cut), bytes.data() + from + cut, n - cut), want);
    }
  }
}

}  // namespace
}  // namespace pennacle
