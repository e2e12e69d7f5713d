#include "ui/widget_style.h"

#include <QApplication>
#include <QFontInfo>
#include <QPalette>
#include <algorithm>

#include "ui/cjk_face.h"
#include "ui/template/kind_settings.h"
#include "ui/text_codec.h"

namespace pennacle {

QColor qcolor(uint32_t colour) {
  if (colour == kColourButtonFace) return QApplication::palette().color(QPalette::Button);
  return QColor(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
}

QFont qfont(std::string_view font_block) {
  QFont f = QApplication::font();
  auto lf = LogFont::decode(font_block);
  if (!lf) return f;
  if (!lf->face.empty()) {
    f.setFamily(to_qstring(lf->face));
  } else if (lf->charset == kCharsetGb2312 && !gb2312_default_face().isEmpty()) {
    f.setFamily(gb2312_default_face());
  }
  // A negative height is the character height, a positive one the cell height; both in pixels.
  int px = lf->height < 0 ? -lf->height : lf->height;
  if (px > 0 && px < 4096) f.setPixelSize(px);
  if (lf->weight > 0) f.setWeight(static_cast<QFont::Weight>(std::clamp(lf->weight, 1, 1000)));
  f.setItalic(lf->italic != 0);
  f.setUnderline(lf->underline != 0);
  f.setStrikeOut(lf->strike_out != 0);
  return f;
}

namespace {

constexpr const char* kKindSheet = "pn_kind_sheet";
constexpr const char* kFontSheet = "pn_font_sheet";

// The font as a style-sheet rule, every part of it stated so that no inherited rule fills one in.
QString font_rule(const QFont& f) {
  QString family = f.family();
  family.remove(QLatin1Char('"')).remove(QLatin1Char('\\'));
  const char* decoration = f.underline() ? "underline" : f.strikeOut() ? "line-through" : "none";
  return QStringLiteral(
             "* { font-family: \"%1\"; font-size: %2px; font-weight: %3; font-style: %4; "
             "text-decoration: %5; }")
      .arg(family)
      .arg(f.pixelSize() > 0 ? f.pixelSize() : QFontInfo(f).pixelSize())
      .arg(std::clamp((f.weight() + 50) / 100 * 100, 100, 900))
      .arg(f.italic() ? QStringLiteral("italic") : QStringLiteral("normal"))
      .arg(QLatin1String(decoration));
}

void compose_style_sheet(QWidget* w) {
  const QString kind = w->property(kKindSheet).toString(), font = w->property(kFontSheet).toString();
  const QString sheet = kind.isEmpty() ? font : font.isEmpty() ? kind : kind + QLatin1Char('\n') + font;
  if (sheet != w->styleSheet()) w->setStyleSheet(sheet);
}

}  // namespace

void apply_font(QWidget* w, std::string_view font_block) {
  const QFont f = qfont(font_block);
  w->setFont(f);
  w->setProperty(kFontSheet, LogFont::decode(font_block) ? font_rule(f) : QString());
  compose_style_sheet(w);
}

void set_kind_style_sheet(QWidget* w, const QString& sheet) {
  w->setProperty(kKindSheet, sheet);
  compose_style_sheet(w);
}

Qt::Alignment h_alignment(int32_t code) {
  return code == 1 ? Qt::AlignHCenter : code == 2 ? Qt::AlignRight : Qt::AlignLeft;
}

Qt::Alignment v_alignment(int32_t code) {
  return code == 0 ? Qt::AlignTop : code == 2 ? Qt::AlignBottom : Qt::AlignVCenter;
}

}  // namespace pennacle
