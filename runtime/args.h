// Reading arguments by position: the value records a runtime command gets, and the words a host
// function gets from an outside call. A position past the count reads as an omitted argument (a
// zero word); each reader says what it gives for an omitted argument or an argument of another
// kind.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "runtime/outside.h"
#include "runtime/value.h"

namespace pennacle {

class Args {
 public:
  Args(int argc, const Value* args) : argc_(argc < 0 ? 0 : argc), args_(args) {}

  int count() const { return argc_; }
  const Value& operator[](int i) const { return arg(argc_, args_, i); }
  bool omitted(int i) const { return (*this)[i].omitted(); }

  // A text argument's text; "" for any other kind.
  std::string_view text(int i) const;
  // A byte-set argument's bytes; "" for any other kind.
  std::string_view bytes(int i) const;
  // A date-time argument's days; 0 for any other kind.
  double date_time(int i) const;
  // An integer by the conversion rules of value_to_int (numbers truncated toward zero, texts read
  // as numbers); `fallback` when the argument is omitted.
  int32_t integer(int i, int32_t fallback = 0) const;
  // An integer only from a number or a logical (floating kinds truncated toward zero); `fallback`
  // when the argument is omitted, an array, or of any other kind.
  int32_t number(int i, int32_t fallback) const;

 private:
  int argc_;
  const Value* args_;
};

// The words of an outside call: a 32-bit host passes each argument as one word.
class WordArgs {
 public:
  explicit WordArgs(std::span<const Word> words) : words_(words) {}

  size_t count() const { return words_.size(); }
  Word word(size_t i) const { return i < words_.size() ? words_[i] : 0; }
  // The low 32 bits, as the signed number a 32-bit host would have passed.
  int32_t int32(size_t i) const { return static_cast<int32_t>(static_cast<uint32_t>(word(i))); }
  template <typename T>
  T* pointer(size_t i) const {
    return reinterpret_cast<T*>(word(i));
  }

 private:
  std::span<const Word> words_;
};

}  // namespace pennacle
