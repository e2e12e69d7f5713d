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
// Applies a font block to a widget (empty: the default GUI font).
void apply_font(QWidget* w, std::string_view font_block);
// Horizontal alignment code 0 left, 1 centre, 2 right.
Qt::Alignment h_alignment(int32_t code);
// Vertical alignment code 0 top, 1 centre, 2 bottom.
Qt::Alignment v_alignment(int32_t code);

}  // namespace pennacle
