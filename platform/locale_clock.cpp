#include "platform/locale_clock.h"

#include <langinfo.h>

#include <cstring>

namespace pennacle {

bool time_format_is_24_hour(const char* fmt) {
  if (fmt == nullptr) return true;
  for (const char* p = fmt; *p != '\0'; ++p) {
    if (*p != '%') continue;
    ++p;
    // Skip flags and widths such as %-I or %02H.
    while (*p != '\0' && std::strchr("_-0^#123456789EO", *p) != nullptr) ++p;
    switch (*p) {
      case 'H':
      case 'k':
      case 'T':
      case 'R':
        return true;
      case 'I':
      case 'l':
      case 'r':
        return false;
      case '\0':
        return true;
      default:
        break;
    }
  }
  return true;  // no hour at all: nothing to show on a 12-hour clock
}

bool locale_uses_24_hour_clock() { return time_format_is_24_hour(::nl_langinfo(T_FMT)); }

}  // namespace pennacle
