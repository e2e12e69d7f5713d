#include "platform/locale_clock.h"

#include <gtest/gtest.h>
#include <locale.h>

namespace pennacle {
namespace {

TEST(LocaleClock, TimeFormatsClassifyByTheirFirstHour) {
  EXPECT_TRUE(time_format_is_24_hour("%H:%M:%S"));
  EXPECT_TRUE(time_format_is_24_hour("%T"));
  EXPECT_TRUE(time_format_is_24_hour("%k.%M"));
  EXPECT_FALSE(time_format_is_24_hour("%I:%M:%S %p"));
  EXPECT_FALSE(time_format_is_24_hour("%r"));
  EXPECT_FALSE(time_format_is_24_hour("%p %-l:%M"));
  EXPECT_FALSE(time_format_is_24_hour("%02I时"));
  EXPECT_TRUE(time_format_is_24_hour("%%I %H")) << "an escaped percent is no element";
  EXPECT_TRUE(time_format_is_24_hour(""));
  EXPECT_TRUE(time_format_is_24_hour(nullptr));
  EXPECT_TRUE(time_format_is_24_hour("%"));
}

TEST(LocaleClock, FollowsTheThreadsLcTime) {
  locale_t us = newlocale(LC_ALL_MASK, "en_US.UTF-8", nullptr);
  locale_t de = newlocale(LC_ALL_MASK, "de_DE.UTF-8", nullptr);
  if (us == nullptr || de == nullptr) GTEST_SKIP() << "locale missing: run scripts/install-deps.sh";
  locale_t old = uselocale(us);
  EXPECT_FALSE(locale_uses_24_hour_clock());
  uselocale(de);
  EXPECT_TRUE(locale_uses_24_hour_clock());
  uselocale(old);
  freelocale(us);
  freelocale(de);
}

}  // namespace
}  // namespace pennacle
