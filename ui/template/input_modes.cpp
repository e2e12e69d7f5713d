#include "ui/template/input_modes.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "runtime/convert.h"
#include "ui/template/kind_settings.h"

namespace pennacle {
namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A whole number from the start of the text, saturating at the 64-bit range; no digits gives 0.
int64_t read_int64(std::string_view t) {
  size_t i = 0;
  while (i < t.size() && is_space(t[i])) ++i;
  bool neg = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) neg = t[i++] == '-';
  // Accumulate as a negative number so that the 64-bit minimum fits.
  int64_t v = 0;
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  bool saturated = false;
  for (; i < t.size() && is_digit(t[i]); ++i) {
    int d = t[i] - '0';
    if (v < (kMin + d) / 10) {
      saturated = true;
      continue;
    }
    v = v * 10 - d;
  }
  if (saturated) return neg ? kMin : std::numeric_limits<int64_t>::max();
  if (!neg) return v == kMin ? std::numeric_limits<int64_t>::max() : -v;
  return v;
}

std::string clamp_text(int64_t v, int64_t lo, int64_t hi) {
  v = v < lo ? lo : (v > hi ? hi : v);
  return std::to_string(v);
}

bool valid_date(int y, int m, int d) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 100 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return d <= kDays[m - 1] + (m == 2 && leap ? 1 : 0);
}

// Reads up to 5 digits; false when none.
bool read_part(std::string_view t, size_t* i, int* out) {
  size_t start = *i;
  int v = 0;
  while (*i < t.size() && is_digit(t[*i]) && *i - start < 5) v = v * 10 + (t[(*i)++] - '0');
  *out = v;
  return *i > start;
}

bool take(std::string_view t, size_t* i, std::string_view s) {
  if (t.substr(*i, s.size()) != s) return false;
  *i += s.size();
  return true;
}

}  // namespace

bool input_mode_accepts(int32_t mode, uint32_t ch) {
  if (ch < 32) return true;
  bool digit = ch >= '0' && ch <= '9';
  switch (mode) {
    case kInputIntegerText:
    case kInputShort:
    case kInputInt:
    case kInputInt64:
      return digit || ch == '-';
    case kInputDecimalText:
    case kInputFloat:
    case kInputDouble:
      return digit || ch == '-' || ch == '.';
    case kInputByte:
      return digit;
    default:
      return true;
  }
}

bool parse_date_time(std::string_view t, double* out) {
  size_t i = 0;
  while (i < t.size() && is_space(t[i])) ++i;
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  if (!read_part(t, &i, &y)) return false;
  if (take(t, &i, "年")) {
    if (!read_part(t, &i, &mo) || !take(t, &i, "月") || !read_part(t, &i, &d) || !take(t, &i, "日"))
      return false;
    if (read_part(t, &i, &h)) {
      if (!take(t, &i, "时")) return false;
      if (read_part(t, &i, &mi)) {
        if (!take(t, &i, "分")) return false;
        if (read_part(t, &i, &s) && !take(t, &i, "秒")) return false;
      }
    }
  } else {
    char sep = i < t.size() ? t[i] : 0;
    if (sep != '-' && sep != '/' && sep != '.') return false;
    ++i;
    if (!read_part(t, &i, &mo) || i >= t.size() || t[i++] != sep || !read_part(t, &i, &d)) return false;
    size_t j = i;
    while (j < t.size() && is_space(t[j])) ++j;
    if (j > i && read_part(t, &j, &h)) {
      if (j >= t.size() || t[j++] != ':' || !read_part(t, &j, &mi)) return false;
      if (j < t.size() && t[j] == ':') {
        ++j;
        if (!read_part(t, &j, &s)) return false;
      }
      i = j;
    }
  }
  while (i < t.size() && is_space(t[i])) ++i;
  if (i != t.size() || !valid_date(y, mo, d) || h > 23 || mi > 59 || s > 59) return false;
  *out = make_date_time(y, mo, d, h, mi, s);
  return true;
}

std::string canonical_input_text(int32_t mode, std::string_view text) {
  std::string out;
  switch (mode) {
    case kInputByte:
      out = clamp_text(read_int64(text), 0, UINT8_MAX);
      break;
    case kInputShort:
      out = clamp_text(read_int64(text), INT16_MIN, INT16_MAX);
      break;
    case kInputInt:
      out = clamp_text(read_int64(text), INT32_MIN, INT32_MAX);
      break;
    case kInputInt64:
      out = std::to_string(read_int64(text));
      break;
    case kInputFloat: {
      double v = text_to_double(text);
      if (std::isnan(v)) v = 0;
      // Beyond the single-precision range the value saturates instead of becoming infinite.
      float f = static_cast<float>(std::clamp(v, -double{std::numeric_limits<float>::max()},
                                              double{std::numeric_limits<float>::max()}));
      out = value_to_text(Value::of_float(f));
      break;
    }
    case kInputDouble: {
      // An overflowing number saturates: the box never shows "inf".
      double v = text_to_double(text);
      if (!std::isfinite(v))
        v = v < 0 ? -std::numeric_limits<double>::max() : std::numeric_limits<double>::max();
      out = double_to_text(v);
    } break;
    case kInputDateTime: {
      double v = 0;
      if (!parse_date_time(text, &v) || v == 0) return "";
      return date_time_to_text(v);
    }
    default:
      return std::string(text);
  }
  return out == "0" ? "" : out;
}

}  // namespace pennacle
