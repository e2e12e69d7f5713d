#include "runtime/value.h"

#include <gtest/gtest.h>

#include <optional>
#include <type_traits>
#include <utility>

#include "runtime/fatal.h"
#include "testing/fatal_capture.h"

namespace pennacle {
namespace {

TEST(Charset, LiteralsAreGbk) {
  // Program targets compile narrow literals to GBK.
  constexpr std::string_view kAmount = "金额";
  ASSERT_EQ(kAmount.size(), 4u);
  EXPECT_EQ(static_cast<unsigned char>(kAmount[0]), 0xBD);
  EXPECT_EQ(static_cast<unsigned char>(kAmount[1]), 0xF0);
  EXPECT_EQ(static_cast<unsigned char>(kAmount[2]), 0xB6);
  EXPECT_EQ(static_cast<unsigned char>(kAmount[3]), 0xEE);
}

TEST(Pool, ConstantsAndNullAreNeverReleased) {
  static const char kConstant[] = "常量";
  release(kConstant);
  release(nullptr);
  release(&kEmptyByteSet);
  EXPECT_TRUE(is_constant_address(kConstant));
  char* owned = new_text_block("x");
  EXPECT_FALSE(is_constant_address(owned));
  release(owned);
}

TEST(Blocks, EmptyTextAndByteSetAreNoBlock) {
  EXPECT_EQ(new_text_block(""), nullptr);
  EXPECT_EQ(new_byteset_block(""), nullptr);
  Text t("abc");
  EXPECT_EQ(t.view(), "abc");
  ByteSet b(std::string_view("\0\1\2", 3));
  ASSERT_NE(b.block(), nullptr);
  EXPECT_EQ(b.block()->marker, 1u);
  EXPECT_EQ(b.block()->length, 3u);
}

// Text and ByteSet own their blocks alike; every case runs for both.
template <class Owner>
class Owners : public ::testing::Test {
 protected:
  // The owner of the other kind, for a result value that is not this owner's.
  using Other = std::conditional_t<std::is_same_v<Owner, Text>, ByteSet, Text>;

  // A result value owning a block with these bytes, as a command leaves it.
  template <class Source>
  static Value result_of(std::string_view bytes) {
    Source owner(bytes);
    Value v = owner.value();
    (void)owner.detach();
    return v;
  }
};
using OwnerTypes = ::testing::Types<Text, ByteSet>;
TYPED_TEST_SUITE(Owners, OwnerTypes);

TYPED_TEST(Owners, AreMoveOnly) {
  static_assert(!std::is_copy_constructible_v<TypeParam> && !std::is_copy_assignable_v<TypeParam>);
  static_assert(std::is_nothrow_move_constructible_v<TypeParam> &&
                std::is_nothrow_move_assignable_v<TypeParam>);
  TypeParam a("abc");
  const auto* block = a.block();
  TypeParam b(std::move(a));
  EXPECT_EQ(b.block(), block);
  EXPECT_EQ(a.block(), nullptr);
  EXPECT_TRUE(a.empty());

  TypeParam c("xy");  // its block goes back to the pool on the assignment (a leak under ASan if not)
  c = std::move(b);
  EXPECT_EQ(c.block(), block);
  EXPECT_EQ(c.view(), "abc");
  EXPECT_EQ(b.block(), nullptr);

  TypeParam& same = c;
  c = std::move(same);
  EXPECT_EQ(c.block(), block);
  EXPECT_EQ(c.view(), "abc");
}

TYPED_TEST(Owners, DetachGivesTheBlockUpAndAdoptTakesItBack) {
  TypeParam a("abc");
  auto* block = a.detach();
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(a.block(), nullptr);
  EXPECT_TRUE(a.empty());
  EXPECT_EQ(a.size(), 0u);
  TypeParam b = TypeParam::adopt(block);
  EXPECT_EQ(b.block(), block);
  EXPECT_EQ(b.view(), "abc");
  EXPECT_EQ(b.size(), 3u);
}

TYPED_TEST(Owners, FromResultTakesItsOwnKindAndReleasesAnyOther) {
  Value own = TestFixture::template result_of<TypeParam>("abc");
  const void* block = own.pointer();
  TypeParam taken = TypeParam::from_result(own);
  EXPECT_EQ(taken.block(), block);
  EXPECT_EQ(taken.view(), "abc");
  EXPECT_TRUE(own.omitted());

  // The other kind's block is released (a leak under ASan if not) and the value cleared.
  Value other = TestFixture::template result_of<typename TestFixture::Other>("xyz");
  TypeParam none = TypeParam::from_result(other);
  EXPECT_TRUE(none.empty());
  EXPECT_EQ(none.block(), nullptr);
  EXPECT_TRUE(other.omitted());

  Value number = Value::of_int(7);
  EXPECT_TRUE(TypeParam::from_result(number).empty());
  EXPECT_TRUE(number.omitted());
}

TEST(Blocks, ArrayLayoutAndCopyOnWrite) {
  ArrayHeader* a = new_array_block(Kind::Int, 3);
  EXPECT_EQ(a->dimensions, 1u);
  EXPECT_EQ(a->count, 3u);
  static_cast<int32_t*>(array_elements(a))[2] = 7;
  EXPECT_EQ(writable_array(a, Kind::Int), a);  // owned: changed in place
  release_array(a, Kind::Int);

  static struct {
    ArrayHeader h{1, 2};
    int32_t e[2]{5, 6};
  } constant_array;
  ArrayHeader* copy = writable_array(&constant_array.h, Kind::Int);
  ASSERT_NE(copy, &constant_array.h);
  EXPECT_EQ(static_cast<int32_t*>(array_elements(copy))[1], 6);
  release_array(copy, Kind::Int);
}

TEST(Value, RecordWords) {
  Value v = Value::of_int(-2);
  EXPECT_EQ(v.lo, 0xFFFFFFFEu);
  EXPECT_EQ(v.hi, 0u);
  EXPECT_EQ(v.kind, 0x80000301u);
  Value d = Value::of_double(1.0);
  EXPECT_EQ(d.hi, 0x3FF00000u);
  EXPECT_EQ(d.lo, 0u);
  EXPECT_TRUE(Value{}.omitted());
}

TEST(Fatal, AllocationFailureTakesTheFatalPath) {
  std::optional<FatalReport> r = testing::fatal_report_of([] {
    [[maybe_unused]] void* p = allocate(SIZE_MAX / 2);
    release(p);
  });
  ASSERT_TRUE(r.has_value()) << "allocate returned";
  EXPECT_EQ(r->code, 0);
  EXPECT_EQ(r->message.rfind("分配 ", 0), 0u);
  EXPECT_NE(r->message.find(" 字节内存失败!"), std::string::npos);
}

}  // namespace
}  // namespace pennacle
