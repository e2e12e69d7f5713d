// The line format of the append-only files beside the ledger (the import log, the recycle bin): one
// entry per line, fields split by tabs, the last field a checksum of the rest. A power cut can tear
// only what was written after the last sync, so each append that follows a sync begins with a mark
// line naming the length that sync made durable: a bad line below a mark's length is damage; at or
// above it, it begins a torn end, which the reader drops and the next append writes over.
#pragma once

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pennacle {

// `fields` joined by tabs, with the checksum and the line end.
std::string checked_line(const std::vector<std::string>& fields);
// Ends the line that begins at `line_start` of `out` (its fields already joined by tabs) with its
// checksum and the line end: what checked_line makes, without a vector of fields.
void end_checked_line(std::string* out, size_t line_start);
// Ends a line like end_checked_line with room for its checksum, which fill_checksums writes later
// for all lines at once, several side by side. `line_starts`: where each such line of `out` begins,
// in order, each running to the next (the last to the end of `out`).
void end_line_unchecked(std::string* out);
void fill_checksums(std::string* out, const std::vector<size_t>& line_starts);
// The fields of a whole line (with its end) before its checksum; empty when the line is incomplete
// or fails the checksum.
std::vector<std::string_view> checked_fields(std::string_view line);
// The same into `fields` (room for `capacity`): the count, 0 when the line is incomplete or fails
// the checksum, capacity + 1 (the checksum unread) when it has more fields than that. With
// `known_sound` (check_lines found the line sound) its checksum is not computed again.
size_t checked_fields(std::string_view line, std::string_view* fields, size_t capacity,
                      bool known_sound = false);
// Whether each of `count` whole lines passes its checksum, into sound[0..count). Four lines are
// hashed side by side: one line's checksum is a chain of multiplications that keeps the processor
// waiting, four chains overlap.
void check_lines(const std::string_view* lines, size_t count, bool* sound);

// The mark that says the first `length` bytes of the file are on the disk.
std::string mark_line(uint64_t length);
bool parse_mark_line(std::string_view line, uint64_t* length);

// Outside text in a field: bytes that could break a line or a field are written as %XX. GBK's
// trail bytes are all above 0x3F, so a GBK text keeps its characters readable.
std::string escape_field(std::string_view s);
void append_escaped(std::string* out, std::string_view s);
// The most bytes `n` bytes of text take escaped.
constexpr size_t max_escaped_size(size_t n) { return 3 * n; }
// Writes `s` escaped at `at`, which has room for max_escaped_size(s.size()) bytes; returns the end.
char* write_escaped(char* at, std::string_view s);
bool unescape_field(std::string_view s, std::string* out);

// A double as the shortest text that reads back to the same bits, and its reading.
std::string exact_number(double d);
bool parse_exact_number(std::string_view s, double* out);

// The whole of `s` as an integer in `base`.
template <typename T>
bool whole_number(std::string_view s, T* out, int base = 10) {
  const auto r = std::from_chars(s.data(), s.data() + s.size(), *out, base);
  return r.ec == std::errc() && r.ptr == s.data() + s.size() && !s.empty();
}

// What a scan of a file's lines found.
struct LineScan {
  uint64_t sound_end = 0;  // the bytes up to the end of the last sound line
  uint64_t marked = 0;     // the greatest length a mark names, at most sound_end
  int damaged_line = 0;    // the first bad line when a mark lies beyond it (damage), else 0
};

// Scans the lines `next_line` (bool(std::string_view*)) hands over one by one, from just past the
// header line (line 1) at offset `from`, each running on from the one before: each line that is no
// mark goes to `take` (bool(std::string_view line, size_t index)), with its index among the lines
// handed over, which says whether it is a sound entry. Lines after the first bad one are only looked
// at for marks.
template <typename NextLine, typename Take>
LineScan scan_lines(size_t from, NextLine&& next_line, Take&& take) {
  LineScan scan;
  size_t at = from, bad_at = std::string_view::npos;
  int line_number = 1, bad_line = 0;
  scan.sound_end = at;
  std::string_view line;
  for (size_t index = 0; next_line(&line); ++index) {
    ++line_number;
    uint64_t mark = 0;
    if (parse_mark_line(line, &mark)) {
      scan.marked = std::max(scan.marked, mark);
    } else if (bad_at == std::string_view::npos && !take(line, index)) {
      bad_at = at;
      bad_line = line_number;
    }
    at += line.size();
    if (bad_at == std::string_view::npos && line.back() == '\n') scan.sound_end = at;
  }
  if (bad_at != std::string_view::npos && scan.marked > bad_at) scan.damaged_line = bad_line;
  scan.marked = std::min<uint64_t>(scan.marked, scan.sound_end);
  return scan;
}

// Scans `bytes` from `from` (just past the header line, which is line 1) as scan_lines does; `take`
// is bool(std::string_view line).
template <typename Take>
LineScan scan_checked_lines(std::string_view bytes, size_t from, Take&& take) {
  size_t at = from;
  const auto next_line = [&](std::string_view* line) {
    if (at >= bytes.size()) return false;
    const size_t end = bytes.find('\n', at);
    *line = bytes.substr(at, end == std::string_view::npos ? end : end + 1 - at);
    at += line->size();
    return true;
  };
  return scan_lines(from, next_line, [&](std::string_view line, size_t) { return take(line); });
}

}  // namespace pennacle
