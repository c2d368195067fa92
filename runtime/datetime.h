// Date-time values: the automation date convention. The integer part counts days from
// 30 December 1899 (day 0), the fraction is the time of day; before day 0 the value is
// negative and its fraction still adds time of day in magnitude (-1.25 is 29 December 1899,
// 06:00). Calendar arithmetic is proleptic Gregorian. A failed conversion gives
// DATETIME_INVALID (1 January 100, 00:00:00).
#pragma once

#include <cstdint>

#include "runtime/values.h"

namespace tambrel {

constexpr double DATETIME_INVALID = -657434.0;

struct DateTimeParts {
  int year, month, day, hour, minute, second;
};

bool is_leap_year(int64_t year);
int days_in_month(int64_t year, int month);

// No validation: callers pass a valid date and time of day.
double datetime_from_parts(const DateTimeParts& parts);
// Calendar date and time of day (seconds rounded) of a value; false when the value is not a
// finite date the calendar can hold.
bool datetime_to_parts(double value, DateTimeParts* parts);

// "%d年%d月%d日" followed by "%d时%d分%d秒", "%d时%d分" or "%d时" as far as the time is
// non-zero; null for a value outside the calendar.
Text datetime_to_text(double value);

// Parses the Chinese form ("2012年10月22日10时30分"), the separator form ("2012-10-22
// 10:30:00", "2012.10.22", "2012/10/22 10-30") and the compact form ("20121022103000").
// DATETIME_INVALID unless the whole text is a valid date-time.
double parse_datetime(const char* text);

// Date-time, long and double values pass through as their 8 bytes; texts are parsed; every
// other tag gives DATETIME_INVALID.
double to_datetime(const ArgValue& value);
inline double to_datetime(const char* text) { return parse_datetime(text); }

// a - b in a unit: 1 years, 2 quarters, 3 months, 4 weeks, 5 days, 6 hours, 7 minutes,
// 8 seconds; any other unit 0.
double datetime_diff(double a, double b, int unit);

// The current local date-time, to the second.
double now();

}  // namespace tambrel
