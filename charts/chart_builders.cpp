#include "charts/chart_builders.h"

#include <QtCharts/QBarCategoryAxis>
#include <QtCharts/QBarSeries>
#include <QtCharts/QBarSet>
#include <QtCharts/QLegend>
#include <QtCharts/QPieSeries>
#include <QtCharts/QPieSlice>
#include <QtCharts/QValueAxis>
#include <algorithm>

namespace pennacle {
namespace {

QString q(const std::string& utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// A slice smaller than this share of the whole is named only in the legend: its label would
// overlap its neighbours'.
constexpr double kLabelledShare = 0.04;

QChart* new_chart(const std::string& title) {
  auto* chart = new QChart();
  chart->setTitle(q(title));
  chart->setAnimationOptions(QChart::NoAnimation);
  chart->setBackgroundRoundness(0);
  return chart;
}

}  // namespace

QChart* make_bar_chart(const BarChartFigures& figures) {
  QChart* chart = new_chart(figures.title);
  auto* bars = new QBarSeries();
  double top = 0;
  for (const ChartSeries& s : figures.series) {
    auto* set = new QBarSet(q(s.name));
    for (double v : s.values) {
      set->append(v);
      top = std::max(top, v);
    }
    if (s.rgb != 0) set->setColor(QColor::fromRgb(s.rgb));
    bars->append(set);
  }
  chart->addSeries(bars);
  auto* x = new QBarCategoryAxis();
  for (const std::string& c : figures.categories) x->append(q(c));
  chart->addAxis(x, Qt::AlignBottom);
  bars->attachAxis(x);
  auto* y = new QValueAxis();
  y->setRange(0, top > 0 ? top : 1);
  y->setLabelFormat("%.0f");
  y->applyNiceNumbers();
  chart->addAxis(y, Qt::AlignLeft);
  bars->attachAxis(y);
  chart->legend()->setAlignment(Qt::AlignTop);
  return chart;
}

QChart* make_pie_chart(const PieChartFigures& figures) {
  QChart* chart = new_chart(figures.title);
  auto* pie = new QPieSeries();
  double whole = 0;
  for (double v : figures.values) whole += v > 0 ? v : 0;
  for (size_t i = 0; i < figures.labels.size() && i < figures.values.size(); ++i) {
    if (figures.values[i] <= 0) continue;
    QPieSlice* slice = pie->append(q(figures.labels[i]), figures.values[i]);
    const double share = figures.values[i] / whole;
    slice->setLabel(QStringLiteral("%1 %2%").arg(q(figures.labels[i])).arg(share * 100, 0, 'f', 1));
    slice->setLabelVisible(share >= kLabelledShare);
  }
  pie->setPieSize(0.5);  // room around it for the labels, which are cut short otherwise
  chart->addSeries(pie);
  chart->legend()->setAlignment(Qt::AlignBottom);  // beside the pie it would leave the labels no room
  return chart;
}

}  // namespace pennacle
