#include "driver/progress.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

namespace qv {
namespace {

using Clock = std::chrono::steady_clock;

int updates(const std::string& s) {
  int n = 0;
  for (std::size_t at = s.find("qel_vort:"); at != std::string::npos; at = s.find("qel_vort:", at + 1)) ++n;
  return n;
}

// A log or a pipe gets nothing, however long the run; the samples are
// counted all the same for the summary.
TEST(Progress, NothingWithoutATerminal) {
  std::ostringstream err;
  auto blk = std::make_unique<SampleBlock>();
  blk->npts = 256;
  RunProgress p;
  progress_start(p, err, false, 600);
  const Clock::time_point t0 = Clock::now();
  for (int b = 0; b < 4000; ++b) {
    for (int r = 0; r < 256; ++r) blk->index[r] = 1 + 256 * b + r;  // numbered from 1, as NIMS scans
    progress_block(p, *blk, b / 10);
    progress_update(p, b / 10, t0 + std::chrono::seconds(b));
  }
  progress_end(p);
  EXPECT_EQ(err.str(), "");
  EXPECT_EQ(p.samples, 4000 * 256);
  EXPECT_EQ(p.first_index, 1);
  EXPECT_EQ(p.last_index, 4000 * 256);
  EXPECT_FALSE(is_terminal(err));
}

// Ten seconds of blocks a millisecond apart: at most four updates a second,
// each rewriting the one line, which the end clears.
TEST(Progress, ATerminalGetsAFewUpdatesASecondAndACleanEnd) {
  std::ostringstream err;
  RunProgress p;
  progress_start(p, err, true, 600);
  const Clock::time_point t0 = Clock::now();
  for (int ms = 0; ms <= 10000; ++ms) progress_update(p, ms / 100, t0 + std::chrono::milliseconds(ms));
  const std::string shown = err.str();
  EXPECT_GE(updates(shown), 35);
  EXPECT_LE(updates(shown), 41);
  EXPECT_NE(shown.find("\rqel_vort: 0 samples processed, 100 windows stored (set limit 600)\r"), std::string::npos);
  EXPECT_EQ(shown.find('\n'), std::string::npos);
  progress_end(p);
  const std::size_t last = shown.rfind("qel_vort:");
  std::string blanks = "\r";
  blanks.append(shown.find('\r', last) - last, ' ');
  blanks += '\r';
  const std::string cleared = err.str().substr(shown.size());
  EXPECT_EQ(cleared, blanks);
  progress_end(p);  // a second end writes nothing
  EXPECT_EQ(err.str().size(), shown.size() + cleared.size());
}

// The share read and the time left, worked by hand: 42 % of the file in
// 50.7 s leaves 58 % at the same rate, 70 s.
TEST(Progress, ShareAndTimeLeft) {
  struct Row {
    ReadExtent read;
    double elapsed;
    const char* text;
  };
  const Row rows[] = {
      {{0, 0}, 10.0, ""},                                  // length unknown (a pipe)
      {{0, 1000}, 0.0, ",   0 %"},                         // nothing read yet: no guess
      {{420, 1000}, 0.5, ",  42 %"},                       // under a second: no guess
      {{420, 1000}, 50.7, ",  42 %, 1 min 10 s left"},     //
      {{999, 1000}, 99.9, ",  99 %, 0 s left"},            // whole per cent, rounded down
      {{1, 3}, 20.0, ",  33 %, 40 s left"},                //
      {{1, 100}, 100.0, ",   1 %, 2 h 45 min left"},       // 9900 s
      {{1000, 1000}, 30.0, ", 100 %"},                     // all read: nothing left to guess
      {{1200, 1000}, 30.0, ", 100 %"},                     // a file that grew while read
  };
  for (const Row& r : rows) {
    EXPECT_EQ(progress_share(r.read, r.elapsed), r.text) << r.read.done << " of " << r.read.whole;
  }
}

// The progress line carries the share of the reader's last block.
TEST(Progress, TheLineShowsTheShareRead) {
  std::ostringstream err;
  auto blk = std::make_unique<SampleBlock>();
  blk->npts = 256;
  for (int r = 0; r < 256; ++r) blk->index[r] = r;
  RunProgress p;
  progress_start(p, err, true, 0);
  progress_block(p, *blk, 3, ReadExtent{250, 1000});
  progress_update(p, 3, Clock::now() + std::chrono::seconds(1));
  EXPECT_NE(err.str().find("qel_vort: 256 samples processed, 3 windows stored,  25 %"), std::string::npos)
      << err.str();
}

}  // namespace
}  // namespace qv
