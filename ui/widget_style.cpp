#include "ui/widget_style.h"

#include <QApplication>
#include <QPalette>
#include <algorithm>

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
  if (!lf->face.empty()) f.setFamily(to_qstring(lf->face));
  // A negative height is the character height, a positive one the cell height; both in pixels.
  int px = lf->height < 0 ? -lf->height : lf->height;
  if (px > 0 && px < 4096) f.setPixelSize(px);
  if (lf->weight > 0) f.setWeight(static_cast<QFont::Weight>(std::clamp(lf->weight, 1, 1000)));
  f.setItalic(lf->italic != 0);
  f.setUnderline(lf->underline != 0);
  f.setStrikeOut(lf->strike_out != 0);
  return f;
}

void apply_font(QWidget* w, std::string_view font_block) { w->setFont(qfont(font_block)); }

Qt::Alignment h_alignment(int32_t code) {
  return code == 1 ? Qt::AlignHCenter : code == 2 ? Qt::AlignRight : Qt::AlignLeft;
}

Qt::Alignment v_alignment(int32_t code) {
  return code == 0 ? Qt::AlignTop : code == 2 ? Qt::AlignBottom : Qt::AlignVCenter;
}

}  // namespace pennacle
