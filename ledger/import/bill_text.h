// Texts and numbers of bill exports: charsets, trimming, amounts and trade times. Export cells are
// UTF-8 here (a GB18030 file is converted once when read); bills for the ledger are GBK.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/gbk.h"

namespace pennacle {

// True when every byte sequence is well-formed UTF-8 (no overlong forms, no surrogates).
bool is_utf8(std::string_view text);

// UTF-8 to GBK, leaving out every character GBK cannot hold and counting them in `*dropped`.
// Control characters become spaces; the text stays readable as a remark. `utf8` must be valid
// UTF-8 (is_utf8; asserted).
std::string utf8_to_gbk_dropping(std::string_view utf8, int* dropped);

// A cell without the padding exports put around it: spaces, tabs, line ends, ideographic spaces and
// a stray byte-order mark.
std::string_view trim_cell(std::string_view cell);

// Columns a UTF-8 text takes on a terminal: East Asian wide characters take two.
size_t display_width(std::string_view utf8);

// Amounts from this on are refused: no bill of a person's comes near, and a double keeps the cents
// of every amount below it.
inline constexpr double kExportAmountLimit = 1e12;

// An amount cell: an optional currency sign ("¥" or "￥"), an optional sign, a plain decimal (digits
// with an optional point and fraction, no exponent), with thousands commas only between groups of
// three digits ("1,234.56"). The absolute value, when it is below kExportAmountLimit.
std::optional<double> parse_export_amount(std::string_view cell);

// A trade time cell: "YYYY-MM-DD HH:MM:SS", with "/" instead of "-", one-digit month, day and hour,
// and the seconds (or the whole time of day) left out. A date-time value in whole seconds.
std::optional<double> parse_trade_time(std::string_view cell);

// A spreadsheet date serial (days since 1899-12-30, or since 1904-01-01 in a 1904 workbook) as a
// date-time value rounded to the second; nullopt outside the years 1900 to 9999.
std::optional<double> trade_time_from_serial(double serial, bool date_1904);

}  // namespace pennacle
