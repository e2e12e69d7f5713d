// kdbtool's CSV (RFC 4180) and the date-time text of its cells. This file is compiled with UTF-8
// literals, like the rest of kdbtool.
#include <cctype>
#include <cstdio>

#include "runtime/convert.h"
#include "tools/kdbtool.h"

namespace pennacle {
namespace {

bool two_digits(std::string_view s, size_t at, int* v) {
  if (at + 2 > s.size() || !std::isdigit(static_cast<unsigned char>(s[at])) ||
      !std::isdigit(static_cast<unsigned char>(s[at + 1]))) {
    return false;
  }
  *v = (s[at] - '0') * 10 + (s[at + 1] - '0');
  return true;
}

}  // namespace

bool parse_date_time(std::string_view s, double* out) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, se = 0;
  if (s.size() < 10) return false;
  for (size_t i = 0; i < 4; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
    y = y * 10 + (s[i] - '0');
  }
  if (s[4] != '-' || s[7] != '-' || !two_digits(s, 5, &mo) || !two_digits(s, 8, &d)) return false;
  if (s.size() > 10) {
    if ((s[10] != ' ' && s[10] != 'T') || s.size() < 16 || s[13] != ':' || !two_digits(s, 11, &h) ||
        !two_digits(s, 14, &mi)) {
      return false;
    }
    if (s.size() > 16 && (s.size() != 19 || s[16] != ':' || !two_digits(s, 17, &se))) return false;
  }
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (y < 100 || mo < 1 || mo > 12 || d < 1 || d > kDays[mo - 1] + (mo == 2 && leap)) return false;
  if (h > 23 || mi > 59 || se > 59) return false;
  *out = make_date_time(y, mo, d, h, mi, se);
  return true;
}

std::string format_date_time(double d) {
  DateTimeParts p = date_time_parts(d);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute,
                p.second);
  return buf;
}

bool parse_csv(std::string_view t, std::vector<CsvRecord>* out, std::string* problem) {
  out->clear();
  int line = 1;
  size_t i = 0;
  while (i < t.size()) {
    CsvRecord rec;
    rec.line = line;
    for (;;) {
      std::string cell;
      if (i < t.size() && t[i] == '"') {
        const int started = line;
        ++i;
        for (;;) {
          if (i >= t.size()) {
            *problem = "line " + std::to_string(started) + ": a quoted cell is never closed";
            return false;
          }
          if (t[i] == '"') {
            if (i + 1 < t.size() && t[i + 1] == '"') {
              cell += '"';
              i += 2;
              continue;
            }
            ++i;
            break;
          }
          if (t[i] == '\n') ++line;
          cell += t[i++];
        }
        if (i < t.size() && t[i] != ',' && t[i] != '\r' && t[i] != '\n') {
          *problem = "line " + std::to_string(line) + ": text after a closing quote";
          return false;
        }
      } else {
        while (i < t.size() && t[i] != ',' && t[i] != '\r' && t[i] != '\n') cell += t[i++];
      }
      rec.cells.push_back(std::move(cell));
      if (i < t.size() && t[i] == ',') {
        ++i;
        continue;
      }
      if (i < t.size() && t[i] == '\r') ++i;
      if (i < t.size() && t[i] == '\n') {
        ++i;
        ++line;
      }
      break;
    }
    out->push_back(std::move(rec));
  }
  return true;
}

std::string csv_cell(std::string_view s) {
  if (s.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(s);
  std::string q = "\"";
  for (char c : s) {
    if (c == '"') q += '"';
    q += c;
  }
  return q + "\"";
}

}  // namespace pennacle
