#include "driver/progress.hpp"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <string>

#if __has_include(<unistd.h>)
#include <unistd.h>
#define QV_HAVE_ISATTY 1
#endif

namespace qv {

namespace {

// A quarter of a second between updates: fast enough to see the run move,
// slow enough to cost nothing and not to flicker.
constexpr std::chrono::milliseconds kUpdateEvery{250};

}  // namespace

bool is_terminal(const std::ostream& os) {
#ifdef QV_HAVE_ISATTY
  if (&os == &std::cerr || &os == &std::clog) return isatty(STDERR_FILENO) == 1;
  if (&os == &std::cout) return isatty(STDOUT_FILENO) == 1;
#endif
  (void)os;
  return false;
}

void progress_start(RunProgress& p, std::ostream& err, bool terminal, int set_limit) {
  p.samples = 0;
  p.first_index = p.last_index = 0;
  p.set_limit = set_limit;
  p.terminal = terminal ? &err : nullptr;
  p.read = {};
  p.started = std::chrono::steady_clock::now();
  p.next_update = p.started + kUpdateEvery;
  p.shown = 0;
}

void progress_block(RunProgress& p, const SampleBlock& blk, std::int64_t nsets, ReadExtent read) {
  if (blk.npts <= 0) return;
  if (p.samples == 0) p.first_index = blk.index[0];
  p.last_index = blk.index[blk.npts - 1];
  p.samples += blk.npts;
  p.read = read;
  // One clock reading per block of at most 256 samples, and only for a terminal.
  if (p.terminal) progress_update(p, nsets, std::chrono::steady_clock::now());
}

void progress_update(RunProgress& p, std::int64_t nsets, std::chrono::steady_clock::time_point now) {
  if (!p.terminal || now < p.next_update) return;
  p.next_update = now + kUpdateEvery;
  std::string line = std::string("qel_vort: ") + std::to_string(p.samples) + " samples processed, " +
                     std::to_string(nsets) + " windows stored";
  if (p.set_limit > 0) line += " (set limit " + std::to_string(p.set_limit) + ")";
  line += progress_share(p.read, std::chrono::duration<double>(now - p.started).count());
  const std::size_t length = line.size();
  // Blanks over the rest of a longer earlier line; the cursor goes back to
  // the line start, so console lines written meanwhile overwrite it.
  if (p.shown > length) line.append(p.shown - length, ' ');
  *p.terminal << '\r' << line << '\r' << std::flush;
  p.shown = length;
}

namespace {

// A duration in whole seconds as a person reads it: "45 s", "1 min 10 s",
// "2 h 05 min".
std::string duration_text(std::int64_t s) {
  char text[40];
  if (s < 60) {
    std::snprintf(text, sizeof text, "%lld s", static_cast<long long>(s));
  } else if (s < 3600) {
    std::snprintf(text, sizeof text, "%lld min %lld s", static_cast<long long>(s / 60),
                  static_cast<long long>(s % 60));
  } else {
    std::snprintf(text, sizeof text, "%lld h %02lld min", static_cast<long long>(s / 3600),
                  static_cast<long long>(s / 60 % 60));
  }
  return text;
}

}  // namespace

std::string progress_share(ReadExtent read, double elapsed_seconds) {
  if (read.whole <= 0) return "";
  const std::int64_t done = std::clamp<std::int64_t>(read.done, 0, read.whole);
  const double share = double(done) / double(read.whole);
  char text[24];
  std::snprintf(text, sizeof text, ", %3d %%", static_cast<int>(100 * done / read.whole));
  std::string out = text;
  // The rate of the first second is mostly set-up; none is guessed before.
  if (done > 0 && done < read.whole && elapsed_seconds >= 1.0) {
    const double left = elapsed_seconds * (1.0 - share) / share;
    out += ", " + duration_text(static_cast<std::int64_t>(left + 0.5)) + " left";
  }
  return out;
}

void progress_end(RunProgress& p) {
  if (!p.terminal) return;
  if (p.shown > 0) *p.terminal << '\r' << std::string(p.shown, ' ') << '\r' << std::flush;
  p.shown = 0;
  p.terminal = nullptr;
}

}  // namespace qv
