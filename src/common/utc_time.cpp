#include "common/utc_time.hpp"

#include <cmath>
#include <cstdio>

namespace qv {

namespace {

// Floor division for a negative numerator too.
std::int64_t floor_div(std::int64_t a, std::int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// The calendar date of a day count since 1970-01-01 (H. Hinnant's
// civil_from_days, the inverse of days_from_civil).
void civil_from_days(std::int64_t z, std::int64_t& y, int& m, int& d) {
  z += 719468;
  const std::int64_t era = floor_div(z, 146097);
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = yoe + era * 400 + (m <= 2 ? 1 : 0);
}

}  // namespace

std::int64_t days_from_civil(std::int64_t y, int m) {
  // H. Hinnant's days_from_civil for day 1 of the month.
  y -= m <= 2 ? 1 : 0;
  const std::int64_t era = floor_div(y, 400);
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

std::int64_t unix_seconds(std::int64_t year, int month, std::int64_t day, std::int64_t hour, std::int64_t minute,
                          std::int64_t second) {
  return (days_from_civil(year, month) + day - 1) * 86400 + hour * 3600 + minute * 60 + second;
}

std::string iso_utc(std::int64_t unix_s, double fraction, int decimals) {
  decimals = decimals < 0 ? 0 : decimals > 9 ? 9 : decimals;
  const double scale = std::pow(10.0, decimals);
  // The fraction rounded to the digits shown, carried into the seconds.
  double ticks = std::round(fraction * scale);
  const double whole = std::floor(ticks / scale);
  unix_s += static_cast<std::int64_t>(whole);
  ticks -= whole * scale;
  const std::int64_t days = floor_div(unix_s, 86400);
  const std::int64_t sod = unix_s - days * 86400;
  std::int64_t y = 0;
  int m = 0, d = 0;
  civil_from_days(days, y, m, d);
  char buf[64];
  int n = std::snprintf(buf, sizeof buf, "%04lld-%02d-%02dT%02d:%02d:%02d", static_cast<long long>(y), m, d,
                        static_cast<int>(sod / 3600), static_cast<int>(sod / 60 % 60), static_cast<int>(sod % 60));
  if (decimals > 0)
    n += std::snprintf(buf + n, sizeof buf - n, ".%0*lld", decimals, static_cast<long long>(ticks));
  std::snprintf(buf + n, sizeof buf - n, "Z");
  return buf;
}

}  // namespace qv
