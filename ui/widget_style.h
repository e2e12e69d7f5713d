// Colours and fonts of stored settings, turned into Qt's.
#pragma once

#include <QColor>
#include <QFont>
#include <QWidget>
#include <cstdint>
#include <string_view>

namespace pennacle {

// 0x00BBGGRR; 0xFF000000 is the button-face colour of the palette.
QColor qcolor(uint32_t colour);
// The stored font block (empty: the default GUI font).
QFont qfont(std::string_view font_block);

// A control's own style sheet has two parts: what its kind asks for, and a rule holding the font
// its template gives. A widget's own sheet wins over every sheet it inherits, whatever their
// selectors, so a skin's font (a rule of the application's sheet) reaches only the controls whose
// template gives no font. The rule covers the control's inner widgets too (a list's header).
//
// Applies a font block to a widget (empty: the default GUI font, which a skin may replace).
void apply_font(QWidget* w, std::string_view font_block);
// The kind's part of the widget's own style sheet.
void set_kind_style_sheet(QWidget* w, const QString& sheet);
// Horizontal alignment code 0 left, 1 centre, 2 right.
Qt::Alignment h_alignment(int32_t code);
// Vertical alignment code 0 top, 1 centre, 2 bottom.
Qt::Alignment v_alignment(int32_t code);

}  // namespace pennacle
