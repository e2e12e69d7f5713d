// The input modes of an edit box: which typed characters each mode accepts, and the canonical
// text a numeric or date-time mode rewrites the content into when the box loses the focus.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pennacle {

// Whether a typed character (a code point) may enter a box in `mode`. Control characters (below
// 32) always pass; modes outside 3..10 accept everything.
bool input_mode_accepts(int32_t mode, uint32_t ch);

// The canonical form of `text` (GBK) for modes 5..11; any other mode gives the text unchanged.
// Modes 5..10 give "" where the canonical number is 0; mode 11 gives "" for text that is not a
// date-time or is zero.
std::string canonical_input_text(int32_t mode, std::string_view text);

// Reads "Y年M月D日[H时[M分[S秒]]]", "Y-M-D[ H:M[:S]]" or "Y/M/D[ H:M[:S]]"; false when the text is
// none of these or names no real date.
bool parse_date_time(std::string_view text, double* out);

}  // namespace pennacle
