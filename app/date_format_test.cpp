#include "app/date_format.h"

#include <gtest/gtest.h>
#include <locale.h>

#include <string>

#include "runtime/convert.h"

namespace pennacle {
namespace {

// Runs the test body's thread in one LC_TIME locale: de_DE has a 24-hour clock, en_US a 12-hour one.
class InLocale {
 public:
  explicit InLocale(const char* name) : loc_(newlocale(LC_ALL_MASK, name, nullptr)) {
    if (loc_ != nullptr) old_ = uselocale(loc_);
  }
  ~InLocale() {
    if (loc_ == nullptr) return;
    uselocale(old_);
    freelocale(loc_);
  }
  bool ok() const { return loc_ != nullptr; }

 private:
  locale_t loc_;
  locale_t old_ = nullptr;
};

#define REQUIRE_LOCALE(l) \
  if (!(l).ok()) GTEST_SKIP() << "locale missing: run scripts/install-deps.sh"

const double kAugust11 = make_date_time(2020, 8, 11, 14, 3, 5);

std::string fmt(double t, int style, int mode) { return FormatDateTime(t, style, mode).str(); }

TEST(FormatDateTime, PartModesOnATwentyFourHourClock) {
  InLocale de("de_DE.UTF-8");
  REQUIRE_LOCALE(de);
  EXPECT_EQ(IsTwentyFourHourClock(), 1);
  EXPECT_EQ(fmt(kAugust11, 1, 0), "2020-08-11 14:03:05");
  EXPECT_EQ(fmt(kAugust11, 1, 1), "2020-08-11");
  EXPECT_EQ(fmt(kAugust11, 1, 2), "08-11");
  EXPECT_EQ(fmt(kAugust11, 1, 3), "14:03:05");
  EXPECT_EQ(fmt(kAugust11, 1, 4), "14:03");
  EXPECT_EQ(fmt(kAugust11, 1, 5), "03:05");
  EXPECT_EQ(fmt(kAugust11, 0, 1), "2020年08月11日") << "no trailing space";
  EXPECT_EQ(fmt(kAugust11, 0, 0), "2020年08月11日 14时03分05秒");
  EXPECT_EQ(fmt(kAugust11, 0, 2), "08月11日");
  EXPECT_EQ(fmt(kAugust11, 2, 0), "2020/08/11 14/03/05");
  EXPECT_EQ(fmt(kAugust11, 3, 0), "20200811140305") << "date and time run together";
  EXPECT_EQ(fmt(kAugust11, 3, 4), "1403");
}

TEST(FormatDateTime, TwelveHourClockHasNoMarker) {
  InLocale us("en_US.UTF-8");
  REQUIRE_LOCALE(us);
  EXPECT_EQ(IsTwentyFourHourClock(), 0);
  EXPECT_EQ(fmt(kAugust11, 1, 3), "02:03:05");
  EXPECT_EQ(fmt(kAugust11, 0, 0), "2020年08月11日 02时03分05秒");
  EXPECT_EQ(fmt(make_date_time(2020, 8, 11, 0, 30, 0), 1, 4), "12:30") << "midnight is 12";
  EXPECT_EQ(fmt(make_date_time(2020, 8, 11, 12, 30, 0), 1, 4), "12:30");
  EXPECT_EQ(fmt(kAugust11, 1, 1), "2020-08-11") << "dates do not depend on the clock";
}

TEST(FormatDateTime, OutOfRangeStyleAndModeFallBackToZero) {
  for (const char* name : {"de_DE.UTF-8", "en_US.UTF-8"}) {
    InLocale l(name);
    REQUIRE_LOCALE(l);
    EXPECT_EQ(fmt(kAugust11, 7, 1), fmt(kAugust11, 0, 1)) << name;
    EXPECT_EQ(fmt(kAugust11, -1, 3), fmt(kAugust11, 0, 3)) << name;
    EXPECT_EQ(fmt(kAugust11, 1, 9), fmt(kAugust11, 1, 0)) << name;
    EXPECT_EQ(fmt(kAugust11, 1, -2), fmt(kAugust11, 1, 0)) << name;
    EXPECT_EQ(fmt(kAugust11, 7, 9), fmt(kAugust11, 0, 0)) << name;
  }
}

TEST(FormatDateTime, TodayTestDependsOnlyOnTheCalendarDate) {
  for (const char* name : {"de_DE.UTF-8", "en_US.UTF-8"}) {
    InLocale l(name);
    REQUIRE_LOCALE(l);
    const std::string morning = fmt(make_date_time(2021, 1, 31, 0, 0, 0), 2, 1);
    EXPECT_EQ(morning, "2021/01/31");
    EXPECT_EQ(fmt(make_date_time(2021, 1, 31, 23, 59, 59), 2, 1), morning) << name;
    EXPECT_NE(fmt(make_date_time(2021, 2, 1, 0, 0, 0), 2, 1), morning) << name;
  }
}

TEST(FormatDateTime, LeftOutTimeIsNow) {
  const std::string before = fmt(current_date_time(), 2, 1);
  const std::string got = FormatDateTime(std::nullopt, 2, 1).str();
  const std::string after = fmt(current_date_time(), 2, 1);
  EXPECT_TRUE(got == before || got == after) << got;
  EXPECT_EQ(got.size(), 10u);
}

TEST(DateTimeToText, PicturesAndTheirAbsence) {
  InLocale de("de_DE.UTF-8");
  REQUIRE_LOCALE(de);
  EXPECT_EQ(DateTimeToText(kAugust11, std::nullopt, std::nullopt, false).str(), "");
  EXPECT_EQ(DateTimeToText(kAugust11, "yyyy-MM-dd ", std::nullopt, false).str(), "2020-08-11 ");
  EXPECT_EQ(DateTimeToText(kAugust11, std::nullopt, "HH:mm:ss", false).str(), "14:03:05");
  EXPECT_EQ(DateTimeToText(kAugust11, "MM", "HH:mm", false).str(), "14:03") << "two bytes count as absent";
  EXPECT_EQ(DateTimeToText(kAugust11, "", "", false).str(), "");
  EXPECT_EQ(DateTimeToText(kAugust11, "yyyy", "HH:mm:ss", true).str(), "202014:03") << "no seconds";
  EXPECT_EQ(DateTimeToText(kAugust11, "yyyy", "HH时mm分ss秒", true).str(), "202014时03分");
  EXPECT_EQ(DateTimeToText(1e9, "yyyy-MM-dd", "HH:mm", false).str(), "") << "beyond 9999";
  EXPECT_EQ(DateTimeToText(make_date_time(1899, 12, 29, 6, 0, 0), "yyyy-MM-dd ", "HH:mm", false).str(),
            "1899-12-29 06:00");
}

TEST(DateTimeToText, ChineseCharactersAreNeverReadAsPictureLetters) {
  InLocale de("de_DE.UTF-8");
  REQUIRE_LOCALE(de);
  // The trail bytes of 盡 瞞 瞭 癲 are 'M' 'm' 't' 'd'.
  const std::string date = DateTimeToText(kAugust11, "盡yyyy瞞MM瞭dd癲", std::nullopt, false).str();
  EXPECT_EQ(date, "盡2020瞞08瞭11癲");
  const std::string time = DateTimeToText(kAugust11, std::nullopt, "盡HH瞞mm瞭ss癲", false).str();
  EXPECT_EQ(time, "盡14瞞03瞭05癲");
}

TEST(DateTimeToText, AnOverlongPartIsEmptyNotFiftySpaces) {
  InLocale de("de_DE.UTF-8");
  REQUIRE_LOCALE(de);
  const std::string long_picture(60, 'x');
  EXPECT_EQ(DateTimeToText(kAugust11, long_picture, "HH:mm", false).str(), "14:03");
}

}  // namespace
}  // namespace pennacle
