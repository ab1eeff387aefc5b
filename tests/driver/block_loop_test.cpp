#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "common/error.hpp"
#include "driver/block_loop.hpp"

namespace qv {
namespace {

// A block reader that plays a script: each entry delivers `npts` rows with the
// given status, numbering samples on from `first` (or on from the previous
// block when first < 0).
struct ScriptEntry {
  int npts;
  int status;
  std::int64_t first = -1;
  bool missing = false;  // every sample above the missing-value threshold
};

class ScriptedReader : public BlockReader {
 public:
  ScriptedReader(std::vector<ScriptEntry> script, bool last_block_has_data)
      : script_(std::move(script)), last_has_data_(last_block_has_data) {}

  int read_block(SampleBlock& blk, int nch) override {
    ++calls;
    if (calls > static_cast<int>(script_.size())) {
      blk.npts = 0;
      return block_end;
    }
    const ScriptEntry& e = script_[calls - 1];
    if (e.first >= 0) next_ = e.first;
    blk.npts = e.npts;
    for (int r = 0; r < e.npts; ++r, ++next_) {
      blk.index[r] = next_;
      for (int c = 0; c < nch; ++c)
        blk.real[r * nchmx + c] =
            e.missing ? 1.0e30f : std::sin(0.3f * static_cast<float>(next_) * static_cast<float>(c + 1));
    }
    return e.status;
  }
  bool real_samples() const override { return true; }
  bool last_block_has_data() const override { return last_has_data_; }

  int calls = 0;

 private:
  std::vector<ScriptEntry> script_;
  bool last_has_data_;
  std::int64_t next_ = 0;
};

// The loop's threads: QV_THREADS=2 runs every case of this file with the
// windows stored on a second thread.
int threads_of_environment() {
  const char* e = std::getenv("QV_THREADS");
  return e != nullptr && std::string(e) == "2" ? 2 : 1;
}

// One level of 16-sample windows without overlap, on a grid through sample 0:
// a 256-sample block makes trunc((256 - 2) / 16) = 15 windows available.
class BlockLoop : public testing::Test {
 protected:
  explicit BlockLoop(int threads = threads_of_environment(), std::int64_t spill_budget = spill_budget_default) {
    st.threads = threads;
    st.spill_budget = spill_budget;
    st.nch = st.reader_nch = 2;
    st.setup.nd = 1;
    LevelSetup& l = st.setup.lev[1];
    l.nwin = 16;
    l.nfreq = 2;
    l.nfc = 1;
    l.coef[0] = 1;
    st.setup.pworder[1].fill(1);
    st.sp.nch = 2;
    st.sp.dt = 1;
    work.input.powerline_active = false;  // 1 Hz samples: no powerline to filter
    st.sp.ch[0].scale = st.sp.ch[1].scale = 1;
    prepare_run(st, work, StartTime{0, 0, 1.0f}, 1.0f, "sensors", "none.bad", con);
    out.str("");
  }

  // The stored windows' numbers, read back from the output store.
  std::vector<int> window_numbers() {
    std::vector<int> n;
    OutputStore& store = work.kept.store;
    output_store_rewind(store);
    while (output_store_next_chunk(store))
      for (std::size_t at : chunk_level_records(store, 1)) n.push_back(stored_set(store, at).window);
    return n;
  }

  RunSetup st;
  RunWork work;
  std::ostringstream out, err;
  std::istringstream in;
  Console con{out, err, in};
};

TEST_F(BlockLoop, FirstBlockAtTheEndOfTheDataProcessesNoWindow) {
  ScriptedReader reader({{100, block_end}}, true);
  EXPECT_EQ(process_blocks(st, work, reader, con).end, LoopEnd::end_of_data);
  EXPECT_EQ(work.kept.nsets, 0);
  EXPECT_EQ(reader.calls, 1);
}

TEST_F(BlockLoop, WrongTimeMarkStopsWithTwoLinesAndTheBlockIsNotProcessed) {
  ScriptedReader reader({{256, block_more}, {256, block_bad_mark}, {256, block_more}}, true);
  EXPECT_EQ(process_blocks(st, work, reader, con).end, LoopEnd::bad_mark);
  EXPECT_EQ(work.kept.nsets, 15);
  EXPECT_EQ(reader.calls, 2);
  EXPECT_NE(out.str().find(" error: excess records/ incorrect time mark\n stopping here\n"), std::string::npos);
}

TEST_F(BlockLoop, LastTextBlockIsProcessed) {
  // 256 + 100 samples: the second block adds trunc((16 + 100 - 2) / 16) = 7 windows.
  ScriptedReader text({{256, block_more}, {100, block_end}}, true);
  EXPECT_EQ(process_blocks(st, work, text, con).end, LoopEnd::end_of_data);
  EXPECT_EQ(work.kept.nsets, 22);
  EXPECT_EQ(text.calls, 2);  // the remembered end leaves the loop without another read
}

TEST_F(BlockLoop, LastBinaryBlockIsNotProcessed) {
  ScriptedReader binary({{256, block_more}, {100, block_end}}, false);
  EXPECT_EQ(process_blocks(st, work, binary, con).end, LoopEnd::end_of_data);
  EXPECT_EQ(work.kept.nsets, 15);
}

TEST_F(BlockLoop, UnknownStatusIsReportedWithItsValue) {
  ScriptedReader reader({{256, block_more}, {256, 7}}, true);
  const LoopOutcome done = process_blocks(st, work, reader, con);
  EXPECT_EQ(done.end, LoopEnd::other_status);
  EXPECT_EQ(done.status, 7);
  EXPECT_EQ(work.kept.nsets, 15);  // the block that brought the status is not processed
}

TEST_F(BlockLoop, EmptyBlockEndsProcessing) {
  ScriptedReader reader({{256, block_more}, {0, block_end}}, false);
  EXPECT_EQ(process_blocks(st, work, reader, con).end, LoopEnd::end_of_data);
  EXPECT_EQ(work.kept.nsets, 15);
}

TEST_F(BlockLoop, GapStartsANewStretchOnTheSameGrid) {
  // The second stretch starts at sample 1000; its first grid window starts at
  // 1008 (window 64), so no window spans the gap and numbering stays on the grid.
  ScriptedReader reader({{256, block_more}, {256, block_gap, 1000}, {0, block_end}}, true);
  EXPECT_EQ(process_blocks(st, work, reader, con).end, LoopEnd::end_of_data);
  std::vector<int> expected;
  for (int k = 1; k <= 15; ++k) expected.push_back(k);
  for (int k = 64; k < 64 + 15; ++k) expected.push_back(k);
  EXPECT_EQ(window_numbers(), expected);
  EXPECT_EQ(work.kept.store.rows, 30 * 2);  // coefficients of the new stretch appended
}

// 40 blocks of 256 samples: 639 windows of 16 samples.
const std::vector<ScriptEntry> forty_blocks(40, ScriptEntry{256, block_more});

TEST_F(BlockLoop, WithoutASetLimitTheWholeRecordingIsProcessed) {
  ScriptedReader reader(forty_blocks, true);
  EXPECT_EQ(process_blocks(st, work, reader, con).end, LoopEnd::end_of_data);
  EXPECT_EQ(work.kept.nsets, 639);
  EXPECT_EQ(work.kept.store.windows, 639);
  EXPECT_EQ(out.str().find("!!!"), std::string::npos) << out.str();
}

TEST_F(BlockLoop, SetLimitEndsProcessingAfterTheLastStoredWindow) {
  constexpr int cap = 600;
  st.max_sets = cap;
  ScriptedReader reader(forty_blocks, true);
  EXPECT_EQ(process_blocks(st, work, reader, con).end, LoopEnd::set_limit);
  EXPECT_EQ(work.kept.nsets, cap);
  EXPECT_EQ(work.kept.store.windows, cap);
  char limit[16];
  std::snprintf(limit, sizeof limit, "%6d", cap);
  EXPECT_EQ(out.str(), "\n !!! Number of processed sets reached\n"
                       "      maximum number of allowed sets !!!\n"
                       "      The program will finish processing now\n"
                       "      To process all data change NSMAX =" +
                           std::string(limit) + "\n      in file PARAMS1 !!!\n"
                       "      (raise it with the option --max-sets=<sets>)\n");
}

// A run whose output store fills up (no temporary file is named) fails on
// the storing thread when that is a second one. It must fail as the run on
// one thread does: the same message, and the same console lines, those
// said before the window that failed and none of those the cutting thread
// said while it was ahead.
struct FailedLoop : BlockLoop {
  FailedLoop(int threads, std::int64_t budget) : BlockLoop(threads, budget) {}
  using BlockLoop::out;
  using BlockLoop::work;
  void TestBody() override {}
  std::string run(const std::vector<ScriptEntry>& script) {
    ScriptedReader reader(script, true);
    try {
      process_blocks(st, work, reader, con);
    } catch (const Error& e) {
      return e.what();
    }
    return "no error";
  }
};

TEST(BlockLoopThreads, AnErrorOnTheStoringThreadEndsTheRunAsOnOneThread) {
  // Missing stretches say "bad" lines before and after the window that does
  // not fit, the last of the third block (windows 1 to 16 of the second
  // block, 17 to 32 of the third); the cutting thread is then free to run on
  // into the missing blocks.
  std::vector<ScriptEntry> script(8, ScriptEntry{256, block_more});
  script[0].missing = true;
  for (int b = 3; b < 8; ++b) script[b].missing = true;
  const std::int64_t budget = 4 * 31 * (store_head_words + 2 * 2 * 2);  // 31 windows
  FailedLoop one(1, budget), two(2, budget);
  const std::string message = one.run(script);
  EXPECT_NE(message.find("output store: the buffer of"), std::string::npos) << message;
  EXPECT_EQ(two.run(script), message);
  EXPECT_NE(one.out.str().find(" bad"), std::string::npos);
  EXPECT_EQ(two.out.str(), one.out.str());
  EXPECT_EQ(two.work.kept.nsets, one.work.kept.nsets);
  EXPECT_EQ(one.work.kept.nsets, 31);
}

}  // namespace
}  // namespace qv
