#include "charts/chart_svg.h"

#include <gtest/gtest.h>

#include <regex>

namespace pennacle {
namespace {

size_t count(const std::string& s, const std::string& what) {
  size_t n = 0;
  for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1)) ++n;
  return n;
}

// The bar chart is an <svg> element that names its series and categories as text, sized in CSS
// pixels, with a bar drawn for every value above zero.
TEST(ChartSvg, ABarChartIsOneSvgElementWithItsTextsAndBars) {
  BarChartFigures figures;
  figures.title = "2023 年 支出与收入";
  figures.categories = {"1月", "2月", "3月"};
  figures.series = {{"支出", {120.5, 0, 30}, 0xD9534F}, {"收入", {200, 50, 0}, 0x5CB85C}};
  const Result<std::string> svg = bar_chart_svg(figures);
  ASSERT_TRUE(svg.ok()) << svg.status().message();
  EXPECT_EQ(svg->rfind("<svg", 0), 0u);
  EXPECT_EQ(svg->find("<?xml"), std::string::npos);
  EXPECT_NE(svg->find("</svg>"), std::string::npos);
  for (const char* text : {"2023 年 支出与收入", "1月", "2月", "3月", "支出", "收入"})
    EXPECT_NE(svg->find(text), std::string::npos) << text;
  EXPECT_NE(svg->find("viewBox=\"0 0 760 360\""), std::string::npos);
  // Both colours are painted: the bars, and the legend's marks.
  EXPECT_NE(svg->find("#d9534f"), std::string::npos);
  EXPECT_NE(svg->find("#5cb85c"), std::string::npos);
  EXPECT_EQ(svg->find("<script"), std::string::npos);
}

// A slice too small to label is named in the legend only; a zero slice is not drawn at all.
TEST(ChartSvg, APieLabelsTheSlicesBigEnoughToRead) {
  PieChartFigures figures;
  figures.title = "支出 按分类";
  figures.labels = {"餐饮", "交通", "零星", "空"};
  figures.values = {75, 24, 1, 0};
  const Result<std::string> svg = pie_chart_svg(figures);
  ASSERT_TRUE(svg.ok()) << svg.status().message();
  // A labelled slice shows its name and share twice (the legend and the label), a small one once.
  EXPECT_EQ(count(*svg, "餐饮 75.0%"), 2u);
  EXPECT_EQ(count(*svg, "交通 24.0%"), 2u);
  EXPECT_EQ(count(*svg, "零星 1.0%"), 1u);
  EXPECT_EQ(count(*svg, "空"), 0u);
}

}  // namespace
}  // namespace pennacle
