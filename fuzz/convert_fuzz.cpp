// Text-to-number conversions, width normalising, trimming and comparing on arbitrary bytes.
// Each input is checked against invariants and, for the numbers, against the C library's reading
// of the same text.
#include <locale.h>

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "runtime/commands.h"
#include "runtime/convert.h"

using namespace pennacle;

namespace {

#define CHECK(cond)                                                         \
  do {                                                                      \
    if (!(cond)) {                                                          \
      fprintf(stderr, "invariant failed: %s (line %d)\n", #cond, __LINE__); \
      abort();                                                              \
    }                                                                       \
  } while (0)

bool is_blank_at(std::string_view s, size_t i) {
  return s[i] == ' ' || (i + 1 < s.size() && s[i] == '\xA1' && s[i + 1] == '\xA1');
}

// The last character of a GBK text, walking as the runtime does.
std::string last_character(std::string_view s) {
  std::string last;
  for (size_t i = 0; i < s.size();) {
    size_t w = is_gbk_lead_byte(s[i]) && i + 1 < s.size() ? 2 : 1;
    last = std::string(s.substr(i, w));
    i += w;
  }
  return last;
}

locale_t c_locale() {
  static locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return loc;
}

void check_normalise(std::string_view in) {
  for (bool drop : {false, true}) {
    std::string out = normalise_width(in, drop);
    CHECK(out.size() <= in.size());
    CHECK(normalise_width(out, drop) == out);  // already in one-byte form: a fixed point
  }
  std::string dropped = normalise_width(in, true);
  for (size_t i = 0; i < dropped.size();) {
    CHECK(!is_blank_at(dropped, i));
    i += is_gbk_lead_byte(dropped[i]) ? 2 : 1;
  }
}

void check_numbers(std::string_view in) {
  const std::string s = normalise_width(in, false);
  const double d = text_to_double(in);
  CHECK(!std::isnan(d));
  CHECK(d == text_to_double(s));
  // strtod reads hex, "inf" and "nan" as well; elsewhere it must agree exactly.
  if (s.find_first_of("xXiInN") == std::string::npos) {
    double expected = strtod_l(s.c_str(), nullptr, c_locale());
    CHECK(d == expected);
  }
  if (std::isfinite(d)) {
    double back = text_to_double(double_to_text(d));
    CHECK(std::fabs(back - d) <= std::fmax(std::fabs(d) * 1e-12, 5e-324));
  }
  std::string text = double_to_text(d);
  size_t e = text.find('e');
  if (e != std::string::npos) CHECK(text.size() - e - 2 >= 3);

  const int32_t n = text_to_int(in);
  errno = 0;
  long long wide = strtoll(s.c_str(), nullptr, 10);
  if (errno != ERANGE)
    CHECK(n == static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long long>(wide))));
}

void check_trim(std::string_view in) {
  std::string t = trim_spaces(in);
  CHECK(t.size() <= in.size());
  CHECK(in.find(t) != std::string_view::npos);
  CHECK(trim_spaces(t) == t);
  if (!t.empty()) {
    CHECK(!is_blank_at(t, 0));
    std::string last = last_character(t);
    CHECK(last != " " && last != "\xA1\xA1");
    CHECK(!(last.size() == 1 && is_gbk_lead_byte(last[0])));
  }
}

void check_compare(std::string_view a, std::string_view b) {
  for (bool cs : {false, true}) {
    CHECK(compare_texts(a, a, cs) == 0);
    int32_t ab = compare_texts(a, b, cs), ba = compare_texts(b, a, cs);
    CHECK((ab < 0) == (ba > 0) && (ab == 0) == (ba == 0));
  }
  if (compare_texts(a, b, true) == 0) CHECK(compare_texts(a, b, false) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  check_normalise(in);
  check_numbers(in);
  check_trim(in);
  size_t cut = in.find('\n');
  if (cut != std::string_view::npos) check_compare(in.substr(0, cut), in.substr(cut + 1));
  return 0;
}
