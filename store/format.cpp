#include "store/format.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/gbk.h"
#include "platform/hex.h"

namespace pennacle {
namespace {

constexpr double kMinDateTime = -657434.0;
constexpr double kMaxDateTime = 2958465.0;

bool is_letter(uint8_t a, uint8_t b, size_t len) {
  if (len == 1) return (a >= 'A' && a <= 'Z') || (a >= 'a' && a <= 'z');
  return a == 0xA3 && ((b >= 0xC1 && b <= 0xDA) || (b >= 0xE1 && b <= 0xFA));
}

bool is_digit(uint8_t a, uint8_t b, size_t len) {
  if (len == 1) return a >= '0' && a <= '9';
  return a == 0xA3 && b >= 0xB0 && b <= 0xB9;
}

// The ideograph ranges of GBK: GB2312 levels 1 and 2, and the two extension areas.
bool is_chinese(uint8_t a, uint8_t b, size_t len) {
  if (len != 2 || b == 0x7F) return false;
  if (a >= 0xB0 && a <= 0xF7 && b >= 0xA1 && b <= 0xFE) return true;
  if (a >= 0x81 && a <= 0xA0 && b >= 0x40 && b <= 0xFE) return true;
  if (a >= 0xAA && a <= 0xFE && b >= 0x40 && b <= 0xA0) return true;
  return false;
}

// Folds ASCII and full-width capitals to their small forms, as a two-byte code.
uint32_t folded(std::string_view s, size_t i, size_t len) {
  uint8_t a = static_cast<uint8_t>(s[i]);
  if (len == 1) return (a >= 'A' && a <= 'Z') ? a + 32u : a;
  uint8_t b = static_cast<uint8_t>(s[i + 1]);
  if (a == 0xA3 && b >= 0xC1 && b <= 0xDA) b = static_cast<uint8_t>(b + 32);
  return (uint32_t{a} << 8) | b;
}

template <typename T>
void store(uint8_t* p, T v) {
  std::memcpy(p, &v, sizeof v);
}
template <typename T>
T load(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

float to_float(double d) {
  if (std::isnan(d)) return std::numeric_limits<float>::quiet_NaN();
  if (d > std::numeric_limits<float>::max()) return std::numeric_limits<float>::infinity();
  if (d < -std::numeric_limits<float>::max()) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(d);
}

}  // namespace

int64_t truncate_to_int64(double d) {
  if (std::isnan(d) || d >= 9223372036854775808.0 || d < -9223372036854775808.0) return INT64_MIN;
  return static_cast<int64_t>(d);
}

int64_t field_width(FieldType type, int32_t stored_width) {
  switch (type) {
    case FieldType::Byte:
    case FieldType::Logical:
      return 1;
    case FieldType::Short:
      return 2;
    case FieldType::Int:
    case FieldType::Float:
    case FieldType::Subroutine:
    case FieldType::ByteSet:
    case FieldType::Memo:
      return 4;
    case FieldType::Int64:
    case FieldType::Double:
    case FieldType::DateTime:
      return 8;
    case FieldType::Text:
      return stored_width;
  }
  return 0;
}

Kind field_kind(FieldType type) {
  switch (type) {
    case FieldType::Byte:
      return Kind::Byte;
    case FieldType::Short:
      return Kind::Short;
    case FieldType::Int:
      return Kind::Int;
    case FieldType::Int64:
      return Kind::Int64;
    case FieldType::Float:
      return Kind::Float;
    case FieldType::Double:
      return Kind::Double;
    case FieldType::Logical:
      return Kind::Logical;
    case FieldType::DateTime:
      return Kind::DateTime;
    case FieldType::Subroutine:
      return Kind::SubroutineRef;
    case FieldType::Text:
    case FieldType::Memo:
      return Kind::Text;
    case FieldType::ByteSet:
      return Kind::ByteSet;
  }
  return Kind::None;
}

bool parse_descriptor(const uint8_t* p, FieldDescriptor* out) {
  const void* zero = std::memchr(p, 0, kMaxNameBytes + 1);
  if (!zero) return false;
  out->name.assign(reinterpret_cast<const char*>(p), static_cast<const uint8_t*>(zero) - p);
  out->type = static_cast<FieldType>(get_i32(p + 20));
  out->offset = get_i32(p + 24);
  out->width = get_i32(p + 28);
  return true;
}

void encode_descriptor(const FieldDescriptor& d, uint8_t* p) {
  std::memset(p, 0, kDescriptorSize);
  std::memcpy(p, d.name.data(), std::min<size_t>(d.name.size(), kMaxNameBytes));
  put_i32(p + 20, static_cast<int32_t>(d.type));
  put_i32(p + 24, d.offset);
  put_i32(p + 28, d.width);
}

bool descriptors_valid(const std::vector<FieldDescriptor>& fields, int64_t record_length) {
  std::vector<std::pair<int64_t, int64_t>> spans;
  spans.reserve(fields.size());
  for (const FieldDescriptor& f : fields) {
    int32_t t = static_cast<int32_t>(f.type);
    if (t < 1 || t > 12 || f.offset < 0) return false;
    if (f.type == FieldType::Text && f.width < 1) return false;
    int64_t width = field_width(f.type, f.width);
    if (f.offset < kSerialSize || f.offset + width > record_length) return false;
    spans.emplace_back(f.offset, f.offset + width);
  }
  std::sort(spans.begin(), spans.end());
  for (size_t i = 1; i < spans.size(); ++i) {
    if (spans[i].first < spans[i - 1].second) return false;
  }
  return true;
}

bool valid_name(std::string_view s, size_t max_chars) {
  if (s.empty()) return false;
  size_t chars = 0;
  for (size_t i = 0; i < s.size();) {
    const size_t len = gbk_char_length(s, i);
    if (len == 1 && static_cast<uint8_t>(s[i]) >= 0x80) return false;  // no letter, digit or ideograph
    uint8_t a = static_cast<uint8_t>(s[i]);
    uint8_t b = len == 2 ? static_cast<uint8_t>(s[i + 1]) : 0;
    bool ok = is_letter(a, b, len) || is_chinese(a, b, len) || (chars > 0 && is_digit(a, b, len));
    if (!ok) return false;
    ++chars;
    i += len;
  }
  return chars <= max_chars;
}

bool names_equal(std::string_view a, std::string_view b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const size_t la = gbk_char_length(a, i), lb = gbk_char_length(b, j);
    if (la != lb || folded(a, i, la) != folded(b, j, lb)) return false;
    i += la;
    j += lb;
  }
  return i == a.size() && j == b.size();
}

bool kind_fits(const FieldDescriptor& f, const Value& v) {
  Kind want = field_kind(f.type);
  if (v.is_array()) return false;
  return v.kind_code() == want || (is_numeric(v.kind_code()) && is_numeric(want));
}

namespace {

// A numeric value in both forms: integers exact, floating values as doubles.
struct Number {
  bool integral = false;
  int64_t as_int = 0;  // integers as they are; floating values truncated toward zero
  double as_double = 0;
};

Number number_of(const Value& v) {
  Number n;
  switch (v.kind_code()) {
    case Kind::Byte:
      n.as_int = static_cast<uint8_t>(v.lo);
      break;
    case Kind::Short:
      n.as_int = static_cast<int16_t>(v.lo);
      break;
    case Kind::Int:
      n.as_int = v.int_payload();
      break;
    case Kind::Int64:
      n.as_int = v.int64_payload();
      break;
    case Kind::Float:
    case Kind::Double: {
      const double d = v.is(Kind::Float) ? v.float_payload() : v.double_payload();
      n.as_int = truncate_to_int64(d);
      n.as_double = d;
      return n;
    }
    default:
      return n;
  }
  n.integral = true;
  n.as_double = static_cast<double>(n.as_int);
  return n;
}

}  // namespace

void encode_field(const FieldDescriptor& f, const Value& v, uint8_t* record) {
  uint8_t* p = record + f.offset;
  // Integers are narrowed to their low-order bytes.
  const Number n = number_of(v);
  switch (f.type) {
    case FieldType::Byte:
      return store<uint8_t>(p, static_cast<uint8_t>(n.as_int));
    case FieldType::Short:
      return store<int16_t>(p, static_cast<int16_t>(n.as_int));
    case FieldType::Int:
      return store<int32_t>(p, static_cast<int32_t>(n.as_int));
    case FieldType::Int64:
      return store<int64_t>(p, n.as_int);
    case FieldType::Float:
      return store<float>(p, v.is(Kind::Float) ? v.float_payload() : to_float(n.as_double));
    case FieldType::Double:
      return store<double>(p, n.as_double);
    case FieldType::Logical:
      *p = v.lo != 0 ? 1 : 0;
      return;
    case FieldType::DateTime:
      return store<double>(p, v.double_payload());
    case FieldType::Subroutine:
      return store<uint32_t>(p, v.lo);
    case FieldType::Text: {
      // The text and its terminator, cut at the width even inside a double-byte character.
      std::string_view t = v.text();
      size_t len = std::min<size_t>(t.size() + 1, static_cast<size_t>(f.width));
      std::memset(p, 0, static_cast<size_t>(f.width));
      std::memcpy(p, t.data(), std::min(len, t.size()));
      return;
    }
    case FieldType::ByteSet:
    case FieldType::Memo:
      return;
  }
}

Value decode_field(const FieldDescriptor& f, const uint8_t* p) {
  switch (f.type) {
    case FieldType::Byte:
      return Value::of_byte(*p);
    case FieldType::Short:
      return Value::of_short(load<int16_t>(p));
    case FieldType::Int:
      return Value::of_int(load<int32_t>(p));
    case FieldType::Int64:
      return Value::of_int64(load<int64_t>(p));
    case FieldType::Float:
      return Value::of_float(load<float>(p));
    case FieldType::Double:
      return Value::of_double(load<double>(p));
    case FieldType::Logical:
      return Value::of_logical(*p != 0);
    case FieldType::DateTime: {
      double d = load<double>(p);
      if (d < kMinDateTime) d = kMinDateTime;
      if (d > kMaxDateTime) d = kMaxDateTime;
      return Value::of_date_time(d);
    }
    case FieldType::Subroutine:
      return Value::make(Kind::SubroutineRef, load<uint32_t>(p));
    case FieldType::Text: {
      const void* z = std::memchr(p, 0, static_cast<size_t>(f.width));
      size_t n = z ? static_cast<size_t>(static_cast<const uint8_t*>(z) - p) : static_cast<size_t>(f.width);
      return Value::of_text_block(new_text_block(std::string_view(reinterpret_cast<const char*>(p), n)));
    }
    case FieldType::ByteSet:
    case FieldType::Memo:
      break;
  }
  return Value{};
}

// The stored form of a password: MD5 as lower-case hex, neighbours swapped, the whole reversed.
std::string password_check_of(std::string_view password) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_Digest(password.data(), password.size(), digest, &len, EVP_md5(), nullptr);
  std::string hex = lower_hex(std::string_view(reinterpret_cast<const char*>(digest), len));
  for (size_t i = 0; i + 1 < hex.size(); i += 2) std::swap(hex[i], hex[i + 1]);
  std::reverse(hex.begin(), hex.end());
  return hex;
}

AuxHeader AuxHeader::parse(const uint8_t* p) {
  AuxHeader h;
  h.magic_ok = std::memcmp(p, kAuxMagic, 4) == 0;
  h.version = static_cast<uint32_t>(get_i32(p + 4));
  h.block_count = get_i32(p + 16);
  h.free_count = get_i32(p + 20);
  h.first_free = get_i32(p + 24);
  return h;
}

void AuxHeader::encode(uint8_t* p) const {
  std::memset(p, 0, kAuxHeaderSize);
  std::memcpy(p, kAuxMagic, 4);
  put_i32(p + 4, static_cast<int32_t>(version));
  put_i32(p + 16, block_count);
  put_i32(p + 20, free_count);
  put_i32(p + 24, first_free);
}

DbCode read_count_held(File& file, int32_t* count, int32_t* next) {
  *count = 0;
  *next = 1;
  uint8_t raw[8];
  size_t got = 0;
  if (FileCause c = file.read_at(kCountOffset, raw, sizeof raw, &got); c != FileCause::None) {
    return db_code_of(c, DbCode::CountFailed);
  }
  if (got < sizeof raw) return DbCode::CountFailed;
  *count = std::max(0, get_i32(raw));
  *next = get_i32(raw + 4);
  return DbCode::Ok;
}

}  // namespace pennacle
