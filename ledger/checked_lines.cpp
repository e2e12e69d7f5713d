#include "ledger/checked_lines.h"

#include <algorithm>
#include <cstdio>

namespace pennacle {
namespace {

constexpr char kSeparator = '\t';
constexpr uint32_t kFnv32Basis = 2166136261u, kFnv32Prime = 16777619u;
constexpr size_t kChecksumDigits = 8;

uint32_t fnv32(std::string_view s) {
  uint32_t h = kFnv32Basis;
  for (unsigned char c : s) h = (h ^ c) * kFnv32Prime;
  return h;
}

std::string hex(uint64_t v, int digits) {
  char buf[17];
  std::snprintf(buf, sizeof buf, "%0*llx", digits, static_cast<unsigned long long>(v));
  return buf;
}

std::vector<std::string_view> split_fields(std::string_view line) {
  std::vector<std::string_view> f;
  for (size_t start = 0;;) {
    const size_t tab = line.find(kSeparator, start);
    f.push_back(line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
    if (tab == std::string_view::npos) break;
    start = tab + 1;
  }
  return f;
}

}  // namespace

std::string checked_line(const std::vector<std::string>& fields) {
  std::string line;
  for (size_t i = 0; i < fields.size(); ++i) line += (i ? std::string(1, kSeparator) : "") + fields[i];
  return line + kSeparator + hex(fnv32(line), kChecksumDigits) + "\n";
}

std::vector<std::string_view> checked_fields(std::string_view line) {
  if (line.empty() || line.back() != '\n') return {};
  line.remove_suffix(1);
  std::vector<std::string_view> f = split_fields(line);
  uint32_t check = 0;
  if (f.size() < 2 || f.back().size() != kChecksumDigits || !whole_number(f.back(), &check, 16) ||
      check != fnv32(line.substr(0, line.size() - kChecksumDigits - 1))) {
    return {};
  }
  f.pop_back();
  return f;
}

std::string mark_line(uint64_t length) { return checked_line({"S", std::to_string(length)}); }

bool parse_mark_line(std::string_view line, uint64_t* length) {
  const std::vector<std::string_view> f = checked_fields(line);
  return f.size() == 2 && f[0] == "S" && whole_number(f[1], length);
}

std::string escape_field(std::string_view s) {
  std::string out;
  for (unsigned char c : s) {
    if (c <= ' ' || c == '%' || c == 0x7F) {
      out += '%' + hex(c, 2);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

bool unescape_field(std::string_view s, std::string* out) {
  out->clear();
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      *out += s[i];
      continue;
    }
    unsigned v = 0;
    if (i + 3 > s.size() || !whole_number(s.substr(i + 1, 2), &v, 16)) return false;
    *out += static_cast<char>(v);
    i += 2;
  }
  return true;
}

std::string exact_number(double d) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, d);
  return std::string(buf, r.ptr);
}

bool parse_exact_number(std::string_view s, double* out) {
  const auto r = std::from_chars(s.data(), s.data() + s.size(), *out);
  return r.ec == std::errc() && r.ptr == s.data() + s.size() && !s.empty();
}

LineScan scan_checked_lines(std::string_view bytes, size_t from,
                            const std::function<bool(std::string_view line)>& take) {
  LineScan scan;
  size_t at = from, bad_at = std::string_view::npos;
  int line_number = 1, bad_line = 0;
  scan.sound_end = at;
  while (at < bytes.size()) {
    ++line_number;
    const size_t end = bytes.find('\n', at);
    const std::string_view line = bytes.substr(at, end == std::string_view::npos ? end : end + 1 - at);
    uint64_t mark = 0;
    if (parse_mark_line(line, &mark)) {
      scan.marked = std::max(scan.marked, mark);
    } else if (bad_at == std::string_view::npos && !take(line)) {
      bad_at = at;
      bad_line = line_number;
    }
    if (end == std::string_view::npos) break;
    at = end + 1;
    if (bad_at == std::string_view::npos) scan.sound_end = at;
  }
  if (bad_at != std::string_view::npos && scan.marked > bad_at) scan.damaged_line = bad_line;
  scan.marked = std::min<uint64_t>(scan.marked, scan.sound_end);
  return scan;
}

}  // namespace pennacle
