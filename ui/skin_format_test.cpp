#include "ui/skin_format.h"

#include <gtest/gtest.h>

#include <cstring>

namespace pennacle {
namespace {

Skin sample() {
  Skin s;
  s.name = "Sample";
  s.palette = {{3, 10, 0xFFEEF3F1}, {1, 6, 0xFF808080}, {0, 12, 0xFF1B7F6B}};
  s.font = SkinFont{10, 500, "DejaVu Sans"};
  s.style_sheet = "QWidget { color: #1E2B27; }";
  return s;
}

// Rewrites the length and checksum so that a test reaches the check it means to hit.
void reseal(std::vector<uint8_t>& b) {
  const auto length = static_cast<uint32_t>(b.size());
  std::memcpy(b.data() + 8, &length, 4);
  const uint32_t crc = skin_crc32(std::span<const uint8_t>(b).subspan(kSkinHeaderSize));
  std::memcpy(b.data() + 12, &crc, 4);
}

void add_record(std::vector<uint8_t>& b, uint16_t tag, const std::vector<uint8_t>& payload) {
  const uint8_t head[8] = {static_cast<uint8_t>(tag),
                           static_cast<uint8_t>(tag >> 8),
                           0,
                           0,
                           static_cast<uint8_t>(payload.size()),
                           static_cast<uint8_t>(payload.size() >> 8),
                           0,
                           0};
  b.insert(b.end(), head, head + 8);
  b.insert(b.end(), payload.begin(), payload.end());
  b[6] = static_cast<uint8_t>(b[6] + 1);
  reseal(b);
}

std::string why_refused(const std::vector<uint8_t>& b) {
  const Result<Skin> skin = read_skin(b);
  EXPECT_FALSE(skin.ok());
  return skin.status().message();
}

TEST(SkinFormat, WrittenBlockReadsBackEqual) {
  const Skin s = sample();
  const auto block = write_skin(s);
  ASSERT_EQ(std::memcmp(block.data(), ".SKN", 4), 0);
  const auto back = read_skin(block);
  ASSERT_TRUE(back.ok());
  EXPECT_EQ(*back, s);
}

TEST(SkinFormat, CrcMatchesTheZlibCheckValue) {
  const char* text = "123456789";
  EXPECT_EQ(skin_crc32({reinterpret_cast<const uint8_t*>(text), 9}), 0xCBF43926u);
}

TEST(SkinFormat, EveryTruncationIsRefused) {
  const auto block = write_skin(sample());
  for (size_t n = 0; n < block.size(); ++n) {
    std::vector<uint8_t> cut(block.begin(), block.begin() + static_cast<long>(n));
    EXPECT_FALSE(read_skin(cut).ok()) << "length " << n;
    // Even with the header's length and checksum made to agree, a record cut short is refused.
    if (n >= kSkinHeaderSize && n < block.size()) {
      reseal(cut);
      EXPECT_FALSE(read_skin(cut).ok()) << "resealed length " << n;
    }
  }
}

TEST(SkinFormat, EverySingleByteChangeIsRefused) {
  const auto block = write_skin(sample());
  for (size_t i = 0; i < block.size(); ++i) {
    auto bad = block;
    bad[i] ^= 0x41;
    EXPECT_FALSE(read_skin(bad).ok()) << "byte " << i;
  }
}

TEST(SkinFormat, HeaderFieldsAreChecked) {
  auto block = write_skin(sample());
  auto bad = block;
  bad[4] = 2;  // version
  EXPECT_EQ(why_refused(bad), "unknown version");
  bad = block;
  bad[6] = 0;  // no records
  EXPECT_EQ(why_refused(bad), "bad record count");
  bad = block;
  bad[6] = 17;
  EXPECT_EQ(why_refused(bad), "bad record count");
  bad = block;
  bad[6] = static_cast<uint8_t>(bad[6] + 1);  // one more record than there is
  EXPECT_EQ(why_refused(bad), "record header past the end");
  bad = block;
  bad.push_back(0);  // a byte after the last record, length and checksum made to agree
  reseal(bad);
  EXPECT_EQ(why_refused(bad), "bytes after the last record");
}

TEST(SkinFormat, RecordLengthReachingPastTheEndIsRefused) {
  auto block = write_skin(sample());
  // The first record's length field: huge, and one past the end. Neither may wrap around.
  for (uint32_t length : {0xFFFFFFF0u, static_cast<uint32_t>(block.size())}) {
    auto bad = block;
    std::memcpy(bad.data() + kSkinHeaderSize + 4, &length, 4);
    reseal(bad);
    EXPECT_EQ(why_refused(bad), "record past the end");
  }
}

TEST(SkinFormat, FieldsOutsideTheirRangesAreRefused) {
  Skin s = sample();
  s.palette.push_back({4, 0, 0});  // no such group
  EXPECT_THROW(write_skin(s), std::invalid_argument);
  s = sample();
  s.palette.push_back({0, kSkinRoleCount, 0});  // no such role
  EXPECT_THROW(write_skin(s), std::invalid_argument);
  s = sample();
  s.font->point_size = 5;
  EXPECT_THROW(write_skin(s), std::invalid_argument);
  s = sample();
  s.font->weight = 1000;
  EXPECT_THROW(write_skin(s), std::invalid_argument);
  s = sample();
  s.style_sheet = std::string("QWidget {}\0x", 12);  // a zero byte inside the text
  EXPECT_THROW(write_skin(s), std::invalid_argument);
  s = sample();
  s.style_sheet = "QWidget { font-family: \"\xC0\xAF\"; }";  // overlong UTF-8
  EXPECT_THROW(write_skin(s), std::invalid_argument);
  s = sample();
  s.palette.clear();
  EXPECT_THROW(write_skin(s), std::invalid_argument);
  s = sample();
  s.style_sheet.clear();
  EXPECT_THROW(write_skin(s), std::invalid_argument);
}

TEST(SkinFormat, PaletteCountMustMatchItsRecordLength) {
  auto block = write_skin(sample());
  // Name record first (8 + 6 bytes), then the palette record whose payload starts with the count.
  const size_t count_at = kSkinHeaderSize + 8 + 6 + 8;
  auto bad = block;
  bad[count_at] = 2;  // three entries follow
  reseal(bad);
  EXPECT_EQ(why_refused(bad), "bad palette length");
}

TEST(SkinFormat, RepeatedRecordIsRefusedAndUnknownRecordSkipped) {
  auto block = write_skin(sample());
  auto repeated = block;
  add_record(repeated, 1, {'X'});
  EXPECT_EQ(why_refused(repeated), "repeated record");

  auto unknown = block;
  add_record(unknown, 99, {1, 2, 3});
  const auto read = read_skin(unknown);
  ASSERT_TRUE(read.ok());
  EXPECT_EQ(*read, sample());
}

TEST(SkinFormat, PaletteAndStyleAreRequired) {
  std::vector<uint8_t> b = {'.', 'S', 'K', 'N', 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  add_record(b, 1, {'N'});
  EXPECT_EQ(why_refused(b), "palette or style missing");
  add_record(b, 2, {1, 0, 3, 10, 0, 0, 0, 0xFF});
  EXPECT_EQ(why_refused(b), "palette or style missing");
  add_record(b, 4, {'*', '{', '}'});
  EXPECT_TRUE(read_skin(b).ok());
}

}  // namespace
}  // namespace pennacle
