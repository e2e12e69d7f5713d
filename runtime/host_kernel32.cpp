// The built-in host libraries: what this program asks of kernel32 and oleaut32, answered the way
// their Windows namesakes answer the same arguments.
//
// Word size: every argument is one pointer-sized word, so a buffer travels as its address and a
// double as its 64-bit pattern (double_word). Addresses given out (VirtualAlloc, module and
// procedure tokens) stay below 4 GiB so that they also fit the 32-bit slots of a mapped PE32 image.
#include <langinfo.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/gbk.h"
#include "platform/locale_clock.h"
#include "platform/low_memory.h"
#include "runtime/args.h"
#include "runtime/host_libraries.h"

namespace pennacle {
namespace {

// The result convention of the locale functions: with a size of 0 the size needed (terminator
// included); a buffer too small gives 0; else the characters written, terminator included.
Word copy_out(std::string_view s, char* buf, int32_t size) {
  const size_t need = s.size() + 1;
  if (size == 0) return need;
  if (size < 0 || buf == nullptr || static_cast<size_t>(size) < need) return 0;
  std::memcpy(buf, s.data(), s.size());
  buf[s.size()] = '\0';
  return need;
}

// ---- Calendar ----------------------------------------------------------------------------------

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian).
int64_t days_from_civil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civil_from_days(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2);
}

unsigned days_in_month(unsigned y, unsigned m) {
  static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (m == 2 && (y % 4 == 0 && (y % 100 != 0 || y % 400 == 0))) return 29;
  return kDays[m - 1];
}

// 1899-12-30, day 0 of a date-time value, counted from 1970-01-01.
constexpr int64_t kVariantEpoch = -25569;
constexpr double kFirstVariantDay = -657434.0;  // 0100-01-01
constexpr double kLastVariantDay = 2958466.0;   // 10000-01-01, excluded

SystemTime now_local() {
  struct timespec ts;
  ::clock_gettime(CLOCK_REALTIME, &ts);
  struct tm tm;
  ::localtime_r(&ts.tv_sec, &tm);
  return SystemTime{static_cast<uint16_t>(tm.tm_year + 1900), static_cast<uint16_t>(tm.tm_mon + 1),
                    static_cast<uint16_t>(tm.tm_wday),        static_cast<uint16_t>(tm.tm_mday),
                    static_cast<uint16_t>(tm.tm_hour),        static_cast<uint16_t>(tm.tm_min),
                    static_cast<uint16_t>(tm.tm_sec),         static_cast<uint16_t>(ts.tv_nsec / 1000000)};
}

// ---- Picture rendering ---------------------------------------------------------------------------

// A locale string (day or month name, AM/PM) as GBK; "" when it cannot be had.
std::string locale_text(nl_item item) {
  const char* s = ::nl_langinfo(item);
  if (s == nullptr) return {};
  std::optional<std::string> gbk = utf8_to_gbk(s);
  return gbk ? *gbk : std::string();
}

std::string number(unsigned v, bool pad) {
  char buf[16];
  std::snprintf(buf, sizeof buf, pad ? "%02u" : "%u", v);
  return buf;
}

// Copies the quoted text that starts after the quote at p[*i] ("''" inside it is one quote) and
// moves *i past the closing quote.
void copy_quoted(std::string_view p, size_t* i, std::string* out) {
  for (++*i; *i < p.size();) {
    if (p[*i] == '\'') {
      if (*i + 1 < p.size() && p[*i + 1] == '\'') {
        *out += '\'';
        *i += 2;
        continue;
      }
      ++*i;
      return;
    }
    const size_t n = gbk_char_length(p, *i);
    out->append(p.substr(*i, n));
    *i += n;
  }
}

bool is_element(char c, bool date) {
  return date ? (c == 'd' || c == 'M' || c == 'y' || c == 'g')
              : (c == 'h' || c == 'H' || c == 'm' || c == 's' || c == 't');
}

// The flags that leave a time element out: seconds, minutes (with seconds), the AM/PM marker.
bool dropped_by(char c, uint32_t flags) {
  return (c == 's' && (flags & (kTimeNoSeconds | kTimeNoMinutesOrSeconds))) ||
         (c == 'm' && (flags & kTimeNoMinutesOrSeconds)) || (c == 't' && (flags & kTimeNoTimeMarker));
}

// A dropped element takes its unit along when one follows it ("02时03分" from "hh时mm分ss秒"),
// else the separator before it ("02:03" from "hh:mm:ss", "2:03 PM" from "h:mm:ss tt"). *i is just
// past the element; `last_element_end` is where the text after the last rendered element begins.
void drop_element(std::string_view p, size_t* i, bool any_element, size_t last_element_end,
                  std::string* out) {
  size_t end = *i;
  bool unit = false;
  while (end < p.size() && std::strchr("hHmst", p[end]) == nullptr) {
    unit = unit || static_cast<unsigned char>(p[end]) >= 0x80;  // a unit is a Chinese character
    end += gbk_char_length(p, end);
  }
  if (unit) {
    *i = end;
  } else if (any_element) {
    out->resize(last_element_end);
  }
}

// One element: `run` times the letter `c`.
std::string render_element(char c, size_t run, const SystemTime& st, uint32_t flags) {
  const unsigned h12 = st.hour % 12 == 0 ? 12 : st.hour % 12;
  switch (c) {
    case 'd': {
      if (run <= 2) return number(st.day, run == 2);
      const int64_t dow = (days_from_civil(st.year, st.month, st.day) % 7 + 11) % 7;  // 1970-01-01: Thursday
      return locale_text(static_cast<nl_item>((run == 3 ? ABDAY_1 : DAY_1) + dow));
    }
    case 'M':
      if (run <= 2) return number(st.month, run == 2);
      return locale_text(static_cast<nl_item>((run == 3 ? ABMON_1 : MON_1) + st.month - 1));
    case 'y':
      return run <= 2 ? number(st.year % 100, run == 2) : number(st.year, false);
    case 'h':
      return number((flags & kTimeForce24Hour) ? st.hour : h12, run >= 2);
    case 'H':
      return number(st.hour, run >= 2);
    case 'm':
      return number(st.minute, run >= 2);
    case 's':
      return number(st.second, run >= 2);
    case 't': {
      std::string marker = locale_text(st.hour < 12 ? AM_STR : PM_STR);
      return run == 1 && !marker.empty() ? marker.substr(0, gbk_char_length(marker, 0)) : marker;
    }
    default:
      return {};  // 'g': no era names here
  }
}

}  // namespace

bool valid_date(const SystemTime& st) {
  return st.year >= 1 && st.year <= 9999 && st.month >= 1 && st.month <= 12 && st.day >= 1 &&
         st.day <= days_in_month(st.year, st.month);
}

bool valid_time(const SystemTime& st) {
  return st.hour < 24 && st.minute < 60 && st.second < 60 && st.milliseconds < 1000;
}

std::string render_picture(std::string_view p, const SystemTime& st, bool date, uint32_t flags) {
  std::string out;
  size_t last_element_end = 0;  // where the text after the last rendered element begins
  bool any_element = false;
  for (size_t i = 0; i < p.size();) {
    const char c = p[i];
    if (c == '\'') {
      copy_quoted(p, &i, &out);
      continue;
    }
    if (!is_element(c, date)) {
      const size_t n = gbk_char_length(p, i);  // a trail byte is never taken for a letter
      out.append(p.substr(i, n));
      i += n;
      continue;
    }
    size_t run = 1;
    while (i + run < p.size() && p[i + run] == c) ++run;
    i += run;
    if (!date && dropped_by(c, flags)) {
      drop_element(p, &i, any_element, last_element_end, &out);
      continue;
    }
    out += render_element(c, run, st, flags);
    any_element = true;
    last_element_end = out.size();
  }
  return out;
}

bool variant_time_to_system_time(double t, SystemTime* st) {
  if (!(t >= kFirstVariantDay && t < kLastVariantDay)) return false;  // NaN too
  double whole = std::trunc(t);
  int64_t day = static_cast<int64_t>(whole);
  // The fraction is the time of day for negative values as well (-1.25 is 1899-12-29 06:00).
  auto seconds = static_cast<int64_t>(std::llround(std::fabs(t - whole) * 86400.0));
  if (seconds >= 86400) {
    seconds -= 86400;
    ++day;
  }
  int64_t y;
  unsigned m, d;
  int64_t civil = day + kVariantEpoch;
  civil_from_days(civil, &y, &m, &d);
  if (y < 100 || y > 9999) return false;
  st->year = static_cast<uint16_t>(y);
  st->month = static_cast<uint16_t>(m);
  st->day = static_cast<uint16_t>(d);
  st->day_of_week = static_cast<uint16_t>(((civil % 7) + 11) % 7);
  st->hour = static_cast<uint16_t>(seconds / 3600);
  st->minute = static_cast<uint16_t>(seconds / 60 % 60);
  st->second = static_cast<uint16_t>(seconds % 60);
  st->milliseconds = 0;
  return true;
}

namespace {

// GetLocaleInfoA(locale, type, buffer, size). The locale is the user's (LC_TIME).
Word GetLocaleInfoA(std::span<const Word> words) {
  const WordArgs a(words);
  const Word type = a.word(1) & ~Word{0x80000000};  // LOCALE_NOUSEROVERRIDE changes nothing here
  const bool h24 = locale_uses_24_hour_clock();
  std::string_view value;
  switch (type) {
    case kLocaleITime:
      value = h24 ? "1" : "0";
      break;
    case 0x1E:  // LOCALE_STIME
      value = ":";
      break;
    case 0x1D:  // LOCALE_SDATE
      value = "/";
      break;
    case 0x1F:  // LOCALE_SSHORTDATE
      value = "yyyy/M/d";
      break;
    case 0x1003:  // LOCALE_STIMEFORMAT
      value = h24 ? "H:mm:ss" : "h:mm:ss tt";
      break;
    default:
      return 0;  // ERROR_INVALID_FLAGS
  }
  return copy_out(value, a.pointer<char>(2), a.int32(3));
}

// GetDateFormatA(locale, flags, time, picture, buffer, size). No time: now.
Word GetDateFormatA(std::span<const Word> words) {
  const WordArgs a(words);
  const Word flags = a.word(1);
  const auto* given = a.pointer<const SystemTime>(2);
  const char* picture = a.pointer<const char>(3);
  if (picture != nullptr && (flags & 3) != 0) return 0;  // a picture excludes the short/long flags
  SystemTime st = given ? *given : now_local();
  if (!valid_date(st)) return 0;
  std::string_view pic = picture       ? std::string_view(picture)
                         : (flags & 2) ? "yyyy'年'M'月'd'日'"
                                       : "yyyy/M/d";
  return copy_out(render_picture(pic, st, true, 0), a.pointer<char>(4), a.int32(5));
}

// GetTimeFormatA(locale, flags, time, picture, buffer, size). No time: now.
Word GetTimeFormatA(std::span<const Word> words) {
  const WordArgs a(words);
  const auto flags = static_cast<uint32_t>(a.word(1));
  const auto* given = a.pointer<const SystemTime>(2);
  const char* picture = a.pointer<const char>(3);
  SystemTime st = given ? *given : now_local();
  if (!valid_time(st)) return 0;
  std::string_view pic = picture                       ? std::string_view(picture)
                         : locale_uses_24_hour_clock() ? "H:mm:ss"
                                                       : "h:mm:ss tt";
  return copy_out(render_picture(pic, st, false, flags), a.pointer<char>(4), a.int32(5));
}

// lstrcpynA(target, source, count): copies at most count - 1 bytes and a terminator; returns the
// target. A count of 0 touches nothing and returns the target unchanged, which the program uses to
// learn the address of a byte set. A negative count copies nothing (Windows would copy without
// bound).
Word lstrcpynA(std::span<const Word> words) {
  const WordArgs a(words);
  char* dst = a.pointer<char>(0);
  const char* src = a.pointer<const char>(1);
  const int32_t n = a.int32(2);
  if (n <= 0) return reinterpret_cast<Word>(dst);
  if (dst == nullptr || src == nullptr) return 0;
  int32_t i = 0;
  for (; i + 1 < n && src[i] != '\0'; ++i) dst[i] = src[i];
  dst[i] = '\0';
  return reinterpret_cast<Word>(dst);
}

// VirtualAlloc(address, size, type, protection).
Word VirtualAlloc(std::span<const Word> words) {
  const WordArgs a(words);
  const Word address = a.word(0);
  const Word size = a.word(1);
  const Word type = a.word(2) & ~Word{0x100000};  // MEM_TOP_DOWN: only a placement hint
  PageAccess access;
  switch (a.word(3)) {
    case kPageNoAccess:
      access = PageAccess::None;
      break;
    case 0x02:  // PAGE_READONLY
    case 0x10:  // PAGE_EXECUTE
    case 0x20:  // PAGE_EXECUTE_READ
      access = PageAccess::Read;
      break;
    case kPageReadWrite:
    case 0x08:  // PAGE_WRITECOPY
    case kPageExecuteReadWrite:
    case 0x80:                         // PAGE_EXECUTE_WRITECOPY
      access = PageAccess::ReadWrite;  // never executable: no code of a mapped image runs natively
      break;
    default:
      return 0;
  }
  if (size == 0) return 0;
  const bool reserve = (type & kMemReserve) != 0 || address == 0;
  const bool commit = (type & kMemCommit) != 0;
  if ((type & ~(kMemReserve | kMemCommit)) != 0 || (type & (kMemReserve | kMemCommit)) == 0) return 0;
  if (reserve) {
    // Reservations start on the 64 KiB allocation granularity.
    const Word base = address & ~Word{0xFFFF};
    if (size > (Word{1} << 32) || address - base > (Word{1} << 32) - size) return 0;
    return low_reserve(base, size + (address - base), commit, access, 0x10000);
  }
  if (!low_commit(address, size, access)) return 0;
  return address & ~Word{low_page_size() - 1};
}

// VirtualFree(address, size, type): release takes size 0 and the base of a reservation.
Word VirtualFree(std::span<const Word> words) {
  const WordArgs a(words);
  const Word address = a.word(0);
  const Word size = a.word(1);
  switch (a.word(2)) {
    case kMemRelease:
      return size == 0 && low_release(address) ? 1 : 0;
    case kMemDecommit: {
      if (size != 0) return low_decommit(address, size) ? 1 : 0;
      uintptr_t base;
      size_t rsize;
      if (!low_find(address, &base, &rsize) || base != address) return 0;
      return low_decommit(base, rsize) ? 1 : 0;
    }
    default:
      return 0;
  }
}

// RtlMoveMemory(target, source, count): overlapping ranges allowed; no result.
Word RtlMoveMemory(std::span<const Word> words) {
  const WordArgs a(words);
  void* dst = a.pointer<void>(0);
  const void* src = a.pointer<const void>(1);
  const Word n = a.word(2);
  if (n != 0 && dst != nullptr && src != nullptr) std::memmove(dst, src, n);
  return 0;
}

Word GetModuleHandleA(std::span<const Word> words) {
  const WordArgs a(words);
  const char* name = a.pointer<const char>(0);
  return host_module_handle(name ? std::string_view(name) : std::string_view());
}

Word LoadLibraryA(std::span<const Word> words) {
  const WordArgs a(words);
  const char* name = a.pointer<const char>(0);
  return name ? host_load_library(name) : 0;
}

// GetProcAddress(module, name): a "name" whose high bits are 0 is an ordinal.
Word GetProcAddress(std::span<const Word> words) {
  const WordArgs a(words);
  const Word name = a.word(1);
  if ((name >> 16) == 0) return host_proc_address(a.word(0), static_cast<uint16_t>(name));
  return host_proc_address(a.word(0), std::string_view(reinterpret_cast<const char*>(name)));
}

Word FreeLibrary(std::span<const Word> words) {
  const WordArgs a(words);
  if (a.word(0) == 0) return 0;
  host_free_library(a.word(0));
  return 1;
}

// VariantTimeToSystemTime(time as double_word, broken-down time): 1 on success, else 0.
Word VariantTimeToSystemTime(std::span<const Word> words) {
  const WordArgs a(words);
  auto* st = a.pointer<SystemTime>(1);
  if (st == nullptr) return 0;
  double t;
  const uint64_t bits = a.word(0);
  std::memcpy(&t, &bits, sizeof t);
  return variant_time_to_system_time(t, st) ? 1 : 0;
}

constexpr HostExport kKernel32[] = {
    {"FreeLibrary", 1, FreeLibrary},       {"GetDateFormatA", 2, GetDateFormatA},
    {"GetLocaleInfoA", 3, GetLocaleInfoA}, {"GetModuleHandleA", 4, GetModuleHandleA},
    {"GetProcAddress", 5, GetProcAddress}, {"GetTimeFormatA", 6, GetTimeFormatA},
    {"LoadLibraryA", 7, LoadLibraryA},     {"RtlMoveMemory", 8, RtlMoveMemory},
    {"VirtualAlloc", 9, VirtualAlloc},     {"VirtualFree", 10, VirtualFree},
    {"lstrcpyn", 11, lstrcpynA},           {"lstrcpynA", 12, lstrcpynA},
};

constexpr HostExport kOleAut32[] = {
    {"VariantTimeToSystemTime", 185, VariantTimeToSystemTime},
};

constexpr BuiltinLibrary kBuiltins[] = {
    {"kernel32.dll", kKernel32, true}, {"oleaut32.dll", kOleAut32, false}, {"gdi32.dll", {}, false},
    {"user32.dll", {}, false},         {"advapi32.dll", {}, false},        {"mpr.dll", {}, false},
    {"shell32.dll", {}, false},
};

}  // namespace

std::span<const BuiltinLibrary> builtin_host_libraries() { return kBuiltins; }

}  // namespace pennacle
