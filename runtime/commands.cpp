#include "runtime/commands.h"

#include <mutex>

#include "platform/program_path.h"
#include "runtime/args.h"
#include "runtime/convert.h"
#include "runtime/fatal.h"

namespace pennacle {
namespace {

void set_text(Value* result, std::string_view s) {
  *result = Value::make(Kind::Text, reinterpret_cast<uintptr_t>(new_text_block(s)));
}

void set_byteset(Value* result, std::string_view bytes) {
  *result = Value::make(Kind::ByteSet, reinterpret_cast<uintptr_t>(new_byteset_block(bytes)));
}

unsigned char fold(unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c; }

bool same_bytes(std::string_view a, std::string_view b, bool case_sensitive) {
  if (case_sensitive) return a == b;
  for (size_t i = 0; i < a.size(); ++i)
    if (fold(static_cast<unsigned char>(a[i])) != fold(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

// The character at `i` as one number, and how many bytes it takes.
uint32_t char_at(std::string_view s, size_t& i, bool case_sensitive) {
  auto c = static_cast<unsigned char>(s[i++]);
  if (!is_gbk_lead_byte(c)) return case_sensitive ? c : fold(c);
  // A lead byte at the end pairs with the terminator, as the text in memory has it.
  uint32_t trail = i < s.size() ? static_cast<unsigned char>(s[i++]) : 0;
  return c * 256u + trail;
}

struct FixedDirectory {
  std::once_flag once;
  ProgramDirectory dir;
};

const ProgramDirectory& fixed_directory() {
  static FixedDirectory fixed;
  std::call_once(fixed.once, [] { fixed.dir = read_program_directory(); });
  return fixed.dir;
}

template <typename Op>
void fold_ints(const Args& a, Value* result, Op op) {
  int32_t acc = a.integer(0);
  for (int i = 1; i < a.count(); ++i) acc = op(acc, a.integer(i));
  *result = Value::of_int(acc);
}

}  // namespace

// ---- Plain helpers ---------------------------------------------------------------------------

std::string trim_spaces(std::string_view s) {
  size_t i = 0;
  auto blank_at = [&](size_t k, size_t& width) {
    auto c = static_cast<unsigned char>(s[k]);
    if (c == ' ') return width = 1, true;
    if (c == 0xA1 && k + 1 < s.size() && static_cast<unsigned char>(s[k + 1]) == 0xA1) return width = 2, true;
    return false;
  };
  size_t width = 0;
  while (i < s.size() && blank_at(i, width)) i += width;
  const size_t start = i;
  size_t end = start;  // just past the last character that is not a blank
  while (i < s.size()) {
    if (blank_at(i, width)) {
      i += width;
    } else if (is_gbk_lead_byte(s[i])) {
      if (i + 1 >= s.size()) break;  // a lone lead byte at the end is cut
      i += 2;
      end = i;
    } else {
      end = ++i;
    }
  }
  return std::string(s.substr(start, end - start));
}

std::string replace_text(std::string_view t, std::string_view find, std::string_view replacement,
                         int32_t start, int32_t count, bool case_sensitive) {
  size_t pos = start < 1 ? 0 : static_cast<size_t>(start) - 1;
  if (t.empty() || find.empty() || pos >= t.size() || count == 0) return std::string(t);
  std::string out(t.substr(0, pos));
  int64_t left = count;  // negative: no limit
  while (t.size() - pos >= find.size()) {
    if (same_bytes(t.substr(pos, find.size()), find, case_sensitive)) {
      out += replacement;
      pos += find.size();
      if (left > 0 && --left == 0) break;
    } else if (is_gbk_lead_byte(t[pos])) {
      if (pos + 1 >= t.size()) break;
      out.append(t.data() + pos, 2);
      pos += 2;
    } else {
      out += t[pos++];
    }
  }
  out += t.substr(pos);
  return out;
}

int32_t compare_texts(std::string_view a, std::string_view b, bool case_sensitive) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    uint32_t ca = char_at(a, i, case_sensitive);
    uint32_t cb = char_at(b, j, case_sensitive);
    if (ca != cb) return static_cast<int32_t>(ca) - static_cast<int32_t>(cb);
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

std::string program_directory() {
  const ProgramDirectory& d = fixed_directory();
  return d.ok ? d.gbk : std::string();
}

bool init_program_directory(std::string& error) {
  const ProgramDirectory& d = fixed_directory();
  if (!d.ok) {
    error = d.error;
    return false;
  }
  return set_current_directory(d.utf8, error);
}

// ---- Commands --------------------------------------------------------------------------------

void bit_and(int argc, const Value* args, Value* result) {
  fold_ints(Args(argc, args), result, [](int32_t a, int32_t b) { return a & b; });
}

void bit_or(int argc, const Value* args, Value* result) {
  fold_ints(Args(argc, args), result, [](int32_t a, int32_t b) { return a | b; });
}

void text_length(int argc, const Value* args, Value* result) {
  *result = Value::of_int(static_cast<int32_t>(Args(argc, args).text(0).size()));
}

void byteset_length(int argc, const Value* args, Value* result) {
  *result = Value::of_int(static_cast<int32_t>(Args(argc, args).bytes(0).size()));
}

void program_directory(int, const Value*, Value* result) { set_text(result, program_directory()); }

void to_number(int argc, const Value* args, Value* result) {
  *result = Value::of_double(value_to_double(Args(argc, args)[0]));
}

void to_integer(int argc, const Value* args, Value* result) {
  *result = Value::of_int(Args(argc, args).integer(0));
}

void trim_spaces(int argc, const Value* args, Value* result) {
  set_text(result, trim_spaces(Args(argc, args).text(0)));
}

void replace_text(int argc, const Value* args, Value* result) {
  const Args a(argc, args);
  set_text(result, replace_text(a.text(0), a.text(1), a.text(2), a.integer(3, 1), a.integer(4, -1),
                                a.integer(5) != 0));
}

void space_text(int argc, const Value* args, Value* result) {
  const int32_t n = Args(argc, args).integer(0);
  set_text(result, n < 1 ? std::string() : std::string(static_cast<size_t>(n), ' '));
}

void compare_texts(int argc, const Value* args, Value* result) {
  const Args a(argc, args);
  *result = Value::of_int(compare_texts(a.text(0), a.text(1), a.integer(2) != 0));
}

void byteset_get_value(int argc, const Value* args, Value* result) {
  static constexpr Kind kKinds[] = {Kind::Byte,    Kind::Short,    Kind::Int,
                                    Kind::Int64,   Kind::Float,    Kind::Double,
                                    Kind::Logical, Kind::DateTime, Kind::SubroutineRef};
  const Args a(argc, args);
  const int32_t kind_number = a.integer(1);
  if (kind_number < 1 || kind_number > 10) report_fatal_message("“欲取出数据的类型”参数值无效");
  const Kind kind = kind_number == 10 ? Kind::Text : kKinds[kind_number - 1];

  const std::string_view bytes = a.bytes(0);
  const Value& position = a[2];
  int32_t* by_ref = nullptr;
  int64_t pos = 1;  // 1-based
  if (position.kind == (static_cast<uint32_t>(Kind::Int) | kArrayFlag)) {
    by_ref = static_cast<int32_t*>(position.pointer());
    pos = by_ref ? *by_ref : 1;
  } else if (!position.omitted()) {
    pos = value_to_int(position);
  }

  *result = Value{};
  result->kind = static_cast<uint32_t>(kind);
  if (pos < 1) return;  // reads nothing

  const uint64_t offset = static_cast<uint64_t>(pos - 1);
  const std::string_view rest = offset < bytes.size() ? bytes.substr(offset) : std::string_view();
  uint64_t next = 0;  // 0-based offset just past what was read
  if (kind == Kind::Text) {
    std::string_view text = rest.substr(0, rest.find('\0'));
    set_text(result, text);
    next = offset + text.size() + 1;
  } else {
    const size_t width = payload_size(kind);
    uint64_t payload = 0;
    for (size_t k = 0; k < width && k < rest.size(); ++k)  // missing high bytes read as zero
      payload |= uint64_t{static_cast<unsigned char>(rest[k])} << (8 * k);
    if (kind == Kind::Logical) payload = payload != 0;
    result->set_payload(payload);
    if (kind == Kind::DateTime) *result = Value::of_date_time(clamp_date_time(result->double_payload()));
    next = offset + width;
  }
  if (by_ref) *by_ref = next >= bytes.size() ? -1 : static_cast<int32_t>(next + 1);
}

void to_text(int argc, const Value* args, Value* result) {
  set_text(result, value_to_text(Args(argc, args)[0]));
}

void year_of(int argc, const Value* args, Value* result) {
  *result = Value::of_int(date_time_parts(Args(argc, args).date_time(0)).year);
}

void month_of(int argc, const Value* args, Value* result) {
  *result = Value::of_int(date_time_parts(Args(argc, args).date_time(0)).month);
}

void now(int, const Value*, Value* result) { *result = Value::of_date_time(current_date_time()); }

void pointer_to_text(int argc, const Value* args, Value* result) {
  const auto* p = static_cast<const char*>(Args(argc, args)[0].pointer());
  set_text(result, p ? std::string_view(p) : std::string_view());
}

void pointer_to_byteset(int argc, const Value* args, Value* result) {
  const Args a(argc, args);
  const auto* p = static_cast<const char*>(a[0].pointer());
  const int32_t length = a.integer(1);
  set_byteset(result,
              p && length > 0 ? std::string_view(p, static_cast<size_t>(length)) : std::string_view());
}

}  // namespace pennacle
