// This file is compiled with UTF-8 literals, like the rest of kdbtool.
#include "ledger/import/bill_text.h"

#include <iconv.h>

#include <algorithm>
#include <cassert>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "platform/gbk.h"
#include "platform/utf8.h"
#include "runtime/convert.h"

namespace pennacle {
namespace {

constexpr double kSecondsPerDay = 86400.0;
// Days from 1899-12-30 to 1904-01-01: a 1904 workbook counts its serials from the latter.
constexpr double kDate1904Offset = 1462.0;
// Serial 61 is 1900-03-01; below it the 1900 system counts a 29 February that never was.
constexpr double kFirstTrustedSerial = 61.0;

bool is_wide(uint32_t cp) {
  return (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF && cp != 0x303F) ||
         (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) || (cp >= 0xFE30 && cp <= 0xFE4F) ||
         (cp >= 0xFF00 && cp <= 0xFF60) || (cp >= 0xFFE0 && cp <= 0xFFE6) ||
         (cp >= 0x1F300 && cp <= 0x1FAFF) || (cp >= 0x20000 && cp <= 0x3FFFD);
}

// Strips one leading `prefix` (after trimming); true when there was one.
bool strip_prefix(std::string_view* s, std::string_view prefix) {
  *s = trim_cell(*s);
  if (s->substr(0, prefix.size()) != prefix) return false;
  s->remove_prefix(prefix.size());
  return true;
}

// Reads 1 to `max_digits` digits at `*i`.
bool read_number(std::string_view s, size_t* i, size_t min_digits, size_t max_digits, int* out) {
  size_t n = 0;
  int v = 0;
  while (*i < s.size() && n < max_digits && s[*i] >= '0' && s[*i] <= '9') {
    v = v * 10 + (s[(*i)++] - '0');
    ++n;
  }
  *out = v;
  return n >= min_digits;
}

bool valid_moment(int y, int mo, int d, int h, int mi, int se) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return y >= 100 && mo >= 1 && mo <= 12 && d >= 1 && d <= kDays[mo - 1] + (mo == 2 && leap) && h <= 23 &&
         mi <= 59 && se <= 59;
}

}  // namespace

bool is_utf8(std::string_view text) {
  uint32_t cp = 0;
  for (size_t i = 0; i < text.size();) {
    // ASCII eight bytes at a time.
    if (i + 8 <= text.size()) {
      uint64_t word = 0;
      std::memcpy(&word, text.data() + i, 8);
      if ((word & 0x8080808080808080ULL) == 0) {
        i += 8;
        continue;
      }
    }
    const size_t n = utf8_sequence(text, i, &cp);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string utf8_to_gbk_dropping(std::string_view utf8, int* dropped) {
  assert(is_utf8(utf8));
  std::string clean;
  clean.reserve(utf8.size());
  for (char c : utf8) clean += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? ' ' : c;
  if (std::optional<std::string> whole = utf8_to_gbk(clean)) return *whole;
  // Character by character: only the ones GBK cannot hold are left out.
  std::string out;
  iconv_t cd = iconv_open("GBK", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return out;
  uint32_t cp = 0;
  for (size_t i = 0; i < clean.size();) {
    size_t n = utf8_sequence(clean, i, &cp);
    if (n == 0) n = 1;
    char buf[8];
    char* src = clean.data() + i;
    char* dst = buf;
    size_t src_left = n, dst_left = sizeof buf;
    const bool held = iconv(cd, &src, &src_left, &dst, &dst_left) != static_cast<size_t>(-1) && src_left == 0;
    const size_t got = sizeof buf - dst_left;
    if (held) {
      out.append(buf, got);
    } else {
      ++*dropped;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
    }
    i += n;
  }
  iconv_close(cd);
  return out;
}

std::string_view trim_cell(std::string_view cell) {
  static constexpr std::string_view kWide[] = {"\u3000", "\uFEFF", "\u00A0"};
  // Most cells have nothing to trim: no blank or control byte at either end, no first byte that
  // begins a wide space and no last byte that ends one.
  if (!cell.empty()) {
    const auto front = static_cast<unsigned char>(cell.front()),
               back = static_cast<unsigned char>(cell.back());
    if (front > ' ' && front != 0xE3 && front != 0xEF && front != 0xC2 && back > ' ' && back != 0x80 &&
        back != 0xBF && back != 0xA0) {
      return cell;
    }
  }
  for (bool again = true; again;) {
    again = false;
    while (!cell.empty() && (cell.front() == ' ' || (cell.front() >= '\t' && cell.front() <= '\r'))) {
      cell.remove_prefix(1);
    }
    while (!cell.empty() && (cell.back() == ' ' || (cell.back() >= '\t' && cell.back() <= '\r'))) {
      cell.remove_suffix(1);
    }
    for (std::string_view w : kWide) {
      if (cell.size() >= w.size() && cell.substr(0, w.size()) == w)
        cell.remove_prefix(w.size()), again = true;
      if (cell.size() >= w.size() && cell.substr(cell.size() - w.size()) == w) {
        cell.remove_suffix(w.size());
        again = true;
      }
    }
  }
  return cell;
}

size_t display_width(std::string_view utf8) {
  size_t width = 0;
  uint32_t cp = 0;
  for (size_t i = 0; i < utf8.size();) {
    const size_t n = utf8_sequence(utf8, i, &cp);
    if (n == 0) {
      ++width, ++i;
      continue;
    }
    width += is_wide(cp) ? 2 : 1;
    i += n;
  }
  return width;
}

std::optional<double> parse_export_amount(std::string_view cell) {
  std::string_view s = trim_cell(cell);
  // The sign and the currency sign come in either order; a bill's amount is the absolute value.
  // Most cells begin with a digit: there is neither then.
  if (s.empty() || s[0] < '0' || s[0] > '9') {
    const bool currency = strip_prefix(&s, "¥") || strip_prefix(&s, "￥");
    if (!strip_prefix(&s, "-")) strip_prefix(&s, "+");
    if (!currency) strip_prefix(&s, "¥") || strip_prefix(&s, "￥");
    s = trim_cell(s);
  }
  // Digits with an optional point and fraction; commas only between groups of three digits before
  // the point (the first group of one to three).
  std::string digits;
  bool point = false, grouped = false, any = false;
  size_t group = 0;  // digits before the point since the last comma
  for (const char c : s) {
    if (c >= '0' && c <= '9') {
      digits += c, any = true;
      if (!point) ++group;
    } else if (c == '.' && !point && !(grouped && group != 3)) {
      digits += c, point = true;
    } else if (c == ',' && !point && group > 0 && (grouped ? group == 3 : group <= 3)) {
      grouped = true, group = 0;
    } else {
      return std::nullopt;
    }
  }
  if (!any || (grouped && !point && group != 3)) return std::nullopt;
  double v = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v);
  if (ec != std::errc() || end != digits.data() + digits.size() || !(v < kExportAmountLimit))
    return std::nullopt;
  return v;
}

std::optional<double> parse_trade_time(std::string_view cell) {
  const std::string_view s = trim_cell(cell);
  size_t i = 0;
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, se = 0;
  if (!read_number(s, &i, 4, 4, &y) || i >= s.size() || (s[i] != '-' && s[i] != '/')) return std::nullopt;
  const char sep = s[i++];
  if (!read_number(s, &i, 1, 2, &mo) || i >= s.size() || s[i++] != sep || !read_number(s, &i, 1, 2, &d)) {
    return std::nullopt;
  }
  if (i < s.size()) {
    if (s[i] != ' ' && s[i] != 'T') return std::nullopt;
    while (i < s.size() && (s[i] == ' ' || s[i] == 'T')) ++i;
    if (!read_number(s, &i, 1, 2, &h) || i >= s.size() || s[i++] != ':' || !read_number(s, &i, 2, 2, &mi)) {
      return std::nullopt;
    }
    if (i < s.size() && (s[i++] != ':' || !read_number(s, &i, 2, 2, &se))) return std::nullopt;
    if (i != s.size()) return std::nullopt;
  }
  if (!valid_moment(y, mo, d, h, mi, se)) return std::nullopt;
  return make_date_time(y, mo, d, h, mi, se);
}

std::optional<double> trade_time_from_serial(double serial, bool date_1904) {
  if (!std::isfinite(serial)) return std::nullopt;
  if (date_1904) serial += kDate1904Offset;
  if (serial < kFirstTrustedSerial || serial >= kMaxDateTime) return std::nullopt;
  const double seconds = std::round(serial * kSecondsPerDay);
  return make_date_time(date_time_parts(seconds / kSecondsPerDay));
}

}  // namespace pennacle
