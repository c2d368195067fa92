// Date-time arithmetic and texts, portable (the clock is in datetime_win.cpp).
//
// Calendar days are counted with the civil-from-days / days-from-civil conversions over 64-bit
// day numbers, which are proleptic Gregorian for every year, so there is no table of years to
// walk and no special case around 1900. A value is split into its integer day number and its
// fraction; for negative values the fraction is time of day in magnitude, which is why
// differences are taken on a linear scale (linear_days) rather than by subtracting raw values.
#include "runtime/datetime.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace tambrel {
namespace {

int64_t days_from_civil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void civil_from_days(int64_t z, int64_t* year, int* month, int* day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *year = yoe + era * 400 + (*month <= 2);
}

const int64_t kDay0 = days_from_civil(1899, 12, 30);

// Days as a plain number line: -1.25 (29 December 1899, 06:00) is -0.75.
double linear_days(double v) {
  if (v >= 0) return v;
  const double day = std::trunc(v);
  return day + (day - v);
}

// Beyond this many days from day 0 the year no longer fits an int; no real date gets there.
constexpr double kMaxDays = 365.0 * 500'000'000.0;

}  // namespace

bool is_leap_year(int64_t year) { return year % 400 == 0 || (year % 4 == 0 && year % 100 != 0); }

int days_in_month(int64_t year, int month) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && is_leap_year(year) ? 29 : days[month - 1];
}

double datetime_from_parts(const DateTimeParts& p) {
  const double f = (p.hour * 3600.0 + p.minute * 60.0 + p.second) / 86400.0;
  const int64_t day = days_from_civil(p.year, p.month, p.day) - kDay0;
  return day >= 0 ? static_cast<double>(day) + f : static_cast<double>(day) - f;
}

bool datetime_to_parts(double value, DateTimeParts* parts) {
  if (!std::isfinite(value) || std::fabs(value) > kMaxDays) return false;
  const double day = std::trunc(value);
  int64_t seconds = static_cast<int64_t>(std::fabs(value - day) * 86400.0 + 0.5);
  int64_t calendar_day = kDay0 + static_cast<int64_t>(day);
  // A fraction that rounds to a whole day is midnight of the next day, not hour 24.
  if (seconds >= 86400) {
    seconds -= 86400;
    calendar_day += 1;
  }
  int64_t year;
  civil_from_days(calendar_day, &year, &parts->month, &parts->day);
  parts->year = static_cast<int>(year);
  parts->hour = static_cast<int>(seconds / 3600);
  parts->minute = static_cast<int>(seconds % 3600 / 60);
  parts->second = static_cast<int>(seconds % 60);
  return true;
}

Text datetime_to_text(double value) {
  DateTimeParts p;
  if (!datetime_to_parts(value, &p)) return {};
  char buffer[260];
  int n = std::snprintf(buffer, sizeof buffer, "%d年%d月%d日", p.year, p.month, p.day);
  const size_t used = n > 0 ? static_cast<size_t>(n) : 0;
  char* rest = buffer + used;
  const size_t room = sizeof buffer - used;
  if (p.second) {
    std::snprintf(rest, room, "%d时%d分%d秒", p.hour, p.minute, p.second);
  } else if (p.minute) {
    std::snprintf(rest, room, "%d时%d分", p.hour, p.minute);
  } else if (p.hour) {
    std::snprintf(rest, room, "%d时", p.hour);
  }
  return Text(buffer);
}

double parse_datetime(const char* text) {
  const size_t len = text_length(text);
  if (len <= 7) return DATETIME_INVALID;

  int64_t field[6] = {};
  int present = 0;
  bool all_digits = true;
  for (size_t i = 0; i < len && all_digits; ++i) all_digits = text[i] >= '0' && text[i] <= '9';

  if (all_digits) {
    // Compact form: a 4-digit year, then 2 digits a field. More than the six fields hold is
    // not a date-time.
    if (len > 14) return DATETIME_INVALID;
    for (size_t i = 0; i < len; ++i) {
      const size_t k = i < 4 ? 0 : 1 + (i - 4) / 2;
      field[k] = field[k] * 10 + (text[i] - '0');
      present = static_cast<int>(k) + 1;
    }
  } else {
    static const char* const kMarkers[6] = {"年", "月", "日", "时", "分", "秒"};
    int k = 0;            // the field being read
    bool digits = false;  // the current field has digits
    bool chinese_year = false;
    char date_separator = 0, time_separator = 0;
    for (size_t i = 0; i < len;) {
      const unsigned char c = static_cast<unsigned char>(text[i]);
      if (c >= '0' && c <= '9') {
        // A seventh field, or a field too long for any date, is not a date-time.
        if (k >= 6 || field[k] > 99'999'999) return DATETIME_INVALID;
        field[k] = field[k] * 10 + (c - '0');
        digits = true;
        ++i;
        continue;
      }
      if (c & 0x80) {
        // Only the markers, each closing its own field in order, and never first.
        if (i == 0 || i + 1 >= len || k >= 6 || std::memcmp(text + i, kMarkers[k], 2) != 0) {
          return DATETIME_INVALID;
        }
        if (k == 0) chinese_year = true;
        ++k;
        digits = false;
        i += 2;
        continue;
      }
      if (chinese_year) return DATETIME_INVALID;
      bool ok = false;
      switch (k) {
        case 0:
          ok = c == '-' || c == '.' || c == '/';
          date_separator = static_cast<char>(c);
          break;
        case 1:
          ok = c == static_cast<unsigned char>(date_separator);
          break;
        case 2:
          ok = c == ' ' || c == '-' || c == '/';
          break;
        case 3:
          ok = c == '-' || c == '/' || c == ':';
          time_separator = static_cast<char>(c);
          break;
        case 4:
          ok = c == static_cast<unsigned char>(time_separator);
          break;
        default:
          break;  // nothing closes the second
      }
      if (!ok) return DATETIME_INVALID;
      ++k;
      digits = false;
      ++i;
    }
    present = k + (digits ? 1 : 0);
  }

  // A date needs its day: without one, "2012年10月" would turn into 30 September.
  if (present < 3) return DATETIME_INVALID;
  const DateTimeParts p{static_cast<int>(field[0]), static_cast<int>(field[1]),
                        static_cast<int>(field[2]), static_cast<int>(field[3]),
                        static_cast<int>(field[4]), static_cast<int>(field[5])};
  if (p.year == 0 || p.month < 1 || p.month > 12) return DATETIME_INVALID;
  if (p.day < 1 || p.day > days_in_month(p.year, p.month)) return DATETIME_INVALID;
  if (p.hour > 23 || p.minute > 59 || p.second > 59) return DATETIME_INVALID;
  return datetime_from_parts(p);
}

double to_datetime(const ArgValue& value) {
  switch (value.tag) {
    case TYPE_DATETIME:
    case TYPE_LONG:
    case TYPE_DOUBLE:
      return value.value.f64;
    case TYPE_TEXT:
      return parse_datetime(static_cast<const char*>(value.value.ptr));
    default:
      return DATETIME_INVALID;
  }
}

namespace {

// x / 7, rounded away from zero when it has a fraction.
double whole_weeks(double day_number) {
  const double w = day_number / 7.0;
  return w >= 0 ? std::ceil(w) : std::floor(w);
}

}  // namespace

double datetime_diff(double a, double b, int unit) {
  if (unit >= 1 && unit <= 3) {
    DateTimeParts pa, pb;
    if (!datetime_to_parts(a, &pa) || !datetime_to_parts(b, &pb)) return 0;
    const double years = static_cast<double>(pa.year) - pb.year;
    const double months = years * 12 + (pa.month - pb.month);
    switch (unit) {
      case 1:
        return years;
      case 2: {
        // Whole quarters, a started quarter counting in full, the same in both directions
        // (a count of -1 month is -1 quarter, as +1 month is +1).
        const double q = months / 3.0;
        return q >= 0 ? std::ceil(q) : std::floor(q);
      }
      default:
        return months;
    }
  }
  const double days = linear_days(a) - linear_days(b);
  switch (unit) {
    case 4:
      return whole_weeks(std::trunc(a)) - whole_weeks(std::trunc(b));
    case 5:
      return days;
    case 6:
      return days * 86400.0 / 3600.0;
    case 7:
      return days * 86400.0 / 60.0;
    case 8:
      return days * 86400.0;
    default:
      return 0;
  }
}

}  // namespace tambrel
