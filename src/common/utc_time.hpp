// Civil times of a recording's clock as seconds since 1970-01-01T00:00:00
// UTC (the proleptic Gregorian calendar, no leap seconds, as Unix time
// counts), and back as ISO 8601 text: the metadata file states every time
// both ways, so that any reader can use either.
#pragma once

#include <cstdint>
#include <string>

namespace qv {

// Days from 1970-01-01 to the first day of `month` (1..12) of `year`.
std::int64_t days_from_civil(std::int64_t year, int month);

// Seconds since 1970 of a calendar time whose day, hour, minute and second
// may lie outside their usual ranges (day 32 of January is 1 February);
// month is 1..12.
std::int64_t unix_seconds(std::int64_t year, int month, std::int64_t day, std::int64_t hour, std::int64_t minute,
                          std::int64_t second);

// ISO 8601 UTC text of whole seconds since 1970 plus a fraction of a second
// (0 <= fraction < 1 after carrying), with `decimals` (0..9) digits of the
// fraction: "2026-01-02T03:04:05.250000Z". fraction may be any finite value;
// whole seconds in it are carried.
std::string iso_utc(std::int64_t unix_s, double fraction, int decimals);

}  // namespace qv
