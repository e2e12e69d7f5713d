#include "ui/template/byte_stream.h"

#include <limits>

namespace pennacle {

bool ByteReader::u8(uint8_t* out) {
  if (remaining() < 1) return fail();
  *out = static_cast<uint8_t>(data_[pos_++]);
  return true;
}

bool ByteReader::u32(uint32_t* out) {
  if (remaining() < 4) return fail();
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(data_[pos_ + i]);
  pos_ += 4;
  *out = v;
  return true;
}

bool ByteReader::i32(int32_t* out) {
  uint32_t v;
  if (!u32(&v)) return false;
  *out = static_cast<int32_t>(v);
  return true;
}

bool ByteReader::flag(bool* out) {
  uint32_t v;
  if (!u32(&v)) return false;
  *out = v != 0;
  return true;
}

bool ByteReader::bytes(size_t n, std::string_view* out) {
  if (remaining() < n) return fail();
  *out = data_.substr(pos_, n);
  pos_ += n;
  return true;
}

bool ByteReader::block(std::string_view* out) {
  uint32_t n;
  if (!u32(&n)) return false;
  return bytes(n, out);
}

bool ByteReader::block(std::string* out) {
  std::string_view v;
  if (!block(&v)) return false;
  out->assign(v);
  return true;
}

bool ByteReader::cstr(std::string* out) {
  if (!ok_) return false;
  size_t end = data_.find('\0', pos_);
  if (end == std::string_view::npos) return fail();
  out->assign(data_.substr(pos_, end - pos_));
  pos_ = end + 1;
  return true;
}

bool ByteReader::skip(size_t n) {
  if (remaining() < n) return fail();
  pos_ += n;
  return true;
}

void ByteWriter::u32(uint32_t v) {
  for (int i = 0; i < 4; ++i) out_.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void ByteWriter::block(std::string_view b) {
  u32(static_cast<uint32_t>(b.size()));
  out_.append(b);
}

void ByteWriter::cstr(std::string_view s) {
  out_.append(s.substr(0, s.find('\0')));
  out_.push_back('\0');
}

}  // namespace pennacle
