// start_grid_error: how far the window grid of a run lies from where its
// start time says it should, in input samples, for every input format at the
// usual sampling rates and for starts up to a year after the reference time.
// For each rate it steps the start through every whole second after the
// reference time (1 January 2026, 00:00:00) as far as the format lets it lie
// (a year for the text formats and NIMS binary, whose reference the user
// chooses; for QEL the day its day number counts from: 1 January up to
// 1000 Hz, the first of the previous month up to 40000 Hz, the start day
// above) and compares the start sample c the run reports with the exact
// one, the whole seconds after the reference times the rate in hertz. Prints
// a Markdown table: the worst error, in input samples, of the
// single-precision start up to a day, 31 days and the farthest start, the
// first start at which it exceeds a tenth of a sample, and the worst error
// of the start the run uses now.
//
//   build/start_grid_error            (about a minute)
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "common/error.hpp"
#include "common/program_entry.hpp"
#include "driver/start_sample.hpp"
#include "input/time_count.hpp"

namespace {

constexpr std::int64_t kDay = 86400;

struct Worst {
  double day = 0, month = 0, year = 0, fixed = 0;  // year: up to the farthest start
  std::int64_t first_beyond = -1;  // seconds after the reference, -1: never
};

// The calendar one second on, with the month lengths the day count uses.
void next_second(qv::DateTime& t) {
  static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (++t[5] < 60) return;
  t[5] = 0;
  if (++t[4] < 60) return;
  t[4] = 0;
  if (++t[3] < 24) return;
  t[3] = 0;
  const int len = days[t[1] - 1] + (t[1] == 2 && t[0] % 4 == 0 ? 1 : 0);
  if (++t[2] <= len) return;
  t[2] = 1;
  if (++t[1] <= 12) return;
  t[1] = 1;
  ++t[0];
}

void note(Worst& w, std::int64_t s, double err, double fixed_err) {
  const double e = std::fabs(err);
  if (s <= kDay) w.day = std::fmax(w.day, e);
  if (s <= 31 * kDay) w.month = std::fmax(w.month, e);
  w.year = std::fmax(w.year, e);
  w.fixed = std::fmax(w.fixed, std::fabs(fixed_err));
  if (w.first_beyond < 0 && e > 0.1) w.first_beyond = s;
}

// Text formats and NIMS binary: the interval dr as the header writes it
// (the decimal 1/rate read into single precision), the clock fields one
// second apart.
Worst text_sweep(double rate, std::int64_t span) {
  char text[32];
  std::snprintf(text, sizeof text, "%.10g", 1.0 / rate);
  const float dr = std::strtof(text, nullptr);
  const float sampfreq = 1.0f / dr;
  const qv::DateTime ref{2026, 1, 1, 0, 0, 0};
  qv::DateTime start = ref;
  Worst w;
  for (std::int64_t s = 0; s <= span; ++s, next_second(start)) {
    const qv::StartTime t{qv::time_int(start, ref), qv::exact_time_int(start, ref), dr};
    const double exact = static_cast<double>(s) * rate;
    note(w, s, qv::described_start_sample(t.time_int, sampfreq) - exact,
         qv::settle_start_sample(t, sampfreq).c - exact);
  }
  return w;
}

// QEL binary: the header's count is whole microseconds already; a start
// 0.5 s past each whole second stands for the time stamp and filter delay.
Worst qel_sweep(double rate, std::int64_t span) {
  const float sampfreq = static_cast<float>(rate);
  Worst w;
  for (std::int64_t s = 0; s <= span; ++s) {
    const std::int64_t us = s * 1000000 + 500000;
    const double exact = (static_cast<double>(s) + 0.5) * rate;
    note(w, s, qv::described_start_sample(us, sampfreq) - exact,
         qv::settle_start_sample(qv::StartTime{us, us, 1.0f / sampfreq}, sampfreq).c - exact);
  }
  return w;
}

std::string distance(std::int64_t s) {
  if (s < 0) return "never";
  char b[64];
  if (s < 3600) std::snprintf(b, sizeof b, "%lld s", static_cast<long long>(s));
  else if (s < kDay) std::snprintf(b, sizeof b, "%.1f h", s / 3600.0);
  else std::snprintf(b, sizeof b, "%.1f d", s / double(kDay));
  return b;
}

void row(const char* format, double rate, const char* reference, const Worst& w, std::int64_t span) {
  auto cell = [](double v) {
    char b[32];
    std::snprintf(b, sizeof b, v < 0.01 ? "%.2g" : "%.2f", v);
    return std::string(b);
  };
  std::printf("| %s | %g | %s | %s | %s | %s | %s | %s | %.2g |\n", format, rate, reference, distance(span).c_str(),
              cell(w.day).c_str(), span > kDay ? cell(w.month).c_str() : "–", cell(w.year).c_str(),
              distance(w.first_beyond).c_str(), w.fixed);
}

void print_table() {
  std::printf("| format | rate (Hz) | reference time | farthest start | worst error, 1 day | 31 days | farthest "
              "| beyond 0.1 sample from | worst error now |\n");
  std::printf("|---|---|---|---|---|---|---|---|---|\n");
  const std::int64_t year = 366 * kDay;
  for (double rate : {1.0, 10.0, 32.0, 62.5, 128.0, 256.0, 500.0, 1000.0, 4000.0})
    row("text (-A, -a, -N, -KA, -ka)", rate, "the clock-reset lines", text_sweep(rate, year), year);
  for (double rate : {1.0, 8.0})
    row("NIMS binary (-B)", rate, "the header's reference time", text_sweep(rate, year), year);
  for (double rate : {1.0, 2.0, 10.0, 32.0, 62.5, 128.0, 256.0, 500.0, 1000.0})
    row("QEL binary", rate, "1 January", qel_sweep(rate, year), year);
  for (double rate : {2000.0, 4000.0, 8000.0, 20000.0})
    row("QEL binary", rate, "1st of the previous month", qel_sweep(rate, 62 * kDay), 62 * kDay);
  for (double rate : {40000.0, 48000.0})
    row("QEL binary", rate, "the start day", qel_sweep(rate, kDay), kDay);
}

}  // namespace

int main(int argc, char** argv) {
  static constexpr const char* kUsage =
      "usage: start_grid_error\n"
      "Prints, as a Markdown table, how far the single-precision start time puts the\n"
      "window grid from its exact place (input samples) for every input format at the\n"
      "usual rates, starts up to a year after the reference time, and how far the\n"
      "start the run uses lies from it.\n"
      "  -h, --help   this text\n"
      "  --version    the version\n";
  const std::vector<std::string> args(argv + 1, argv + argc);
  return qv::guarded_main({"start_grid_error", kUsage}, args, std::cout, std::cerr, [&] {
    if (!args.empty()) throw qv::Error("unexpected argument '" + args[0] + "'; the program takes none");
    print_table();
    return 0;
  });
}
