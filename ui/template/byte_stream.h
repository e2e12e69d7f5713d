// Little-endian byte streams for the window template and the kinds' stored settings.
//
// The reader never reads past the bytes it was given: every read checks the remaining length
// first and, once a read has failed, every later read fails too, so a caller may check once at the
// end of a run of reads.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pennacle {

class ByteReader {
 public:
  explicit ByteReader(std::string_view data) : data_(data) {}

  bool u8(uint8_t* out);
  bool u32(uint32_t* out);
  bool i32(int32_t* out);
  // A 32-bit word read as a logical (non-zero is true).
  bool flag(bool* out);
  // `n` raw bytes.
  bool bytes(size_t n, std::string_view* out);
  // A count-prefixed block: a 32-bit length, then that many bytes.
  bool block(std::string_view* out);
  bool block(std::string* out);
  // A zero-terminated text; fails when no zero byte is left.
  bool cstr(std::string* out);
  bool skip(size_t n);

  bool ok() const { return ok_; }
  size_t remaining() const { return ok_ ? data_.size() - pos_ : 0; }
  bool at_end() const { return ok_ && pos_ == data_.size(); }
  size_t position() const { return pos_; }
  // Everything not read yet.
  std::string_view rest() const { return ok_ ? data_.substr(pos_) : std::string_view(); }

 private:
  bool fail() {
    ok_ = false;
    return false;
  }
  std::string_view data_;
  size_t pos_ = 0;
  bool ok_ = true;
};

class ByteWriter {
 public:
  void u8(uint8_t v) { out_.push_back(static_cast<char>(v)); }
  void u32(uint32_t v);
  void i32(int32_t v) { u32(static_cast<uint32_t>(v)); }
  void flag(bool v) { u32(v ? 1 : 0); }
  void bytes(std::string_view b) { out_.append(b); }
  void block(std::string_view b);
  // Cut at the first zero byte: a zero-terminated text cannot hold one.
  void cstr(std::string_view s);
  void zeros(size_t n) { out_.append(n, '\0'); }

  const std::string& data() const { return out_; }
  std::string take() { return std::move(out_); }
  size_t size() const { return out_.size(); }

 private:
  std::string out_;
};

}  // namespace pennacle
