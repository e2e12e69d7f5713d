// Charts as SVG text, drawn by Qt Charts through QSvgGenerator, without a display: the first call
// starts an offscreen Qt application when the program has none (QT_QPA_PLATFORM=offscreen unless
// the environment names a platform). Call from the program's main thread only.
#pragma once

#include <string>

#include "charts/chart_figures.h"
#include "platform/status.h"

namespace pennacle {

// An <svg> element (UTF-8, no XML prolog), sized in CSS pixels, to embed in a page. Unsupported
// when the program runs a Qt application without widgets, which charts need.
Result<std::string> bar_chart_svg(const BarChartFigures& figures);
Result<std::string> pie_chart_svg(const PieChartFigures& figures);

}  // namespace pennacle
