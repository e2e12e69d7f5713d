// The general commands that need no window, each in the one command shape, and the plain C++ forms
// of the text helpers for layers that work without value records.
//
// Text arguments are read only when their kind is Text (anything else counts as the empty text),
// byte sets likewise; whole-number arguments go through value_to_int. Results that are texts or
// byte sets are new blocks owned by the caller.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/value.h"

namespace pennacle {

// ---- Plain helpers ---------------------------------------------------------------------------

// Without leading and trailing blanks (0x20 and the ideographic space A1 A1), walking by GBK
// characters; a lead byte left without its trail byte at the end is cut too.
std::string trim_spaces(std::string_view text);

// Replaces `find` by `replacement` from the 1-based byte `start` (below 1 counts as 1), at most
// `count` times (negative: every occurrence), matching only at character starts; without
// `case_sensitive` the ASCII letters match either case.
std::string replace_text(std::string_view text, std::string_view find, std::string_view replacement,
                         int32_t start = 1, int32_t count = -1, bool case_sensitive = false);

// 0 when equal, negative when `a` sorts first, positive otherwise; by characters, a two-byte one
// counting as lead * 256 + trail; without `case_sensitive` the ASCII letters compare caseless.
int32_t compare_texts(std::string_view a, std::string_view b, bool case_sensitive);

// The directory that holds the program file, GBK, without a trailing '/' ("" for the root).
std::string program_directory();

// Fixes the program directory and makes it the current directory; called once at start-up.
// On failure `error` (GBK) says why: the program cannot go on without its data file.
[[nodiscard]] bool init_program_directory(std::string& error);

// ---- Commands --------------------------------------------------------------------------------

void bit_and(int argc, const Value* args, Value* result);
void bit_or(int argc, const Value* args, Value* result);
void text_length(int argc, const Value* args, Value* result);
void byteset_length(int argc, const Value* args, Value* result);
void program_directory(int argc, const Value* args, Value* result);
void to_number(int argc, const Value* args, Value* result);
void to_integer(int argc, const Value* args, Value* result);
void trim_spaces(int argc, const Value* args, Value* result);
// t, find, [replacement], [start], [count], [case_sensitive]
void replace_text(int argc, const Value* args, Value* result);
void space_text(int argc, const Value* args, Value* result);
void compare_texts(int argc, const Value* args, Value* result);
// b, kind number 1..10, [position]. The position may be passed by reference (kind Int with
// kArrayFlag, payload pointing at the caller's int32_t): it is advanced past the value read, or set
// to -1 at the end. A kind number outside 1..10 is fatal.
void byteset_get_value(int argc, const Value* args, Value* result);
void to_text(int argc, const Value* args, Value* result);
void year_of(int argc, const Value* args, Value* result);
void month_of(int argc, const Value* args, Value* result);
void now(int argc, const Value* args, Value* result);
// The address travels in both payload words (a host pointer); a null address gives the empty result.
void pointer_to_text(int argc, const Value* args, Value* result);
void pointer_to_byteset(int argc, const Value* args, Value* result);

// A by-reference Int argument pointing at `target`.
inline Value int_reference(int32_t* target) {
  Value v = Value::make(Kind::Int, reinterpret_cast<uintptr_t>(target));
  v.kind |= kArrayFlag;
  return v;
}

}  // namespace pennacle
