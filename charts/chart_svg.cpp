#include "charts/chart_svg.h"

#include <QtCharts/QChart>
#include <QtCore/QBuffer>
#include <QtGui/QFontDatabase>
#include <QtGui/QPainter>
#include <QtSvg/QSvgGenerator>
#include <QtWidgets/QApplication>
#include <QtWidgets/QGraphicsScene>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "charts/chart_builders.h"

namespace pennacle {
namespace {

// CSS pixels: a browser takes 96 of them to the inch, and QSvgGenerator sizes the page in mm.
constexpr int kCssDpi = 96;

// Families with Chinese glyphs, best first: the text is measured in the face a browser will draw.
constexpr const char* kCjkFamilies[] = {"WenQuanYi Micro Hei", "Noto Sans CJK SC", "AR PL UMing CN"};

// Qt's notes about the session it found (no runtime folder, no session bus) are no news to a
// program that only draws; only its failures reach the terminal.
void failures_only(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtCriticalMsg || type == QtFatalMsg)
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

Status ensure_application() {
  if (QCoreApplication* app = QCoreApplication::instance()) {
    if (qobject_cast<QApplication*>(app)) return Status();
    return Status::unsupported("charts need a Qt application with widgets; this program runs another kind");
  }
  // Nothing is shown: an offscreen platform needs no display, and a display named but gone would
  // end the program.
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static int argc = 1;
  static char name[] = "pennacle-charts";
  static char* argv[] = {name, nullptr};
  qInstallMessageHandler(failures_only);
  static std::unique_ptr<QApplication> app(new QApplication(argc, argv));
  const QStringList families = QFontDatabase::families();
  for (const char* family : kCjkFamilies) {
    if (families.contains(QString::fromUtf8(family))) {
      QApplication::setFont(QFont(QString::fromUtf8(family), 10));
      break;
    }
  }
  return Status();
}

// The rendered SVG's <svg> element: the XML prolog goes, the page embeds the element itself.
std::string svg_element(const QByteArray& bytes) {
  std::string s = bytes.toStdString();
  const size_t at = s.find("<svg");
  return at == std::string::npos ? s : s.substr(at);
}

Result<std::string> render(QChart* chart, int width, int height) {
  QGraphicsScene scene;
  scene.addItem(chart);  // the scene owns the chart from here on
  chart->setGeometry(0, 0, width, height);
  QCoreApplication::processEvents();  // lays the chart out at its size
  QBuffer buffer;
  buffer.open(QIODevice::WriteOnly);
  QSvgGenerator svg;
  svg.setOutputDevice(&buffer);
  svg.setResolution(kCssDpi);
  svg.setSize(QSize(width, height));
  svg.setViewBox(QRect(0, 0, width, height));
  svg.setTitle(chart->title());
  QPainter painter;
  if (!painter.begin(&svg)) return Status::invalid("the chart could not be drawn as SVG");
  painter.setRenderHint(QPainter::Antialiasing);
  scene.render(&painter, QRectF(0, 0, width, height), QRectF(0, 0, width, height));
  painter.end();
  return svg_element(buffer.data());
}

}  // namespace

Result<std::string> bar_chart_svg(const BarChartFigures& figures) {
  if (Status s = ensure_application(); !s.ok()) return s;
  return render(make_bar_chart(figures), figures.width, figures.height);
}

Result<std::string> pie_chart_svg(const PieChartFigures& figures) {
  if (Status s = ensure_application(); !s.ok()) return s;
  return render(make_pie_chart(figures), figures.width, figures.height);
}

}  // namespace pennacle
