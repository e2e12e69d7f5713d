// The line format of the append-only files beside the ledger (the import log, the recycle bin): one
// entry per line, fields split by tabs, the last field a checksum of the rest. A power cut can tear
// only what was written after the last sync, so each append that follows a sync begins with a mark
// line naming the length that sync made durable: a bad line below a mark's length is damage; at or
// above it, it begins a torn end, which the reader drops and the next append writes over.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace pennacle {

// `fields` joined by tabs, with the checksum and the line end.
std::string checked_line(const std::vector<std::string>& fields);
// The fields of a whole line (with its end) before its checksum; empty when the line is incomplete
// or fails the checksum.
std::vector<std::string_view> checked_fields(std::string_view line);

// The mark that says the first `length` bytes of the file are on the disk.
std::string mark_line(uint64_t length);
bool parse_mark_line(std::string_view line, uint64_t* length);

// Outside text in a field: bytes that could break a line or a field are written as %XX. GBK's
// trail bytes are all above 0x3F, so a GBK text keeps its characters readable.
std::string escape_field(std::string_view s);
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

// Scans `bytes` from `from` (just past the header line, which is line 1): each line that is no mark
// goes to `take`, which says whether it is a sound entry. Lines after the first bad one are only
// looked at for marks.
LineScan scan_checked_lines(std::string_view bytes, size_t from,
                            const std::function<bool(std::string_view line)>& take);

}  // namespace pennacle
