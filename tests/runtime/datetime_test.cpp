// Date-time values: parsing in the three text forms, the calendar around day 0 and leap
// years, the text form, and differences in every unit. Expected day numbers were computed
// independently (days between the date and 30 December 1899 in a proleptic calendar).
#include "runtime/datetime.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cmath>
#include <string>

#include "runtime/text.h"

using namespace tambrel;

namespace {

constexpr double k22Oct2012 = 41204;  // 22 October 2012
constexpr double kHour = 1.0 / 24;

TEST(ParseDateTime, ValidTexts) {
  struct Case {
    const char* text;
    double expected;
  };
  const Case cases[] = {
      {"1970-01-01 08:00:00", 25569 + 8 * kHour},
      // 22 October 2012 in the three forms.
      {"2012年10月22日", k22Oct2012},
      {"2012-10-22", k22Oct2012},
      {"20121022", k22Oct2012},
      {"2012年10月22日10时30分", k22Oct2012 + 10.5 * kHour},
      {"2012-10-22 10:30", k22Oct2012 + 10.5 * kHour},
      {"20121022103000", k22Oct2012 + 10.5 * kHour},
      {"2012年10月22日10时30分15秒", k22Oct2012 + (10 * 3600 + 30 * 60 + 15) / 86400.0},
      {"2012年10月22日10时", k22Oct2012 + 10 * kHour},
      {"2012.10.22", k22Oct2012},
      {"2012/10/22", k22Oct2012},
      {"2012/10/22 10-30-15", k22Oct2012 + (10 * 3600 + 30 * 60 + 15) / 86400.0},
      {"2012-10-22-10/30", k22Oct2012 + 10.5 * kHour},
      {"2012-10-22 ", k22Oct2012},
      {"2012-10-22日", k22Oct2012},  // a marker may close a field in its place
      {"201210221", k22Oct2012 + 1 * kHour},
      {"2000-02-29", 36585},
      {"2012-10-22 23:59:59", k22Oct2012 + 86399 / 86400.0},
      {"99991231", 2958465},
      // Around and before day 0: the fraction adds time of day in magnitude.
      {"1899-12-30", 0},
      {"1899-12-31 12:00", 1.5},
      {"1900-01-01", 2},
      {"1899-12-29 06:00:00", -1.25},
      {"0001-12-31", -693229},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_DOUBLE_EQ(parse_datetime(c.text), c.expected);
    EXPECT_DOUBLE_EQ(to_datetime(text_arg(c.text)), c.expected);
  }
}

TEST(ParseDateTime, InvalidTextsGiveTheFailureValue) {
  const char* const cases[] = {
      "2012-10-22 10:61:00",  // minute 61
      "2012-13-01",
      "1900-02-29",  // 1900 is not a leap year
      "2012-02-30",
      "2012-04-31",
      "2012-10-00",
      "0000-01-01",
      "2012-10-22 24:00:00",
      "2012-10-22 10:30:60",
      "1234567",  // 7 bytes or fewer
      "",
      "2012-10/22",           // date separator changes
      "2012-10-22 10:30-15",  // time separator changes
      "2012-10-22T10:30",
      "2012-10-22 10:30:00 ",
      "2012-10-22 10:30:00:00",  // a seventh field
      "2012年10月22日 10时",     // ASCII separators after the year marker
      "2012年22日10月",          // markers out of order
      "年2012年10月22日",        // double-byte character first
      "2012年10月22号",          // not a marker
      "2012年10月",              // no day: not the last day of September
      "2012-10-",
      "201210221030001",  // more digits than six fields hold
      "20121022103000123456",
      "2012a10a22",
      "99999999999-01-01",  // a field no date has
  };
  for (const char* text : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(parse_datetime(text), DATETIME_INVALID);
  }
  EXPECT_EQ(DATETIME_INVALID, -657434.0);
  EXPECT_EQ(parse_datetime("0100-01-01"), -657434.0) << "1 January 100 is the failure value";
}

TEST(ToDateTime, PassesEightByteValuesAndRejectsOtherTags) {
  EXPECT_EQ(to_datetime(datetime_arg(41204.5)), 41204.5);
  EXPECT_EQ(to_datetime(double_arg(-1.25)), -1.25);
  ArgValue as_long = long_arg(0);
  as_long.value.f64 = 7.25;  // a long carries its 8 bytes unchanged
  EXPECT_EQ(to_datetime(as_long), 7.25);
  EXPECT_EQ(to_datetime(int_arg(41204)), DATETIME_INVALID);
  EXPECT_EQ(to_datetime(make_arg(TYPE_OBJECT)), DATETIME_INVALID);
  EXPECT_EQ(to_datetime(text_arg(nullptr)), DATETIME_INVALID);
}

TEST(DateTimeParts, RoundTripAndCalendarRules) {
  const DateTimeParts cases[] = {
      {2012, 10, 22, 10, 30, 15}, {1899, 12, 30, 0, 0, 0},    {1899, 12, 29, 6, 0, 0},
      {1900, 2, 28, 23, 59, 59},  {1900, 3, 1, 0, 0, 0},      {2000, 2, 29, 12, 0, 0},
      {1, 1, 1, 0, 0, 1},         {9999, 12, 31, 23, 59, 59}, {1600, 2, 29, 0, 0, 0},
  };
  for (const DateTimeParts& p : cases) {
    SCOPED_TRACE(testing::Message() << p.year << "-" << p.month << "-" << p.day << " " << p.hour
                                    << ":" << p.minute << ":" << p.second);
    DateTimeParts back{};
    ASSERT_TRUE(datetime_to_parts(datetime_from_parts(p), &back));
    EXPECT_EQ(back.year, p.year);
    EXPECT_EQ(back.month, p.month);
    EXPECT_EQ(back.day, p.day);
    EXPECT_EQ(back.hour, p.hour);
    EXPECT_EQ(back.minute, p.minute);
    EXPECT_EQ(back.second, p.second);
  }
  EXPECT_TRUE(is_leap_year(2000));
  EXPECT_FALSE(is_leap_year(1900));
  EXPECT_TRUE(is_leap_year(2012));
  EXPECT_FALSE(is_leap_year(2013));
  EXPECT_EQ(days_in_month(1900, 2), 28);
  EXPECT_EQ(days_in_month(2000, 2), 29);
  DateTimeParts p;
  EXPECT_FALSE(datetime_to_parts(NAN, &p));
  EXPECT_FALSE(datetime_to_parts(1e300, &p));
}

TEST(DateTimeText, Forms) {
  struct Case {
    double value;
    const char* expected;
  };
  const Case cases[] = {
      {k22Oct2012, "2012年10月22日"},
      {k22Oct2012 + 10 * kHour, "2012年10月22日10时"},
      {-1.25, "1899年12月29日6时"},
      {0, "1899年12月30日"},
      // Half a second before midnight rounds to the next day, not to hour 24.
      {k22Oct2012 + (86400 - 0.4) / 86400, "2012年10月23日"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_STREQ(datetime_to_text(c.value).c_str(), c.expected);
  }
  EXPECT_EQ(datetime_to_text(NAN).get(), nullptr);
}

TEST(DateTimeDiff, EveryUnit) {
  const double a = k22Oct2012 + 10.5 * kHour;  // 2012-10-22 10:30
  const double b = 40908;                      // 2011-12-31 00:00
  struct Case {
    int unit;
    double forward;  // a - b
  };
  const Case cases[] = {
      {1, 1},      {2, 4},      {3, 10},       {4, 43}, {5, 296.4375},
      {6, 7114.5}, {7, 426870}, {8, 25612200}, {0, 0},  {9, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "unit " << c.unit);
    EXPECT_DOUBLE_EQ(datetime_diff(a, b, c.unit), c.forward);
    // The other way round is the same amount with the other sign.
    EXPECT_DOUBLE_EQ(datetime_diff(b, a, c.unit), c.forward == 0 ? 0 : -c.forward);
  }
}

TEST(DateTimeDiff, SecondsSinceTheUpdateEpochAndQuarterSigns) {
  const double epoch = to_datetime("1970-01-01 08:00:00");
  const double one_later = to_datetime("1970-01-01 08:00:01");
  EXPECT_NEAR(datetime_diff(one_later, epoch, 8), 1.0, 1e-6);
  EXPECT_EQ(std::llround(datetime_diff(one_later, epoch, 8)), 1);
  // One month apart is one started quarter, in either direction.
  const double jan = to_datetime("2012-01-15");
  const double feb = to_datetime("2012-02-15");
  EXPECT_EQ(datetime_diff(feb, jan, 2), 1);
  EXPECT_EQ(datetime_diff(jan, feb, 2), -1);
  EXPECT_EQ(datetime_diff(feb, feb, 2), 0);
  // Three months is exactly one quarter.
  EXPECT_EQ(datetime_diff(to_datetime("2012-04-15"), jan, 2), 1);
}

TEST(DateTimeDiff, BeforeDayZeroDifferencesAreTimeElapsed) {
  // 29 December 1899 06:00 (-1.25) to 30 December 1899 00:00 (0) is 18 hours.
  EXPECT_DOUBLE_EQ(datetime_diff(0, -1.25, 6), 18);
  // 28 December 1899 12:00 (-2.5) to 29 December 1899 06:00 (-1.25) is 18 hours too.
  EXPECT_DOUBLE_EQ(datetime_diff(-1.25, -2.5, 6), 18);
  EXPECT_DOUBLE_EQ(datetime_diff(1.5, -1.25, 5), 2.25);
}

TEST(Now, IsTheLocalTimeToTheSecond) {
  SYSTEMTIME before;
  GetLocalTime(&before);
  const double n = now();
  DateTimeParts p;
  ASSERT_TRUE(datetime_to_parts(n, &p));
  const double seconds = n * 86400;
  EXPECT_NEAR(seconds, std::round(seconds), 1e-3) << "milliseconds are dropped";
  const double expected = datetime_from_parts(
      {before.wYear, before.wMonth, before.wDay, before.wHour, before.wMinute, before.wSecond});
  EXPECT_NEAR(datetime_diff(n, expected, 8), 0, 2);
}

}  // namespace
