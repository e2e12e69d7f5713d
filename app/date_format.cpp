#include "app/date_format.h"

#include "runtime/commands.h"
#include "runtime/convert.h"
#include "runtime/outside.h"

namespace pennacle {
namespace {

struct Pictures {
  std::string_view full_date, month_day, full_time, hours_minutes, minutes_seconds;
};

// By style. The full dates end in the space that separates them from the time, except style 3.
constexpr Pictures kPictures[] = {
    {"yyyy年MM月dd日 ", "MM月dd日", "hh时mm分ss秒", "hh时mm分", "mm分ss秒"},
    {"yyyy-MM-dd ", "MM-dd", "hh:mm:ss", "hh:mm", "mm:ss"},
    {"yyyy/MM/dd ", "MM/dd", "hh/mm/ss", "hh/mm", "mm/ss"},
    {"yyyyMMdd", "MMdd", "hhmmss", "hhmm", "mmss"},
};

Word address(const Text& t) { return reinterpret_cast<Word>(t.c_str()); }
Word address(const void* p) { return reinterpret_cast<Word>(p); }

Text spaces(int32_t n) {
  Value v = call_command(space_text, {Value::of_int(n)});
  return Text::from_result(v);
}

// One part through GetDateFormatA or GetTimeFormatA into a buffer of fifty spaces.
std::string format_part(int entry, Word flags, const SystemTime& st, std::string_view picture) {
  Text pic(picture);
  Text buf = spaces(50);
  // The returned count says whether it worked: on failure the spaces would stand for the part.
  Word n = call_outside(entry, {0, flags, address(&st), address(pic), address(buf), 50});
  if (n == 0) return {};
  return std::string(buf.c_str());  // up to the first zero byte
}

int32_t length_of(std::string_view s) {
  Text t(s);
  Value v = call_command(text_length, {t.value()});
  return v.int_payload();
}

}  // namespace

int32_t IsTwentyFourHourClock() {
  Text buf = spaces(4);
  call_outside(kGetLocaleInfoA, {0, kLocaleITime, address(buf), 4});
  Value v = call_command(to_integer, {buf.value()});
  return v.int_payload();
}

Text DateTimeToText(double time, std::optional<std::string_view> date_picture,
                    std::optional<std::string_view> time_picture, bool no_seconds) {
  if (!date_picture && !time_picture) return Text();
  SystemTime st{};
  if (call_outside(kVariantTimeToSystemTime, {double_word(time), address(&st)}) != 1) return Text();
  std::string out;
  if (date_picture && length_of(*date_picture) > 2) out = format_part(kGetDateFormatA, 0, st, *date_picture);
  if (time_picture && length_of(*time_picture) > 2) {
    out += format_part(kGetTimeFormatA, no_seconds ? kTimeNoSeconds : 0, st, *time_picture);
  }
  return Text(out);
}

Text FormatDateTime(std::optional<double> time, int32_t style, int32_t mode) {
  if (!time) {
    Value v = call_command(now, {});
    time = v.double_payload();
  }
  if (style < 0 || style > 3) style = 0;
  const Pictures& p = kPictures[style];
  std::string date(p.full_date);
  std::string clock(p.full_time);
  if (mode >= 3 && mode <= 5) date.clear();
  if (mode >= 1 && mode <= 2) clock.clear();
  if (mode == 1) date = trim_spaces(date);
  if (mode == 2) date = p.month_day;
  if (mode == 4) clock = p.hours_minutes;
  if (mode == 5) clock = p.minutes_seconds;
  if (IsTwentyFourHourClock() == 1) clock = replace_text(clock, "hh", "HH", 1, -1, true);
  return DateTimeToText(*time, date, clock, false);
}

}  // namespace pennacle
