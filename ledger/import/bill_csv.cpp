// This file is compiled with UTF-8 literals, like the rest of the import: its cells are UTF-8.
#include "ledger/import/bill_csv.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>

#include "ledger/categories.h"
#include "ledger/import/bill_text.h"
#include "platform/gbk.h"
#include "runtime/convert.h"

namespace pennacle {
namespace {

// The column kdbtool export adds after a ledger's fields.
constexpr std::string_view kCategoryColumn = "分类";

bool two_digits(std::string_view s, size_t at, int* v) {
  if (at + 2 > s.size() || !std::isdigit(static_cast<unsigned char>(s[at])) ||
      !std::isdigit(static_cast<unsigned char>(s[at + 1]))) {
    return false;
  }
  *v = (s[at] - '0') * 10 + (s[at + 1] - '0');
  return true;
}

}  // namespace

namespace {

// The date "YYYY-MM-DD" that begins `s` (at least 10 bytes), a day of the calendar.
bool parse_date_part(std::string_view s, int* y, int* mo, int* d) {
  *y = 0;
  for (size_t i = 0; i < 4; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
    *y = *y * 10 + (s[i] - '0');
  }
  if (s[4] != '-' || s[7] != '-' || !two_digits(s, 5, mo) || !two_digits(s, 8, d)) return false;
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (*y % 4 == 0 && *y % 100 != 0) || *y % 400 == 0;
  return *y >= 100 && *mo >= 1 && *mo <= 12 && *d >= 1 && *d <= kDays[*mo - 1] + (*mo == 2 && leap);
}

// The time after the date in `s` (at least 10 bytes): none (midnight), " HH:MM" or " HH:MM:SS" (or
// with 'T' for the space), a time of the day.
bool parse_time_part(std::string_view s, int* h, int* mi, int* se) {
  *h = *mi = *se = 0;
  if (s.size() == 10) return true;
  if ((s[10] != ' ' && s[10] != 'T') || s.size() < 16 || s[13] != ':' || !two_digits(s, 11, h) ||
      !two_digits(s, 14, mi)) {
    return false;
  }
  if (s.size() > 16 && (s.size() != 19 || s[16] != ':' || !two_digits(s, 17, se))) return false;
  return *h <= 23 && *mi <= 59 && *se <= 59;
}

}  // namespace

bool parse_date_time(std::string_view s, double* out) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, se = 0;
  if (s.size() < 10 || !parse_date_part(s, &y, &mo, &d) || !parse_time_part(s, &h, &mi, &se)) return false;
  *out = make_date_time(y, mo, d, h, mi, se);
  return true;
}

bool DateTimeReader::read(std::string_view s, double* out) {
  if (s.size() < kDateBytes) return false;
  if (!known_ || std::memcmp(s.data(), date_, kDateBytes) != 0) {
    known_ = parse_date_part(s, &year_, &month_, &day_);
    if (!known_) return false;
    std::memcpy(date_, s.data(), kDateBytes);
  }
  int h = 0, mi = 0, se = 0;
  if (!parse_time_part(s, &h, &mi, &se)) return false;
  *out = make_date_time(year_, month_, day_, h, mi, se);
  return true;
}

std::string format_date_time(double d) {
  DateTimeParts p = date_time_parts(d);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute,
                p.second);
  return buf;
}

Result<std::vector<CsvRecord>> parse_csv(std::string_view t) {
  std::vector<CsvRecord> records;
  std::vector<CsvRecord>* out = &records;
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
            return Status::invalid("line " + std::to_string(started) + ": a quoted cell is never closed");
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
        // Spaces and tabs after the closing quote are padding (WeChat Pay writes a tab there).
        while (i < t.size() && (t[i] == ' ' || t[i] == '\t')) ++i;
        if (i < t.size() && t[i] != ',' && t[i] != '\r' && t[i] != '\n') {
          return Status::invalid("line " + std::to_string(line) + ": text after a closing quote");
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
  return records;
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

std::vector<std::string> bill_csv_columns() {
  std::vector<std::string> names;
  for (BillField f :
       {BillField::Type, BillField::Amount, BillField::Channel, BillField::Time, BillField::Remark})
    names.push_back(gbk_to_utf8_lossy(bill_field_name(f)));
  return names;
}

std::string bill_csv_row_shape() {
  const std::vector<std::string> c = bill_csv_columns();
  return c[0] + "," + c[1] + "," + c[2] + "[," + c[3] + "[," + c[4] + "]]";
}

Result<BillCsv> parse_bill_csv(std::string_view text) {
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.remove_prefix(3);  // a byte-order mark
  if (!is_utf8(text)) return Status::not_found("the file is not UTF-8 text");
  Result<std::vector<CsvRecord>> rows = parse_csv(text);
  if (!rows.ok()) return Status::not_found(rows.status().message());
  BillCsv csv;
  csv.rows = std::move(*rows);
  if (csv.rows.empty()) return csv;
  const std::vector<std::string>& h = csv.rows[0].cells;
  // Without a header row naming 类型, the columns stand in their order.
  const std::vector<std::string> names = bill_csv_columns();
  if (std::find(h.begin(), h.end(), names[0]) == h.end()) {
    if (h.size() < 3) return Status::not_found("its first row has fewer than 3 cells");
    return csv;
  }
  for (size_t c = 0; c < names.size(); ++c) {
    auto it = std::find(h.begin(), h.end(), names[c]);
    csv.columns[c] = it == h.end() ? -1 : static_cast<int>(it - h.begin());
  }
  auto category = std::find(h.begin(), h.end(), kCategoryColumn);
  csv.columns[5] = category == h.end() ? -1 : static_cast<int>(category - h.begin());
  if (csv.columns[1] < 0 || csv.columns[2] < 0) {
    return Status::invalid("the header row needs " + names[1] + " and " + names[2] + " columns");
  }
  csv.first = 1;
  return csv;
}

namespace {

// Checks one row of our CSV and fills `*b`; returns why it cannot be a bill, or "".
std::string csv_bill(const CsvRecord& row, const int (&col)[6], const std::vector<std::string>& names,
                     const BillTable& table, double now, Bill* b, std::string* category) {
  auto cell = [&](int c) -> std::string {
    return col[c] >= 0 && static_cast<size_t>(col[c]) < row.cells.size()
               ? row.cells[static_cast<size_t>(col[c])]
               : std::string();
  };
  std::optional<std::string> type = utf8_to_gbk(cell(0)), amount = utf8_to_gbk(cell(1)),
                             channel = utf8_to_gbk(cell(2)), remark = utf8_to_gbk(cell(4));
  std::optional<std::string> named = utf8_to_gbk(cell(5));
  if (!type || !amount || !channel || !remark || !named) return "a text has characters GBK cannot hold";
  if (!named->empty() && *named != uncategorized()) {
    if (std::string why = category_name_problem(*named); !why.empty())
      return std::string(kCategoryColumn) + " '" + cell(5) + "': " + why;
    *category = *named;
  }
  b->type = *type;
  b->channel = *channel;
  b->remark = *remark;
  b->amount = text_to_double(*amount);
  b->time = now;
  if (b->type.empty()) return names[0] + " is empty";
  if (!(std::isfinite(b->amount) && b->amount > kMinimumAmount))
    return names[1] + " '" + cell(1) + "' is not a number above 0.0000001";
  if (b->channel.empty()) return names[2] + " is empty";
  if (!cell(3).empty() && !parse_date_time(cell(3), &b->time))
    return names[3] + " '" + cell(3) + "' is not YYYY-MM-DD[ HH:MM[:SS]]";
  for (BillField f : {BillField::Type, BillField::Channel, BillField::Remark}) {
    const FieldDescriptor& d = table.field(f);
    const std::string& v = f == BillField::Type ? b->type : f == BillField::Channel ? b->channel : b->remark;
    if (d.type == FieldType::Text && v.size() > static_cast<size_t>(d.width)) {
      return gbk_to_utf8_lossy(d.name) + " is longer than its " + std::to_string(d.width) +
             " bytes and would be cut";
    }
  }
  return "";
}

}  // namespace

std::vector<CsvBill> csv_bills(const BillCsv& csv, const BillTable& table, double now,
                               std::vector<CsvRowError>* errors) {
  std::vector<CsvBill> bills;
  const std::vector<std::string> names = bill_csv_columns();
  for (size_t r = csv.first; r < csv.rows.size(); ++r) {
    const CsvRecord& row = csv.rows[r];
    if (row.cells.size() == 1 && row.cells[0].empty()) continue;  // a blank line
    CsvBill b{row.line, Bill{}, {}};
    const std::string why = csv_bill(row, csv.columns, names, table, now, &b.bill, &b.category);
    if (!why.empty()) {
      errors->push_back({row.line, why});
      continue;
    }
    bills.push_back(std::move(b));
  }
  return bills;
}

}  // namespace pennacle
