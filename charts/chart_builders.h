// Qt Charts built from plain figures, for a window to show or a page to embed. The caller owns the
// chart (a QChartView takes it over).
#pragma once

#include <QtCharts/QChart>

#include "charts/chart_figures.h"

namespace pennacle {

QChart* make_bar_chart(const BarChartFigures& figures);
QChart* make_pie_chart(const PieChartFigures& figures);

}  // namespace pennacle
