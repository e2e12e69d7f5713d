#include "ui/skin_engine.h"

#include <QApplication>
#include <QFont>
#include <QPalette>
#include <QRegularExpression>
#include <QThread>
#include <QWidget>
#include <optional>

#include "ui/skin_format.h"

namespace pennacle {
namespace {

// The application's look before the first attach.
struct SavedLook {
  QPalette palette;
  QString style_sheet;
};
std::optional<SavedLook> g_saved;

bool on_ui_thread() { return qApp != nullptr && QThread::currentThread() == qApp->thread(); }

QPalette skinned_palette(const Skin& skin, QPalette palette) {
  for (const SkinColour& c : skin.palette) {
    const auto role = static_cast<QPalette::ColorRole>(c.role);
    const QColor colour = QColor::fromRgba(c.argb);
    if (c.group == kSkinGroupAll) {
      palette.setColor(QPalette::All, role, colour);
    } else {
      palette.setColor(static_cast<QPalette::ColorGroup>(c.group), role, colour);
    }
  }
  return palette;
}

// The font goes into the style sheet rather than QApplication::setFont: widgets keep size hints
// from an application font change after it is undone, so the look would not come back exactly.
// A control whose template gives a font keeps it: its own style sheet states that font, and a
// widget's own sheet wins over the application's (ui/widget_style.h).
QString font_rule(const SkinFont& font) {
  QString family = QString::fromUtf8(font.family.data(), static_cast<qsizetype>(font.family.size()));
  family.remove(QRegularExpression(QStringLiteral("[\\\"{};]")));
  return QStringLiteral("* { font-family: \"%1\"; font-size: %2pt; font-weight: %3; }\n")
      .arg(family)
      .arg(font.point_size)
      .arg(font.weight);
}

void apply_look(const QPalette& palette, const QString& style_sheet) {
  // Palette before style sheet: the style sheet style records each widget's palette and font when
  // it polishes the widget, and gives them back when the sheet goes.
  QApplication::setPalette(palette);
  qApp->setStyleSheet(style_sheet);
  for (QWidget* w : QApplication::topLevelWidgets()) w->update();
}

}  // namespace

bool skin_attach(std::span<const uint8_t> block) {
  if (!on_ui_thread()) return false;
  const Result<Skin> skin = read_skin(block);
  if (!skin) return false;
  if (!g_saved) g_saved = SavedLook{QApplication::palette(), qApp->styleSheet()};
  QString sheet =
      QString::fromUtf8(skin->style_sheet.data(), static_cast<qsizetype>(skin->style_sheet.size()));
  if (skin->font) sheet.prepend(font_rule(*skin->font));
  apply_look(skinned_palette(*skin, g_saved->palette), sheet);
  return true;
}

bool skin_detach() {
  if (!on_ui_thread() || !g_saved) return false;
  SavedLook saved = std::move(*g_saved);
  g_saved.reset();
  apply_look(saved.palette, saved.style_sheet);
  // Removing the sheet gives every polished widget its font back, but not the inner viewports
  // Qt made for some (a list header's): they would keep the skin's font. A widget without a font
  // of its own must have its parent's.
  for (QWidget* w : QApplication::allWidgets()) {
    if (!w->testAttribute(Qt::WA_SetFont) && w->parentWidget() && w->font() != w->parentWidget()->font())
      w->setFont(QFont());
  }
  return true;
}

bool skin_attached() { return g_saved.has_value(); }

}  // namespace pennacle
