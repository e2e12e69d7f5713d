// The face a font record means when it names none and asks for the GB2312 character set: the
// system's default face for Simplified Chinese.
#pragma once

#include <QString>
#include <cstdint>

namespace pennacle {

// The character-set byte of a font record that asks for Simplified Chinese (GB2312).
inline constexpr uint8_t kCharsetGb2312 = 134;

// Asked of fontconfig once, as a desktop asks it: the Song-style (serif) face for zh-cn, whose
// digits are half an em wide as the layout's column widths expect. When no installed serif face
// covers zh-cn, the sans face that does; when none does, an empty string (keep the default font).
const QString& gb2312_default_face();

}  // namespace pennacle
