#include "platform/low_memory.h"

#include <gtest/gtest.h>

namespace pennacle {
namespace {

constexpr uint64_t kFourGiB = uint64_t{1} << 32;

TEST(LowMemory, ReservationsLieBelowFourGiBAlignedAndZeroFilled) {
  uintptr_t a = low_reserve(0, 200000, true, PageAccess::ReadWrite, 0x10000);
  ASSERT_NE(a, 0u);
  EXPECT_EQ(a % 0x10000, 0u);
  EXPECT_LE(a + 200000, kFourGiB);
  auto* p = reinterpret_cast<unsigned char*>(a);
  EXPECT_EQ(p[0] | p[199999], 0);
  p[5000] = 9;
  uintptr_t base = 0;
  size_t size = 0;
  ASSERT_TRUE(low_find(a + 5000, &base, &size));
  EXPECT_EQ(base, a);
  EXPECT_GE(size, 200000u);
  EXPECT_FALSE(low_find(a + size, &base, &size)) << "one past the end";

  // Decommitted pages come back zero-filled when committed again.
  ASSERT_TRUE(low_decommit(a + 4096, 8192));
  ASSERT_TRUE(low_commit(a + 4096, 8192, PageAccess::ReadWrite));
  EXPECT_EQ(p[5000], 0);
  EXPECT_FALSE(low_commit(a + size - 10, 4096 * 4, PageAccess::ReadWrite)) << "reaches past the reservation";

  EXPECT_FALSE(low_release(a + 4096)) << "not a base";
  EXPECT_TRUE(low_release(a));
  EXPECT_FALSE(low_release(a));
  EXPECT_FALSE(low_find(a, &base, &size));
  EXPECT_FALSE(low_commit(a, 10, PageAccess::ReadWrite));
}

TEST(LowMemory, CommitAndDecommitRefuseWhatIsNotReservedWhole) {
  uintptr_t a = low_reserve(0, 0x10000, false, PageAccess::None, 0x10000);
  ASSERT_NE(a, 0u);
  uintptr_t base = 0;
  size_t size = 0;
  ASSERT_TRUE(low_find(a, &base, &size));
  struct Range {
    uintptr_t address;
    size_t size;
    const char* what;
  };
  const Range refused[] = {
      {a, 0, "empty"},
      {a, size_t{kFourGiB} + 1, "over 4 GiB"},
      {a + size - 1, 2, "reaches past the end"},
      {a + size, 1, "one past the end"},
      {a - 0x1000, 0x2000, "begins before the reservation"},
  };
  for (const Range& r : refused) {
    EXPECT_FALSE(low_commit(r.address, r.size, PageAccess::ReadWrite)) << r.what;
    EXPECT_FALSE(low_decommit(r.address, r.size)) << r.what;
  }
  // Parts of pages stand for their whole pages: the last byte commits its page.
  ASSERT_TRUE(low_commit(a + size - 1, 1, PageAccess::ReadWrite));
  auto* last_page = reinterpret_cast<unsigned char*>(a + size - low_page_size());
  last_page[0] = 7;
  ASSERT_TRUE(low_decommit(a + size - 1, 1));
  ASSERT_TRUE(low_commit(a + size - low_page_size(), 1, PageAccess::Read));
  EXPECT_EQ(last_page[0], 0) << "decommitted whole";
  EXPECT_TRUE(low_release(a));
  EXPECT_FALSE(low_decommit(a, 1)) << "released";
}

TEST(LowMemory, WantedAddressIsExactOrRefused) {
  uintptr_t a = low_reserve(0, 0x20000, false, PageAccess::None, 0x10000);
  ASSERT_NE(a, 0u);
  EXPECT_EQ(low_reserve(a, 0x10000, true, PageAccess::ReadWrite), 0u) << "already reserved there";
  ASSERT_TRUE(low_release(a));
  EXPECT_EQ(low_reserve(a, 0x10000, true, PageAccess::ReadWrite), a);
  EXPECT_TRUE(low_release(a));
  EXPECT_EQ(low_reserve(a + 1, 0x1000, true, PageAccess::ReadWrite), 0u) << "not on a page";
  EXPECT_EQ(low_reserve(0, 0, true, PageAccess::ReadWrite), 0u);
  EXPECT_EQ(low_reserve(kFourGiB - 0x1000, 0x2000, true, PageAccess::ReadWrite), 0u) << "crosses 4 GiB";
  EXPECT_EQ(low_reserve(kFourGiB, 0x1000, true, PageAccess::ReadWrite), 0u);
  EXPECT_EQ(low_reserve(0, 0x1000, true, PageAccess::ReadWrite, 0x3000), 0u)
      << "alignment not a power of two";
}

}  // namespace
}  // namespace pennacle
