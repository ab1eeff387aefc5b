#include "driver/start_sample.hpp"

#include <cmath>

#include "common/sample_interval.hpp"

namespace qv {

namespace {

// A tenth of a sample: the phase correction refers every window to its grid
// start, so a grid that lies this close to the true one moves the
// coefficients' time reference by less than the timing of a recorder's
// clock (a few microseconds to a fraction of a sample at 4000 Hz) and
// pairs with another station's windows as well as an exact one. Within it
// the described count is kept, so results that were right stay the same
// to the byte; beyond it (text and NIMS recordings hours to days from
// their reference at the usual rates, QEL recordings above 1 Hz, whose
// count runs from the start of the year or of the previous month) the
// grid would sit whole samples, at 4000 Hz a month out hundreds of them,
// off the time it names.
constexpr double kKeptError = 0.1;

}  // namespace

double described_start_sample(std::int64_t time_int, float sampfreq) {
  const float per_microsecond = sampfreq / 1.0e6f;
  return static_cast<double>(time_int) * static_cast<double>(per_microsecond);
}

double exact_start_sample(std::int64_t time_int, double rate) {
  // Whole seconds and the microseconds left over (same sign). For a rate of
  // 24 significant bits (whole numbers of hertz, 62.5 Hz) s x rate is exact
  // while s has fewer than 29 bits (17 years) and the remainder times the
  // rate too (20 + 24 bits); then the division and the sum round once each.
  // Any other rate adds a rounding of each product: a few units in the last
  // place of c in all.
  const std::int64_t s = time_int / 1000000;
  const std::int64_t u = time_int % 1000000;
  return static_cast<double>(s) * rate + static_cast<double>(u) * rate / 1.0e6;
}

StartSample settle_start_sample(const StartTime& t, float sampfreq) {
  StartSample out;
  out.c_exact = exact_start_sample(t.time_int_exact, nominal_rate(t.dr));
  const double described = described_start_sample(t.time_int, sampfreq);
  out.exact = !(std::fabs(described - out.c_exact) <= kKeptError);
  out.time_int = out.exact ? t.time_int_exact : t.time_int;
  out.c = out.exact ? out.c_exact : described;
  return out;
}

}  // namespace qv
