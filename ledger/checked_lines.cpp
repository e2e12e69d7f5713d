#include "ledger/checked_lines.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

constexpr char kHexDigits[] = "0123456789abcdef";

// A line's end before its checksum is known: the tab, room for the checksum, the line end.
constexpr std::string_view kUnchecked = "\t00000000\n";

// `check` as the checksum's eight hex digits at `at`.
void write_hex(uint32_t check, char* at) {
  for (size_t i = 0; i < kChecksumDigits; ++i)
    at[kChecksumDigits - 1 - i] = kHexDigits[(check >> (4 * i)) & 0xF];
}

// Whether `check` (the field after the last tab) is the checksum of what precedes that tab.
bool checksum_matches(std::string_view line, std::string_view check) {
  uint32_t value = 0;
  return check.size() == kChecksumDigits && whole_number(check, &value, 16) &&
         value == fnv32(line.substr(0, line.size() - kChecksumDigits - 1));
}

// The part of a whole line its checksum covers (up to its last tab) and the checksum it names; false
// when it has no line end, no tab, or no checksum of eight hex digits after the last tab.
bool checksum_parts(std::string_view line, std::string_view* covered, uint32_t* named) {
  if (line.empty() || line.back() != '\n') return false;
  line.remove_suffix(1);
  const size_t tab = line.rfind(kSeparator);
  if (tab == std::string_view::npos) return false;
  *covered = line.substr(0, tab);
  const std::string_view check = line.substr(tab + 1);
  return check.size() == kChecksumDigits && whole_number(check, named, 16);
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

constexpr size_t kWays = 4;

// The checksums of up to kWays texts (`ways` of them), hashed side by side over the length they
// share: one text's hash is a chain of multiplications that keeps the processor waiting, four
// chains overlap.
void fnv32_side_by_side(const std::string_view* texts, size_t ways, uint32_t* h) {
  size_t common = ways == kWays ? SIZE_MAX : 0;
  for (size_t k = 0; k < kWays; ++k) h[k] = kFnv32Basis;
  for (size_t k = 0; k < ways; ++k) common = std::min(common, texts[k].size());
  for (size_t i = 0; i < common; ++i) {
    for (size_t k = 0; k < kWays; ++k) h[k] = (h[k] ^ static_cast<unsigned char>(texts[k][i])) * kFnv32Prime;
  }
  for (size_t k = 0; k < ways; ++k) {
    for (size_t i = common; i < texts[k].size(); ++i)
      h[k] = (h[k] ^ static_cast<unsigned char>(texts[k][i])) * kFnv32Prime;
  }
}

// The fields of a line without its end, the checksum field unread: the count, capacity + 1 when it
// has more. Sixteen bytes are searched for tabs at a time (a byte loop branches on each byte, a
// search call costs more than the short field it finds); the loads stay inside the line.
size_t split_at_tabs(std::string_view line, std::string_view* fields, size_t capacity) {
  size_t n = 0, start = 0, i = 0;
  const auto field_to = [&](size_t tab) {
    if (n == capacity) return false;
    fields[n++] = line.substr(start, tab - start);
    start = tab + 1;
    return true;
  };
#if defined(__SSE2__)
  const __m128i tabs = _mm_set1_epi8(kSeparator);
  for (constexpr size_t kBlock = 16; i + kBlock <= line.size(); i += kBlock) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line.data() + i));
    for (auto found = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, tabs))); found != 0;
         found &= found - 1) {
      if (!field_to(i + static_cast<size_t>(std::countr_zero(found)))) return capacity + 1;
    }
  }
#endif
  for (; i < line.size(); ++i) {
    if (line[i] == kSeparator && !field_to(i)) return capacity + 1;
  }
  return n;
}

}  // namespace

std::string checked_line(const std::vector<std::string>& fields) {
  std::string line;
  for (size_t i = 0; i < fields.size(); ++i) line += (i ? std::string(1, kSeparator) : "") + fields[i];
  return line + kSeparator + hex(fnv32(line), kChecksumDigits) + "\n";
}

void end_checked_line(std::string* out, size_t line_start) {
  const size_t at = out->size() + 1;
  out->append(kUnchecked);
  write_hex(fnv32(std::string_view(*out).substr(line_start, at - 1 - line_start)), out->data() + at);
}

void end_line_unchecked(std::string* out) { out->append(kUnchecked); }

void fill_checksums(std::string* out, const std::vector<size_t>& line_starts) {
  const size_t n = line_starts.size(), ending = kUnchecked.size();
  for (size_t at = 0; at < n; at += kWays) {
    const size_t ways = std::min(kWays, n - at);
    std::string_view covered[kWays];
    for (size_t k = 0; k < ways; ++k) {
      const size_t i = at + k, end = i + 1 < n ? line_starts[i + 1] : out->size();
      covered[k] = std::string_view(*out).substr(line_starts[i], end - ending - line_starts[i]);
    }
    uint32_t h[kWays];
    fnv32_side_by_side(covered, ways, h);
    for (size_t k = 0; k < ways; ++k)
      write_hex(h[k], out->data() + (covered[k].data() - out->data()) + covered[k].size() + 1);
  }
}

std::vector<std::string_view> checked_fields(std::string_view line) {
  if (line.empty() || line.back() != '\n') return {};
  line.remove_suffix(1);
  std::vector<std::string_view> f = split_fields(line);
  if (f.size() < 2 || !checksum_matches(line, f.back())) return {};
  f.pop_back();
  return f;
}

// One pass over the line: the fields split at tabs, and the checksum of what precedes each tab.
size_t checked_fields(std::string_view line, std::string_view* fields, size_t capacity, bool known_sound) {
  if (line.empty() || line.back() != '\n') return 0;
  line.remove_suffix(1);
  if (known_sound) return split_at_tabs(line, fields, capacity);
  size_t n = 0, start = 0;
  uint32_t h = kFnv32Basis, before_tab = 0;  // before_tab: the checksum of the line up to its last tab
  for (size_t i = 0; i < line.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(line[i]);
    if (c == kSeparator) {
      if (n == capacity) return capacity + 1;
      fields[n++] = line.substr(start, i - start);
      start = i + 1;
      before_tab = h;
    }
    h = (h ^ c) * kFnv32Prime;
  }
  uint32_t check = 0;
  const std::string_view last = line.substr(start);
  return n >= 1 && last.size() == kChecksumDigits && whole_number(last, &check, 16) && check == before_tab
             ? n
             : 0;
}

void check_lines(const std::string_view* lines, size_t count, bool* sound) {
  for (size_t at = 0; at < count; at += kWays) {
    const size_t ways = std::min(kWays, count - at);
    std::string_view covered[kWays];
    uint32_t named[kWays] = {}, h[kWays];
    bool parts[kWays] = {};
    for (size_t k = 0; k < ways; ++k) parts[k] = checksum_parts(lines[at + k], &covered[k], &named[k]);
    fnv32_side_by_side(covered, ways, h);
    for (size_t k = 0; k < ways; ++k) sound[at + k] = parts[k] && h[k] == named[k];
  }
}

std::string mark_line(uint64_t length) { return checked_line({"S", std::to_string(length)}); }

bool parse_mark_line(std::string_view line, uint64_t* length) {
  if (!line.starts_with("S\t")) return false;  // no mark: spares an entry line's checksum
  std::string_view f[2];
  return checked_fields(line, f, 2) == 2 && f[0] == "S" && whole_number(f[1], length);
}

std::string escape_field(std::string_view s) {
  std::string out;
  append_escaped(&out, s);
  return out;
}

void append_escaped(std::string* out, std::string_view s) {
  const size_t at = out->size();
  out->resize(at + max_escaped_size(s.size()));
  out->resize(static_cast<size_t>(write_escaped(out->data() + at, s) - out->data()));
}

char* write_escaped(char* at, std::string_view s) {
  size_t plain = 0;  // bytes since the last escaped one, copied in one piece
  for (size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c > ' ' && c != '%' && c != 0x7F) continue;
    at = std::copy(s.data() + plain, s.data() + i, at);
    *at++ = '%';
    *at++ = kHexDigits[c >> 4];
    *at++ = kHexDigits[c & 0xF];
    plain = i + 1;
  }
  return std::copy(s.data() + plain, s.data() + s.size(), at);
}

bool unescape_field(std::string_view s, std::string* out) {
  if (s.find('%') == std::string_view::npos) {  // the usual field: nothing escaped
    out->assign(s);
    return true;
  }
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

}  // namespace pennacle
