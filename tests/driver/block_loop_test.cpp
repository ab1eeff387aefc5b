#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <vector>

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
        blk.real[r * nchmx + c] = std::sin(0.3f * static_cast<float>(next_) * static_cast<float>(c + 1));
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

// One level of 16-sample windows without overlap, on a grid through sample 0:
// a 256-sample block makes trunc((256 - 2) / 16) = 15 windows available.
class BlockLoop : public testing::Test {
 protected:
  BlockLoop() {
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

}  // namespace
}  // namespace qv
