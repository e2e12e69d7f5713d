#include "platform/gbk.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>

namespace pennacle {
namespace {

// The descriptors of one thread, one per direction: iconv_t is not safe to share between threads,
// and opening one costs far more than converting a short text. Each is reset before it is used.
class Descriptors {
 public:
  ~Descriptors() {
    for (Entry& e : entries_) {
      if (e.to != nullptr) iconv_close(e.cd);
    }
  }
  // The descriptor from `from` to `to` (names that live as long as the program); (iconv_t)-1 when
  // the host has no such conversion.
  iconv_t get(const char* to, const char* from) {
    for (Entry& e : entries_) {
      if (e.to != nullptr && std::strcmp(e.to, to) == 0 && std::strcmp(e.from, from) == 0) {
        iconv(e.cd, nullptr, nullptr, nullptr, nullptr);
        return e.cd;
      }
    }
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return cd;
    for (Entry& e : entries_) {
      if (e.to == nullptr) {
        e = {to, from, cd};
        return cd;
      }
    }
    iconv_close(entries_[0].cd);  // more directions than kept: the oldest goes
    entries_[0] = {to, from, cd};
    return cd;
  }

 private:
  struct Entry {
    const char* to = nullptr;
    const char* from = nullptr;
    iconv_t cd{};
  };
  Entry entries_[4];
};

// On an invalid sequence, `lossy` replaces one byte by U+FFFD and goes on; else it fails.
std::optional<std::string> convert(const char* to, const char* from, std::string_view in, bool lossy) {
  thread_local Descriptors descriptors;
  iconv_t cd = descriptors.get(to, from);
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
