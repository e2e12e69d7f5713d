// This file is compiled with UTF-8 literals, like the rest of the import.
#include "ledger/import/export_charsets.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cassert>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <utility>

#include "ledger/import/bill_text.h"
#include "platform/gbk.h"
#include "platform/utf8.h"

namespace pennacle {
namespace {

// Two-byte GB18030 characters: a lead byte 0x81 to 0xFE and a trail byte 0x40 to 0xFE (0x7F, in
// the range, is none).
constexpr unsigned kFirstLead = 0x81, kLastLead = 0xFE, kFirstTrail = 0x40, kLastTrail = 0xFE;
constexpr size_t kTrails = kLastTrail - kFirstTrail + 1;

size_t two_byte_index(unsigned char lead, unsigned char trail) {
  return (lead - kFirstLead) * kTrails + (trail - kFirstTrail);
}

// Each two-byte character in UTF-8 as gb18030_to_utf8 gives it, converted once a lead byte at a
// time (the conversion keeps no state from one character to the next). Length 0: not in the table.
struct TwoByteChars {
  std::vector<uint8_t> length;
  std::vector<std::array<char, 4>> utf8;
};

void add_lead(unsigned lead, TwoByteChars* chars) {
  std::string all;
  for (unsigned trail = kFirstTrail; trail <= kLastTrail; ++trail) {
    if (trail == 0x7F) continue;
    all += {static_cast<char>(lead), static_cast<char>(trail), '\n'};
  }
  const std::optional<std::string> utf8 = gb18030_to_utf8(all);
  if (!utf8) return;  // this lead byte's text goes through iconv
  std::string_view rest = *utf8;
  std::vector<std::pair<size_t, std::string_view>> found;
  for (unsigned trail = kFirstTrail; trail <= kLastTrail; ++trail) {
    if (trail == 0x7F) continue;
    const size_t end = rest.find('\n');
    if (end == 0 || end > 4) return;  // not one character of at most four bytes: none kept
    found.emplace_back(two_byte_index(static_cast<unsigned char>(lead), static_cast<unsigned char>(trail)),
                       rest.substr(0, end));
    rest.remove_prefix(end + 1);
  }
  if (!rest.empty()) return;
  for (const auto& [index, text] : found) {
    chars->length[index] = static_cast<uint8_t>(text.size());
    std::memcpy(chars->utf8[index].data(), text.data(), text.size());
  }
}

const TwoByteChars& two_byte_chars() {
  static const TwoByteChars kChars = [] {
    TwoByteChars c;
    c.length.assign((kLastLead - kFirstLead + 1) * kTrails, 0);
    c.utf8.assign(c.length.size(), {});
    for (unsigned lead = kFirstLead; lead <= kLastLead; ++lead) add_lead(lead, &c);
    return c;
  }();
  return kChars;
}

// GBK of the characters a remark mostly holds, as utf8_to_gbk gives each one: by code point, the
// bytes and their count (0: not in the table).
struct GbkChars {
  std::vector<uint8_t> length;
  std::vector<std::array<char, 2>> bytes;
};

// Code points the table is made for (all of them that GBK holds).
constexpr std::pair<char32_t, char32_t> kGbkRanges[] = {{0x00A0, 0x00FF}, {0x2010, 0x206F}, {0x2190, 0x21FF},
                                                        {0x2460, 0x24FF}, {0x25A0, 0x26FF}, {0x3000, 0x30FF},
                                                        {0x4E00, 0x9FA5}, {0xFE30, 0xFE4F}, {0xFF00, 0xFFEF}};
constexpr char32_t kGbkTableSize = 0x10000;

void append_utf8(char32_t cp, std::string* out) {
  if (cp < 0x800) {
    *out += static_cast<char>(0xC0 | (cp >> 6));
  } else {
    *out += static_cast<char>(0xE0 | (cp >> 12));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  }
  *out += static_cast<char>(0x80 | (cp & 0x3F));
}

// `utf8` in GBK, each character GBK cannot hold left out; nullopt when there is no such conversion.
std::optional<std::string> to_gbk_skipping(std::string utf8) {
  iconv_t cd = iconv_open("GBK", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out(utf8.size() * 2 + 16, '\0');
  char* src = utf8.data();
  char* dst = out.data();
  size_t src_left = utf8.size(), dst_left = out.size();
  uint32_t cp = 0;
  while (src_left > 0) {
    if (iconv(cd, &src, &src_left, &dst, &dst_left) != static_cast<size_t>(-1)) break;
    if (errno != EILSEQ) break;  // no room can happen: GBK never takes more bytes than UTF-8
    // This character goes; the line end after it still stands for it.
    const size_t n = std::max<size_t>(1, utf8_sequence(std::string_view(src, src_left), 0, &cp));
    src += n, src_left -= n;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  iconv_close(cd);
  if (src_left > 0) return std::nullopt;
  out.resize(out.size() - dst_left);
  return out;
}

// Code points [first, last] (from 0x80, below 0x10000, no surrogates) into the table, by one
// conversion of them all, each on a line of its own.
void add_gbk_range(char32_t first, char32_t last, GbkChars* chars) {
  std::string utf8;
  for (char32_t cp = first; cp <= last; ++cp) {
    append_utf8(cp, &utf8);
    utf8 += '\n';
  }
  const std::optional<std::string> gbk = to_gbk_skipping(std::move(utf8));
  if (!gbk) return;
  std::string_view rest = *gbk;
  std::vector<std::string_view> each;
  for (size_t end = 0; (end = rest.find('\n')) != std::string_view::npos; rest.remove_prefix(end + 1)) {
    each.push_back(rest.substr(0, end));
  }
  if (each.size() != last - first + 1 || !rest.empty()) return;  // not one line per character
  for (char32_t cp = first; cp <= last; ++cp) {
    const std::string_view code = each[cp - first];
    if (code.empty() || code.size() > 2) continue;  // GBK cannot hold it, or not as one character
    chars->length[cp] = static_cast<uint8_t>(code.size());
    std::memcpy(chars->bytes[cp].data(), code.data(), code.size());
  }
}

const GbkChars& gbk_chars() {
  static const GbkChars kChars = [] {
    GbkChars c;
    c.length.assign(kGbkTableSize, 0);
    c.bytes.assign(kGbkTableSize, {});
    for (const auto& [first, last] : kGbkRanges) add_gbk_range(first, last, &c);
    return c;
  }();
  return kChars;
}

// `*text` (UTF-8) to GBK by the table, in place: GBK takes no more bytes for a character than
// UTF-8. False, leaving it as it was, when it holds a character the table does not.
bool tabled_to_gbk(std::string* text, const GbkChars& chars) {
  const std::string_view s = *text;
  uint32_t cp = 0;
  for (size_t i = 0; i < s.size();) {
    if (static_cast<unsigned char>(s[i]) < 0x80) {
      ++i;
      continue;
    }
    const size_t n = utf8_sequence(s, i, &cp);
    if (n == 0 || cp >= kGbkTableSize || chars.length[cp] == 0) return false;
    i += n;
  }
  size_t out = 0;
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      (*text)[out++] = c < 0x20 || c == 0x7F ? ' ' : static_cast<char>(c);  // as in a remark
      ++i;
      continue;
    }
    i += utf8_sequence(s, i, &cp);
    std::memcpy(text->data() + out, chars.bytes[cp].data(), chars.length[cp]);
    out += chars.length[cp];
  }
  text->resize(out);
  return true;
}

// Texts joined for one conversion: a line end stands between two (none is inside one, as control
// characters became spaces), and GBK writes it as itself, never inside a character.
constexpr size_t kTextsPerConversion = 512;

// Control characters as spaces, for a remark.
void append_clean(std::string_view utf8, std::string* out) {
  for (char c : utf8) *out += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? ' ' : c;
}

// texts[from, to) converted by one conversion; false, leaving them as they were, when GBK cannot
// hold one of them.
bool utf8_to_gbk_together(const std::vector<std::string*>& texts, size_t from, size_t to) {
  std::string joined;
  size_t size = 0;
  for (size_t i = from; i < to; ++i) size += texts[i]->size() + 1;
  joined.reserve(size);
  for (size_t i = from; i < to; ++i) {
    assert(is_utf8(*texts[i]));
    append_clean(*texts[i], &joined);
    joined += '\n';
  }
  std::optional<std::string> gbk = utf8_to_gbk(joined);
  if (!gbk) return false;
  if (static_cast<size_t>(std::count(gbk->begin(), gbk->end(), '\n')) != to - from) return false;
  std::string_view rest = *gbk;
  for (size_t i = from; i < to; ++i) {
    const size_t end = rest.find('\n');
    texts[i]->assign(rest.substr(0, end));
    rest.remove_prefix(end + 1);
  }
  return true;
}

}  // namespace

bool Gb18030Text::convert(std::string_view text) {
  buffer_.reset();
  size_ = 0;
  whole_.clear();
  const auto by_iconv = [&] {
    buffer_.reset();
    std::optional<std::string> whole = gb18030_to_utf8(text);
    if (whole) whole_ = std::move(*whole);
    return whole.has_value();
  };
  if (text.size() > (SIZE_MAX - 8) / 2) return by_iconv();
  const TwoByteChars& chars = two_byte_chars();
  // At most two bytes of UTF-8 for each byte, and room to copy a table entry whole; left
  // uninitialised, so only what is written is touched.
  buffer_.reset(new char[text.size() * 2 + 8]);
  char* o = buffer_.get();
  const char* const end = text.data() + text.size();
  for (const char* p = text.data(); p < end;) {
    if (end - p >= 8) {  // ASCII eight bytes at a time
      uint64_t word = 0;
      std::memcpy(&word, p, 8);
      if ((word & 0x8080808080808080ULL) == 0) {
        std::memcpy(o, p, 8);
        o += 8, p += 8;
        continue;
      }
    }
    const auto c = static_cast<unsigned char>(*p);
    if (c < 0x80) {
      *o++ = *p++;
      continue;
    }
    if (c < kFirstLead || c > kLastLead || end - p < 2) return by_iconv();
    const auto d = static_cast<unsigned char>(p[1]);
    if (d < kFirstTrail || d > kLastTrail) return by_iconv();  // a four-byte character
    const size_t index = two_byte_index(c, d);
    const uint8_t n = chars.length[index];
    if (n == 0) return by_iconv();
    std::memcpy(o, chars.utf8[index].data(), 4);
    o += n, p += 2;
  }
  size_ = static_cast<size_t>(o - buffer_.get());
  return true;
}

std::vector<int> utf8_to_gbk_dropping_all(const std::vector<std::string*>& texts) {
  std::vector<int> dropped(texts.size(), 0);
  const GbkChars& chars = gbk_chars();
  std::vector<std::string*> rest;  // the texts the table does not hold, and where they stand
  std::vector<size_t> at;
  for (size_t i = 0; i < texts.size(); ++i) {
    if (tabled_to_gbk(texts[i], chars)) continue;
    rest.push_back(texts[i]);
    at.push_back(i);
  }
  for (size_t from = 0; from < rest.size(); from += kTextsPerConversion) {
    const size_t to = std::min(rest.size(), from + kTextsPerConversion);
    if (utf8_to_gbk_together(rest, from, to)) continue;
    for (size_t i = from; i < to; ++i) *rest[i] = utf8_to_gbk_dropping(*rest[i], &dropped[at[i]]);
  }
  return dropped;
}

}  // namespace pennacle
