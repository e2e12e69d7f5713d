// kdbtool: makes, checks, exports and fills record files from the terminal and scripts. UTF-8 on
// the terminal and in CSV; GBK inside the files.
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace pennacle {

// Runs one command line (without the program name). Returns the exit status: 0 on success,
// 1 with a message on `err` otherwise.
int kdbtool_main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// RFC 4180 records; each with the line number it starts on. False with a message on a quote that
// is never closed or text after a closing quote.
struct CsvRecord {
  int line = 0;
  std::vector<std::string> cells;
};
bool parse_csv(std::string_view text, std::vector<CsvRecord>* out, std::string* problem);
// One cell, quoted when it holds a comma, a quote or a line break.
std::string csv_cell(std::string_view s);

// "YYYY-MM-DD", "YYYY-MM-DD HH:MM" or "YYYY-MM-DD HH:MM:SS" as a date-time value.
bool parse_date_time(std::string_view s, double* out);
std::string format_date_time(double d);

}  // namespace pennacle
