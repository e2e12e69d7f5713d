// The charsets of a whole export, converted faster than character by character through iconv: a
// GB18030 file to UTF-8, and the remarks of its bills to GBK. Both give exactly what the iconv
// conversions of platform/gbk.h give, by tables of what those conversions make of each character
// (built once, from iconv), and go through iconv itself for text the tables do not hold.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pennacle {

// A whole file in GB18030 as UTF-8, the text gb18030_to_utf8 gives, kept where it was converted
// to. Text of one- and two-byte characters converts by a table of the latter; other text goes
// through gb18030_to_utf8 whole.
class Gb18030Text {
 public:
  // False, holding nothing, when `text` is not GB18030.
  bool convert(std::string_view text);
  std::string_view utf8() const { return buffer_ ? std::string_view(buffer_.get(), size_) : whole_; }

 private:
  std::unique_ptr<char[]> buffer_;  // the table's text, `size_` bytes of it
  size_t size_ = 0;
  std::string whole_;  // gb18030_to_utf8's text
};

// utf8_to_gbk_dropping of each text (valid UTF-8), in place: what each left out, in the same order.
// Texts of characters a remark mostly holds (Chinese, punctuation, full-width forms) convert by a
// table; the others, many at a time where GBK holds all of them.
std::vector<int> utf8_to_gbk_dropping_all(const std::vector<std::string*>& texts);

}  // namespace pennacle
