#include "runtime/convert.h"

#include <locale.h>

#include <algorithm>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "runtime/fatal.h"

namespace pennacle {
namespace {

// Day 0 of a date-time value, 1899-12-30, counted from 1970-01-01.
constexpr int64_t kEpochOffset = 25569;

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
constexpr int64_t days_from_civil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}
static_assert(days_from_civil(1899, 12, 30) == -kEpochOffset);

void civil_from_days(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

bool is_c_space(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

// "1e-05" -> "1e-005": the exponent gets at least three digits.
void widen_exponent(std::string& s) {
  size_t e = s.find('e');
  if (e == std::string::npos || e + 1 >= s.size()) return;
  size_t digits = e + 2;  // after the sign
  size_t count = s.size() - digits;
  if (count < 3) s.insert(digits, 3 - count, '0');
}

std::string general_form(double d, int precision) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::general, precision);
  std::string s(buf, r.ptr);
  widen_exponent(s);
  return s;
}

// The raw element bytes of a numeric array up to the first zero byte.
std::string numeric_array_text(const Value& v) {
  const auto* block = static_cast<const uint32_t*>(v.pointer());
  if (block == nullptr) return {};
  uint32_t dims = block[0];
  uint64_t count = dims == 0 ? 0 : 1;
  for (uint32_t i = 0; i < dims && count != 0; ++i) count *= block[1 + i];
  const char* elems = reinterpret_cast<const char*>(block + 1 + dims);
  uint64_t bytes = count * payload_size(v.kind_code());
  std::string_view all(elems, static_cast<size_t>(bytes));
  return std::string(all.substr(0, all.find('\0')));
}

// The C locale as an object, for the rare overflowing number that needs strtod's verdict.
locale_t c_locale() {
  static locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return loc;
}

}  // namespace

std::string double_to_text(double d) { return general_form(d, 13); }

std::string value_to_text(const Value& v) {
  if (v.is_array()) return is_numeric(v.kind_code()) ? numeric_array_text(v) : std::string();
  switch (v.kind_code()) {
    case Kind::Byte:
      return std::to_string(v.lo & 0xFF);
    case Kind::Short:
      return std::to_string(static_cast<int16_t>(v.lo));
    case Kind::Int:
      return std::to_string(v.int_payload());
    case Kind::Int64:
      return std::to_string(v.int64_payload());
    case Kind::Float:
      return general_form(static_cast<double>(v.float_payload()), 6);
    case Kind::Double:
      return double_to_text(v.double_payload());
    case Kind::Logical:
      return v.lo != 0 ? "真" : "假";
    case Kind::DateTime:
      return date_time_to_text(v.double_payload());
    case Kind::Text:
      return std::string(v.text());
    case Kind::ByteSet: {
      std::string_view b = byteset_view(v.byteset());
      return std::string(b.substr(0, b.find('\0')));
    }
    default:
      return {};
  }
}

std::string normalise_width(std::string_view text, bool drop_spaces) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    auto c = static_cast<unsigned char>(text[i]);
    if (!is_gbk_lead_byte(c)) {
      if (!(drop_spaces && c == ' ')) out += static_cast<char>(c);
      ++i;
      continue;
    }
    if (i + 1 >= text.size()) break;  // a lead byte without its trail byte
    auto t = static_cast<unsigned char>(text[i + 1]);
    if (c == 0xA1 && t == 0xA1) {
      if (!drop_spaces) out += ' ';
    } else if (c == 0xA1 && t == 0xAB) {
      out += '~';
    } else if (c == 0xA1 && (t == 0xEE || t == 0xEF)) {
      out += '*';
    } else if (c == 0xA3 && t >= 0xA1 && t <= 0xFE) {
      out += static_cast<char>(t & 0x7F);
    } else {
      out += static_cast<char>(c);
      out += static_cast<char>(t);
    }
    i += 2;
  }
  return out;
}

double text_to_double(std::string_view text) {
  const std::string s = normalise_width(text, false);
  const size_t n = s.size();
  size_t i = 0;
  while (i < n && is_c_space(s[i])) ++i;
  bool negative = false;
  if (i < n && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  const size_t start = i;
  size_t digits = 0;
  while (i < n && is_digit(s[i])) ++i, ++digits;
  if (i < n && s[i] == '.') {
    ++i;
    while (i < n && is_digit(s[i])) ++i, ++digits;
  }
  if (digits == 0) return 0.0;
  if (i < n && (s[i] == 'e' || s[i] == 'E')) {
    size_t j = i + 1;
    if (j < n && (s[j] == '+' || s[j] == '-')) ++j;
    if (j < n && is_digit(s[j])) {
      while (j < n && is_digit(s[j])) ++j;
      i = j;
    }
  }
  // from_chars is exact and ignores the locale; it takes the number without its sign.
  double value = 0.0;
  auto r = std::from_chars(s.data() + start, s.data() + i, value, std::chars_format::general);
  if (r.ec == std::errc::result_out_of_range) {
    std::string number = s.substr(start, i - start);
    value = strtod_l(number.c_str(), nullptr, c_locale());  // infinity or zero
  } else if (r.ec != std::errc()) {
    value = 0.0;
  }
  return negative ? -value : value;
}

int32_t text_to_int(std::string_view text) {
  const std::string s = normalise_width(text, false);
  size_t i = 0;
  while (i < s.size() && is_c_space(s[i])) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  uint32_t value = 0;  // unsigned: the wrap is defined
  while (i < s.size() && is_digit(s[i])) value = value * 10 + static_cast<uint32_t>(s[i++] - '0');
  if (negative) value = 0u - value;
  return static_cast<int32_t>(value);
}

double value_to_double(const Value& v) {
  if (v.is_array()) return 0.0;
  switch (v.kind_code()) {
    case Kind::Byte:
      return v.lo & 0xFF;
    case Kind::Short:
      return static_cast<int16_t>(v.lo);
    case Kind::Int:
    case Kind::Logical:
      return v.int_payload();
    case Kind::Int64:
      return static_cast<double>(v.int64_payload());
    case Kind::Float:
      return v.float_payload();
    case Kind::Double:
      return v.double_payload();
    case Kind::Text:
      return text_to_double(v.text());
    case Kind::SubroutineRef:
      return static_cast<double>(v.payload());
    default:
      return 0.0;
  }
}

int32_t value_to_int(const Value& v) {
  if (v.is_array()) return 0;
  switch (v.kind_code()) {
    case Kind::Byte:
      return static_cast<int32_t>(v.lo & 0xFF);
    case Kind::Short:
      return static_cast<int16_t>(v.lo);
    case Kind::Int:
    case Kind::Logical:
    case Kind::Int64:
    case Kind::SubroutineRef:
      return v.int_payload();  // the low 32 bits
    case Kind::Float:
    case Kind::Double: {
      double d = v.is(Kind::Float) ? v.float_payload() : v.double_payload();
      // Beyond 64 bits (and NaN) the hardware conversion gives the "integer indefinite"
      // 0x8000000000000000, whose low word is 0; the C++ conversion would be undefined.
      if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0)) return 0;
      return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(d))));
    }
    case Kind::Text:
      return text_to_int(v.text());
    default:
      return 0;
  }
}

double require_number(const Value& v, int32_t location, int32_t check) {
  if (v.is_array() || !is_numeric(v.kind_code())) raise_fault(kFaultNotNumeric, location, check);
  return value_to_double(v);
}

double clamp_date_time(double d) {
  if (std::isnan(d)) return 0.0;
  if (d < kMinDateTime) return kMinDateTime;
  if (d > kMaxDateTime) return kMaxDateTime;
  return d;
}

DaySecond date_time_day_second(double d) {
  d = clamp_date_time(d);
  constexpr double kHalfSecond = 1.0 / 172800.0;
  if (d > 0)
    d += kHalfSecond;
  else if (d < 0)
    d -= kHalfSecond;
  const double a = std::fabs(d);
  const int seconds = static_cast<int>((a - std::floor(a)) * 86400.0);
  return {static_cast<int64_t>(std::trunc(d)), std::min(seconds, 86399)};
}

DateTimeParts date_time_parts(double d) { return date_time_parts(date_time_day_second(d)); }

DateTimeParts date_time_parts(const DaySecond& at) {
  DateTimeParts p;
  civil_from_days(at.day - kEpochOffset, p.year, p.month, p.day);
  p.hour = at.second / 3600;
  p.minute = at.second / 60 % 60;
  p.second = at.second % 60;
  return p;
}

double make_date_time(int year, int month, int day, int hour, int minute, int second) {
  double days = static_cast<double>(days_from_civil(year, month, day) + kEpochOffset);
  double fraction = (hour * 3600 + minute * 60 + second) / 86400.0;
  return days < 0 ? days - fraction : days + fraction;
}

double make_date_time(const DateTimeParts& p) {
  return make_date_time(p.year, p.month, p.day, p.hour, p.minute, p.second);
}

std::string date_time_to_text(double d) {
  DateTimeParts p = date_time_parts(d);
  char buf[96];
  int n = std::snprintf(buf, sizeof buf, "%d年%d月%d日", p.year, p.month, p.day);
  std::string s(buf, static_cast<size_t>(n));
  if (p.second != 0)
    n = std::snprintf(buf, sizeof buf, "%d时%d分%d秒", p.hour, p.minute, p.second);
  else if (p.minute != 0)
    n = std::snprintf(buf, sizeof buf, "%d时%d分", p.hour, p.minute);
  else if (p.hour != 0)
    n = std::snprintf(buf, sizeof buf, "%d时", p.hour);
  else
    n = 0;
  s.append(buf, static_cast<size_t>(n));
  return s;
}

double current_date_time() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  int second = local.tm_sec > 59 ? 59 : local.tm_sec;  // a leap second
  return make_date_time(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                        second);
}

}  // namespace pennacle
