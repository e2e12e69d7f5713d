// The figures of a chart, in plain types so that code without Qt can describe one. Texts are UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pennacle {

struct ChartSeries {
  std::string name;
  std::vector<double> values;  // one per category
  uint32_t rgb = 0;            // 0xRRGGBB; 0 takes the theme's colour
};

// Bars side by side per category ("1月", "2月", ...), one bar per series.
struct BarChartFigures {
  std::string title;
  std::vector<std::string> categories;
  std::vector<ChartSeries> series;
  int width = 760;
  int height = 360;
};

// Slices of a whole; each slice is labelled with its name and share when it is big enough to read.
struct PieChartFigures {
  std::string title;
  std::vector<std::string> labels;
  std::vector<double> values;  // not negative
  int width = 480;
  int height = 360;
};

}  // namespace pennacle
