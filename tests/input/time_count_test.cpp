#include <gtest/gtest.h>

#include <chrono>

#include "common/error.hpp"
#include "input/time_count.hpp"

namespace qv {
namespace {

// Days between two dates by the standard library's proleptic calendar, which
// agrees with the divisible-by-4 rule between 1901 and 2099.
std::int64_t chrono_days(const DateTime& start, const DateTime& ref) {
  using namespace std::chrono;
  auto days_of = [](const DateTime& t) {
    return sys_days(year(t[0]) / month(unsigned(t[1])) / day(unsigned(t[2])));
  };
  return (days_of(start) - days_of(ref)).count();
}

TEST(DayCount, AgreesWithTheCalendarBetween1901And2099) {
  const DateTime refs[] = {{1901, 1, 1, 0, 0, 0}, {1999, 12, 31, 0, 0, 0}, {2016, 2, 29, 0, 0, 0},
                           {2018, 5, 18, 0, 0, 0}};
  const DateTime starts[] = {{2000, 1, 1, 0, 0, 0}, {2000, 3, 1, 0, 0, 0}, {2016, 3, 1, 0, 0, 0},
                             {2018, 5, 18, 0, 0, 0}, {2019, 2, 28, 0, 0, 0}, {2096, 12, 31, 0, 0, 0}};
  for (const auto& r : refs)
    for (const auto& s : starts) {
      if (r[0] > s[0]) continue;  // a later reference year has its own rule (below)
      EXPECT_EQ(day_count(s, r), chrono_days(s, r)) << s[0] << "-" << s[1] << "-" << s[2] << " from " << r[0]
                                                      << "-" << r[1] << "-" << r[2];
    }
}

TEST(DayCount, EveryYearDivisibleByFourIsALeapYear) {
  // 1900 and 2100 count as leap years: 28 February to 1 March is two days.
  EXPECT_EQ(day_count({1900, 3, 1, 0, 0, 0}, {1900, 2, 28, 0, 0, 0}), 2);
  EXPECT_EQ(day_count({2101, 1, 1, 0, 0, 0}, {2100, 1, 1, 0, 0, 0}), 366);
}

TEST(DayCount, AReferenceYearAfterTheStartYearAddsNoYearTerm) {
  // Only the days within each year count: 31 Dec 2017 against 1 Jan 2018
  // gives 364, not -1.
  EXPECT_EQ(day_count({2017, 12, 31, 0, 0, 0}, {2018, 1, 1, 0, 0, 0}), 364);
}

TEST(DayCount, RefusesMonthsOutsideTheYear) {
  EXPECT_THROW(day_count({2018, 13, 1, 0, 0, 0}, {2018, 1, 1, 0, 0, 0}), Error);
  EXPECT_THROW(day_count({2018, 1, 1, 0, 0, 0}, {2018, 0, 1, 0, 0, 0}), Error);
}

TEST(TimeInt, MicrosecondsCarryTheSinglePrecisionSteps) {
  const DateTime ref{2018, 5, 18, 1, 0, 0};
  EXPECT_EQ(time_int(ref, ref), 0);
  EXPECT_EQ(time_int({2018, 5, 19, 1, 0, 0}, ref), 86'400'000'000LL);
  // 86401 s times 10^6 rounded to single precision (steps of 8192 us).
  EXPECT_EQ(time_int({2018, 5, 19, 1, 0, 1}, ref), 86'400'999'424LL);
  EXPECT_EQ(time_int({2018, 5, 18, 1, 0, 1}, ref), 1'000'000);
  EXPECT_EQ(time_int({2018, 5, 18, 0, 59, 59}, ref), -1'000'000);
  // Hours and minutes enter through the minute count: 1 h 30 min.
  EXPECT_EQ(time_int({2018, 5, 18, 2, 30, 0}, ref), 5'400'000'000LL);
}

}  // namespace
}  // namespace qv
