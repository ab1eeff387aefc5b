#include "input/time_count.hpp"

#include <cmath>
#include <cstdint>
#include <string>

#include "common/error.hpp"
#include "common/utc_time.hpp"

namespace qv {

namespace {

constexpr int kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

bool leap(int year) { return year % 4 == 0; }

// Days of the months before `month` in `year`.
int days_before_month(int year, int month) {
  int days = 0;
  for (int m = 1; m < month; ++m) days += kMonthDays[m - 1] + ((m == 2 && leap(year)) ? 1 : 0);
  return days;
}

void check_date(const DateTime& t, const char* what) {
  if (t[1] < 1 || t[1] > 12)
    throw Error(std::string("the ") + what + " has month " + std::to_string(t[1]) + ", expected 1 to 12");
  if (t[0] < 0 || t[0] > 9999)
    throw Error(std::string("the ") + what + " has year " + std::to_string(t[0]) + ", expected 0 to 9999");
}

}  // namespace

std::int64_t day_count(const DateTime& start, const DateTime& ref) {
  check_date(start, "start time");
  check_date(ref, "reference time");
  std::int64_t d = 0;
  for (int y = ref[0]; y < start[0]; ++y) d += leap(y) ? 366 : 365;
  // The day fields are not checked: any 32-bit value counts in 64 bits.
  d += days_before_month(start[0], start[1]) + std::int64_t(start[2]);
  d -= std::int64_t(ref[2]) + days_before_month(ref[0], ref[1]);
  return d;
}

std::int64_t time_int(const DateTime& start, const DateTime& ref) {
  const std::int64_t d = day_count(start, ref);
  // Differences in 64 bits: any 32-bit clock fields give a finite result.
  const std::int64_t dh = std::int64_t(start[3]) - ref[3];
  const std::int64_t dm = std::int64_t(start[4]) - ref[4];
  const std::int64_t ds = std::int64_t(start[5]) - ref[5];
  // Minutes in double precision, truncated toward zero.
  const auto minutes = static_cast<std::int64_t>((static_cast<double>(d) * 24.0 + dh) * 60.0 + dm);
  // Seconds and microseconds in single precision, as the clock-reset values
  // have always been reduced.
  const float seconds_f = static_cast<float>(minutes) * 60.0f + static_cast<float>(ds);
  const auto seconds = static_cast<std::int64_t>(seconds_f);
  const float micro_f = static_cast<float>(seconds) * 1.0e6f;
  if (!(std::fabs(micro_f) < 9.0e18f))
    throw Error("the start time lies too far from the reference time for a microsecond count");
  return static_cast<std::int64_t>(micro_f);
}

std::int64_t exact_time_int(const DateTime& start, const DateTime& ref) {
  const std::int64_t d = day_count(start, ref);
  const std::int64_t dh = std::int64_t(start[3]) - ref[3];
  const std::int64_t dm = std::int64_t(start[4]) - ref[4];
  const std::int64_t ds = std::int64_t(start[5]) - ref[5];
  // Day, hour, minute and second fields are 32-bit values and the years
  // 0 to 9999: the second count stays below 2^50.
  const std::int64_t seconds = ((d * 24 + dh) * 60 + dm) * 60 + ds;
  constexpr std::int64_t kLimit = INT64_MAX / 1000000;
  if (seconds > kLimit || seconds < -kLimit)
    throw Error("the start time lies too far from the reference time for a microsecond count");
  return seconds * 1000000;
}

void set_recording_clock(const DateTime& start, const DateTime& ref, RecordingClock& clock) {
  const auto seconds = [](const DateTime& t) { return unix_seconds(t[0], t[1], t[2], t[3], t[4], t[5]); };
  clock.known = true;
  clock.reference_unix_s = seconds(ref);
  clock.start_after_reference_s = static_cast<double>(seconds(start) - clock.reference_unix_s);
  clock.has_fields = true;
  clock.start_fields = start;
  clock.reference_fields = ref;
}

}  // namespace qv
