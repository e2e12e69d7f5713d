#include "ledger/import/import_categories.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pennacle {
namespace {

// This file is compiled with GBK literals: the export's UTF-8 texts are written as bytes.
const std::string kFood = "\xE9\xA4\x90\xE9\xA5\xAE";  // UTF-8 餐饮
const std::string kFoodGbk = "\xB2\xCD\xD2\xFB";       // the same in GBK
const std::string kSmile = "\xF0\x9F\x98\x80";         // UTF-8, no GBK character
const std::string kTooLong(kMaxCategoryBytes + 1, 'a');

TEST(ExportCategoryTexts, EachTextIsConvertedOnceAndNamesTheSameAsAlone) {
  ExportCategoryTexts texts;
  Bill bill;
  const std::vector<std::string> cells = {kFood, "", kSmile + kFood, kSmile, "a::b", kTooLong, kFood, ""};
  for (const std::string& cell : cells) {
    ExportBill row;
    row.category = cell;
    const ImportCategory alone = export_row_category(nullptr, ExportSource::Alipay, &row, bill);
    const ImportCategory memo = export_row_category(nullptr, ExportSource::Alipay, &row, bill, &texts);
    EXPECT_EQ(memo.name, alone.name) << cell;
    EXPECT_FALSE(memo.ignore);
  }
  EXPECT_EQ(texts.of(kFood).gbk, kFoodGbk);
  EXPECT_TRUE(texts.of(kFood).valid);
  EXPECT_EQ(&texts.of(kFood), &texts.of(std::string(kFood)));  // one entry per text
  EXPECT_EQ(texts.of(kSmile + kFood).gbk, kFoodGbk) << "what GBK cannot hold is dropped";
  for (const std::string& bad : {std::string(), kSmile, std::string("a::b"), kTooLong})
    EXPECT_FALSE(texts.of(bad).valid) << bad;
  // A refund the log remembered has no row: no category of its own.
  EXPECT_EQ(export_row_category(nullptr, ExportSource::Alipay, nullptr, bill, &texts).name, "");
}

}  // namespace
}  // namespace pennacle
