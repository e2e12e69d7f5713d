#include "platform/gbk.h"

#include <iconv.h>

#include <cerrno>

namespace pennacle {
namespace {

// One conversion with a fresh descriptor: iconv_t is not safe to share between threads.
// On an invalid sequence, `lossy` replaces one byte by U+FFFD and goes on; else it fails.
std::optional<std::string> convert(const char* to, const char* from, std::string_view in, bool lossy) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out;
  out.resize(in.size() * 2 + 16);
  char* src = const_cast<char*>(in.data());
  size_t src_left = in.size();
  size_t used = 0;
  std::optional<std::string> result;
  for (;;) {
    char* dst = out.data() + used;
    size_t dst_left = out.size() - used;
    size_t rc = iconv(cd, src_left ? &src : nullptr, &src_left, &dst, &dst_left);
    used = out.size() - dst_left;
    if (rc != static_cast<size_t>(-1)) {
      if (src_left == 0) {
        out.resize(used);
        result = std::move(out);
        break;
      }
      continue;
    }
    if (errno == E2BIG) {
      out.resize(out.size() * 2);
    } else if (lossy && (errno == EILSEQ || errno == EINVAL) && src_left > 0) {
      out.resize(used);
      out += "\xEF\xBF\xBD";
      used = out.size();
      out.resize(used + src_left * 2 + 16);
      ++src;
      --src_left;
    } else {
      break;
    }
  }
  iconv_close(cd);
  return result;
}

}  // namespace

std::optional<std::string> gbk_to_utf8(std::string_view gbk) { return convert("UTF-8", "GBK", gbk, false); }
std::optional<std::string> utf8_to_gbk(std::string_view utf8) { return convert("GBK", "UTF-8", utf8, false); }
std::optional<std::string> gb18030_to_utf8(std::string_view text) {
  return convert("UTF-8", "GB18030", text, false);
}

std::string_view cut_gbk(std::string_view gbk, size_t max_bytes) {
  size_t end = 0;
  while (end < gbk.size()) {
    // A lead byte that ends the text is half a character: it goes too.
    const size_t width = is_gbk_lead_byte(gbk[end]) ? 2 : 1;
    if (end + width > max_bytes || end + width > gbk.size()) break;
    end += width;
  }
  return gbk.substr(0, end);
}

std::string gbk_to_utf8_lossy(std::string_view gbk) {
  return convert("UTF-8", "GBK", gbk, true).value_or(std::string());
}

}  // namespace pennacle
