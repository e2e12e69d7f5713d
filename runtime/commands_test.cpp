#include "runtime/commands.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <ctime>

#include "platform/gbk.h"
#include "runtime/convert.h"
#include "runtime/fatal.h"
#include "testing/fatal_capture.h"

namespace pennacle {
namespace {

// Runs a command that gives a text and takes ownership of it.
std::string text_result(Command cmd, std::initializer_list<Value> args) {
  Value r = call_command(cmd, args);
  EXPECT_TRUE(r.is(Kind::Text));
  return Text::from_result(r).str();
}

int32_t int_result(Command cmd, std::initializer_list<Value> args) {
  Value r = call_command(cmd, args);
  EXPECT_TRUE(r.is(Kind::Int));
  return r.int_payload();
}

Value text(const Text& t) { return t.value(); }
const Value kOmitted{};

TEST(BitCommands, FoldAllArguments) {
  EXPECT_EQ(int_result(bit_and, {Value::of_int(0x0FFF), Value::of_int(0x00FF), Value::of_int(0x0FF0)}),
            0x00F0);
  EXPECT_EQ(int_result(bit_or, {Value::of_int(1), Value::of_int(4), Value::of_int(0x100)}), 0x105);
  EXPECT_EQ(int_result(bit_and, {Value::of_int(-6)}), -6);
  EXPECT_EQ(int_result(bit_or, {Value::of_int(9)}), 9);
}

TEST(LengthCommands, CountBytes) {
  Text amount("金额");
  EXPECT_EQ(int_result(text_length, {text(amount)}), 4);
  EXPECT_EQ(int_result(text_length, {text(Text())}), 0);
  ByteSet b(std::string_view("\0\0\0", 3));
  EXPECT_EQ(int_result(byteset_length, {b.value()}), 3);
  EXPECT_EQ(int_result(byteset_length, {ByteSet().value()}), 0);
  EXPECT_EQ(int_result(byteset_length, {Value::of_byteset_block(&kEmptyByteSet)}), 0);
}

TEST(TrimSpaces, BlanksOfEitherWidth) {
  Text t("　12.5 ");
  EXPECT_EQ(text_result(trim_spaces, {text(t)}), "12.5");
  Text blanks("   ");
  Value r = call_command(trim_spaces, {text(blanks)});
  EXPECT_TRUE(r.is(Kind::Text));
  EXPECT_EQ(r.pointer(), nullptr);  // the empty text is no block
  EXPECT_EQ(trim_spaces(" 　a b　 "), "a b");
  EXPECT_EQ(trim_spaces(""), "");
}

TEST(TrimSpaces, WalksByCharacters) {
  // B0 A1 then a lone A1: the lone lead byte is cut, the character stays whole.
  EXPECT_EQ(trim_spaces("\xB0\xA1\xA1"), "\xB0\xA1");
  // A character whose trail byte is 0x20 is no blank.
  EXPECT_EQ(trim_spaces("\x81\x20"), "\x81\x20");
  EXPECT_EQ(trim_spaces("x\x81\x20 "), "x\x81\x20");
  // The A1 A1 straddling two characters is no ideographic space.
  EXPECT_EQ(trim_spaces("\xB0\xA1\xA1\xB0"), "\xB0\xA1\xA1\xB0");
  EXPECT_EQ(trim_spaces("\xA1"), "");
}

TEST(ReplaceText, Examples) {
  Text t("hh:mm hh"), find("hh"), upper("HH");
  EXPECT_EQ(text_result(replace_text, {text(t), text(Text()), text(upper)}), "hh:mm hh");  // empty find
  EXPECT_EQ(text_result(replace_text, {text(t), text(find), text(upper), kOmitted, Value::of_int(1)}),
            "HH:mm hh");
  EXPECT_EQ(text_result(replace_text,
                        {text(t), text(find), text(upper), kOmitted, kOmitted, Value::of_logical(true)}),
            "HH:mm HH");
  Text mixed("HH:mm hh");
  EXPECT_EQ(text_result(replace_text, {text(mixed), text(find), text(Text("x"))}), "x:mm x");  // caseless
  EXPECT_EQ(text_result(replace_text,
                        {text(mixed), text(find), text(upper), kOmitted, kOmitted, Value::of_logical(true)}),
            "HH:mm HH");
  Text done("HH:mm");
  EXPECT_EQ(text_result(replace_text,
                        {text(done), text(find), text(upper), kOmitted, kOmitted, Value::of_logical(true)}),
            "HH:mm");
  EXPECT_EQ(text_result(replace_text, {text(t), text(find)}), ":mm ");  // replacement left out: deleted
}

TEST(ReplaceText, StartAndCount) {
  EXPECT_EQ(replace_text("aaaa", "a", "b", 3), "aabb");
  EXPECT_EQ(replace_text("aaaa", "a", "b", 0), "bbbb");
  EXPECT_EQ(replace_text("aaaa", "a", "b", -5, 2), "bbaa");
  EXPECT_EQ(replace_text("aaaa", "a", "b", 5), "aaaa");  // start beyond the end
  EXPECT_EQ(replace_text("aaaa", "a", "b", 1, 0), "aaaa");
  EXPECT_EQ(replace_text("", "a", "b"), "");
  EXPECT_EQ(replace_text("abcabc", "abc", "", 1, -1), "");
  EXPECT_EQ(replace_text("ab", "abc", "x"), "ab");  // find longer than the text
  Text t("aaaa"), a("a"), b("b");
  EXPECT_EQ(text_result(replace_text, {text(t), text(a), text(b), Value::of_int(2), Value::of_int(2)}),
            "abba");
}

TEST(ReplaceText, MatchesOnlyAtCharacterStarts) {
  // B0 A1 is one character, A1 A1 the next: only the real ideographic space is replaced.
  EXPECT_EQ(replace_text("\xB0\xA1\xA1\xA1", "\xA1\xA1", "_"), "\xB0\xA1_");
  // 'A' as a trail byte (81 41) is not the letter.
  EXPECT_EQ(replace_text("\x81\x41"
                         "A",
                         "a", "z"),
            "\x81\x41z");
  // A lone lead byte at the end ends the scan and is kept.
  EXPECT_EQ(replace_text("ab\xB0", "b", "c"), "ac\xB0");
  EXPECT_EQ(replace_text("金额金额", "额", "钱"), "金钱金钱");
}

TEST(SpaceText, CountsBelowOneGiveTheEmptyText) {
  EXPECT_EQ(call_command(space_text, {Value::of_int(0)}).pointer(), nullptr);
  EXPECT_EQ(call_command(space_text, {Value::of_int(-3)}).pointer(), nullptr);
  EXPECT_EQ(call_command(space_text, {Value::of_int(INT32_MIN)}).pointer(), nullptr);
  EXPECT_EQ(text_result(space_text, {Value::of_int(3)}), "   ");
}

TEST(CompareTexts, CaseAndCharacters) {
  Text abc("abc"), upper("ABC"), abd("abd"), ab("ab");
  for (bool cs : {false, true})
    EXPECT_EQ(int_result(compare_texts, {text(abc), text(abc), Value::of_logical(cs)}), 0);
  EXPECT_EQ(int_result(compare_texts, {text(abc), text(upper), Value::of_logical(false)}), 0);
  EXPECT_NE(int_result(compare_texts, {text(abc), text(upper), Value::of_logical(true)}), 0);
  EXPECT_LT(int_result(compare_texts, {text(abc), text(abd), Value::of_logical(true)}), 0);
  EXPECT_LT(int_result(compare_texts, {text(ab), text(abc), Value::of_logical(true)}), 0);  // prefix first
  EXPECT_GT(int_result(compare_texts, {text(abc), text(ab), Value::of_logical(true)}), 0);
  EXPECT_LT(int_result(compare_texts, {text(Text()), text(ab), Value::of_logical(true)}), 0);
  // A two-byte character is one number, lead * 256 + trail: B0 A1 sorts after B0 A0 and after 'z'.
  EXPECT_GT(compare_texts("\xB0\xA1", "\xB0\xA0", true), 0);
  EXPECT_GT(compare_texts("\xB0\x41", "z", true), 0);
  // Caseless folding applies to ASCII letters only, never to a trail byte.
  EXPECT_NE(compare_texts("\x81\x41", "\x81\x61", false), 0);
}

class ByteSetGetValue : public ::testing::Test {
 protected:
  testing::CatchFatal catch_fatal_;
};

TEST_F(ByteSetGetValue, EmptyByteSetReadsZero) {
  Value r = call_command(byteset_get_value, {ByteSet().value(), Value::of_int(3)});
  EXPECT_TRUE(r.is(Kind::Int));
  EXPECT_EQ(r.payload(), 0u);
  Value d = call_command(byteset_get_value, {Value::of_byteset_block(&kEmptyByteSet), Value::of_int(6)});
  EXPECT_TRUE(d.is(Kind::Double));
  EXPECT_EQ(d.double_payload(), 0.0);
}

TEST_F(ByteSetGetValue, KindOutsideOneToTenIsFatal) {
  ByteSet b("abcd");
  for (int kind : {0, 11, -1}) {
    try {
      call_command(byteset_get_value, {b.value(), Value::of_int(kind)});
      ADD_FAILURE() << "kind " << kind << " was accepted";
    } catch (const testing::FatalCaught& f) {
      EXPECT_EQ(f.report.message, "“欲取出数据的类型”参数值无效");
    }
  }
}

TEST_F(ByteSetGetValue, ReadsLittleEndianWithMissingHighBytesZero) {
  ByteSet b(std::string_view("\x78\x56\x34\x12\xFF\xFF", 6));
  EXPECT_EQ(call_command(byteset_get_value, {b.value(), Value::of_int(3)}).int_payload(), 0x12345678);
  EXPECT_EQ(call_command(byteset_get_value, {b.value(), Value::of_int(1)}).lo, 0x78u);
  EXPECT_EQ(call_command(byteset_get_value, {b.value(), Value::of_int(2), Value::of_int(5)}).lo, 0xFFFFu);
  // From position 4 only 12 FF FF remain: the fourth byte reads as zero.
  EXPECT_EQ(call_command(byteset_get_value, {b.value(), Value::of_int(3), Value::of_int(4)}).lo, 0x00FFFF12u);
  Value wide = call_command(byteset_get_value, {b.value(), Value::of_int(4)});
  EXPECT_TRUE(wide.is(Kind::Int64));
  EXPECT_EQ(wide.payload(), 0xFFFF12345678ull);
  // Beyond the end and below 1: nothing is read, the kind is still set.
  Value past = call_command(byteset_get_value, {b.value(), Value::of_int(3), Value::of_int(100)});
  EXPECT_TRUE(past.is(Kind::Int));
  EXPECT_EQ(past.payload(), 0u);
  Value before = call_command(byteset_get_value, {b.value(), Value::of_int(3), Value::of_int(0)});
  EXPECT_TRUE(before.is(Kind::Int));
  EXPECT_EQ(before.payload(), 0u);
}

TEST_F(ByteSetGetValue, LogicalDateTimeAndDouble) {
  ByteSet flag(std::string_view("\0\x10\0\0", 4));
  Value l = call_command(byteset_get_value, {flag.value(), Value::of_int(7)});
  EXPECT_TRUE(l.is(Kind::Logical));
  EXPECT_EQ(l.lo, 1u);
  double big = 1e12, money = -12.5;
  ByteSet dates(std::string_view(reinterpret_cast<const char*>(&big), 8));
  Value d = call_command(byteset_get_value, {dates.value(), Value::of_int(8)});
  EXPECT_TRUE(d.is(Kind::DateTime));
  EXPECT_EQ(d.double_payload(), kMaxDateTime);
  ByteSet amount(std::string_view(reinterpret_cast<const char*>(&money), 8));
  EXPECT_EQ(call_command(byteset_get_value, {amount.value(), Value::of_int(6)}).double_payload(), -12.5);
}

TEST_F(ByteSetGetValue, PositionByReferenceAdvances) {
  ByteSet b(std::string_view("\x01\x00\x00\x00\x02\x00\x00\x00", 8));
  int32_t pos = 1;
  EXPECT_EQ(call_command(byteset_get_value, {b.value(), Value::of_int(3), int_reference(&pos)}).int_payload(),
            1);
  EXPECT_EQ(pos, 5);
  EXPECT_EQ(call_command(byteset_get_value, {b.value(), Value::of_int(3), int_reference(&pos)}).int_payload(),
            2);
  EXPECT_EQ(pos, -1);  // at the end
  int32_t before = 0;
  call_command(byteset_get_value, {b.value(), Value::of_int(3), int_reference(&before)});
  EXPECT_EQ(before, 0);  // nothing read, nothing moved
  int32_t last = 8;
  call_command(byteset_get_value, {b.value(), Value::of_int(1), int_reference(&last)});
  EXPECT_EQ(last, -1);
}

TEST_F(ByteSetGetValue, TextRunsToTheZeroByte) {
  ByteSet b(std::string_view("金额\0ab", 7));
  int32_t pos = 1;
  Value first = call_command(byteset_get_value, {b.value(), Value::of_int(10), int_reference(&pos)});
  EXPECT_EQ(Text::from_result(first).view(), "金额");
  EXPECT_EQ(pos, 6);  // past the zero byte
  Value second = call_command(byteset_get_value, {b.value(), Value::of_int(10), int_reference(&pos)});
  EXPECT_EQ(Text::from_result(second).view(), "ab");
  EXPECT_EQ(pos, -1);
}

TEST(ConversionCommands, DelegateToTheConversions) {
  Text amount(" １２．５元");
  Value n = call_command(to_number, {text(amount)});
  EXPECT_TRUE(n.is(Kind::Double));
  EXPECT_EQ(n.double_payload(), 12.5);
  EXPECT_EQ(int_result(to_integer, {Value::of_double(-2.9)}), -2);
  EXPECT_EQ(text_result(to_text, {Value::of_double(1e13)}), "1e+013");
  EXPECT_EQ(text_result(to_text, {Value::of_logical(false)}), "假");
}

TEST(DateCommands, YearMonthAndNow) {
  Value d = Value::of_date_time(make_date_time(2019, 12, 31, 23, 59, 59) + 0.6 / 86400);
  EXPECT_EQ(int_result(year_of, {d}), 2020);
  EXPECT_EQ(int_result(month_of, {d}), 1);
  EXPECT_EQ(int_result(year_of, {Value::of_date_time(-1e9)}), 100);
  EXPECT_EQ(int_result(month_of, {Value::of_date_time(make_date_time(2020, 8, 11))}), 8);

  std::time_t before = std::time(nullptr);
  Value a = call_command(now, {});
  Value b = call_command(now, {});
  std::time_t after = std::time(nullptr);
  EXPECT_TRUE(a.is(Kind::DateTime));
  if (before == after) {
    EXPECT_EQ(a.double_payload(), b.double_payload());  // same second, same value
  }
}

TEST(PointerCommands, CopyFromAnAddress) {
  static char buffer[] = "地址\0tail";
  Value address = Value::make(Kind::Int, reinterpret_cast<uintptr_t>(buffer));
  EXPECT_EQ(text_result(pointer_to_text, {address}), "地址");
  Value empty = Value::make(Kind::Int, reinterpret_cast<uintptr_t>(buffer + 4));
  EXPECT_EQ(call_command(pointer_to_text, {empty}).pointer(), nullptr);
  EXPECT_EQ(call_command(pointer_to_text, {Value::of_int(0)}).pointer(), nullptr);

  Value r = call_command(pointer_to_byteset, {address, Value::of_int(9)});
  EXPECT_TRUE(r.is(Kind::ByteSet));
  EXPECT_EQ(ByteSet::from_result(r).view(), std::string_view("地址\0tail", 9));
  EXPECT_EQ(call_command(pointer_to_byteset, {address, Value::of_int(0)}).pointer(), nullptr);
  EXPECT_EQ(call_command(pointer_to_byteset, {address, Value::of_int(-4)}).pointer(), nullptr);
}

TEST(ProgramDirectory, FixedAtStartAndMadeCurrent) {
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  ASSERT_GT(n, 0);
  std::string path(exe, static_cast<size_t>(n));
  std::string dir = path.substr(0, path.rfind('/'));

  ASSERT_EQ(chdir("/"), 0);
  std::string error;
  ASSERT_TRUE(init_program_directory(error)) << error;
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(std::string(cwd), dir);
  EXPECT_EQ(program_directory(), utf8_to_gbk(dir).value());
  EXPECT_EQ(text_result(program_directory, {}), program_directory());
  EXPECT_NE(program_directory().back(), '/');
}

}  // namespace
}  // namespace pennacle
