#include "runtime/args.h"

#include "runtime/convert.h"

namespace pennacle {

std::string_view Args::text(int i) const {
  const Value& v = (*this)[i];
  return v.is(Kind::Text) ? v.text() : std::string_view();
}

std::string_view Args::bytes(int i) const {
  const Value& v = (*this)[i];
  return v.is(Kind::ByteSet) ? byteset_view(v.byteset()) : std::string_view();
}

double Args::date_time(int i) const {
  const Value& v = (*this)[i];
  return v.is(Kind::DateTime) ? v.double_payload() : 0.0;
}

int32_t Args::integer(int i, int32_t fallback) const {
  const Value& v = (*this)[i];
  return v.omitted() ? fallback : value_to_int(v);
}

int32_t Args::number(int i, int32_t fallback) const {
  const Value& v = (*this)[i];
  if (v.omitted() || v.is_array()) return fallback;
  return is_numeric(v.kind_code()) || v.kind_code() == Kind::Logical ? value_to_int(v) : fallback;
}

}  // namespace pennacle
