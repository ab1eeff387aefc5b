#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "driver/block_loop.hpp"
#include "common/error.hpp"
#include "support/station_folder.hpp"
#include "driver/run.hpp"
#include "output/fc_reader.hpp"

namespace qv {
namespace {

namespace fs = std::filesystem;

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
    st.sp.ch[0].scale = st.sp.ch[1].scale = 1;
    prepare_run(st, 0, 1.0f, con);
    out.str("");
  }

  std::vector<int> window_numbers() const {
    std::vector<int> n;
    for (const SetRecord& s : st.sets) n.push_back(s.window);
    return n;
  }

  RunState st;
  std::ostringstream out, err;
  std::istringstream in;
  Console con{out, err, in};
};

TEST_F(BlockLoop, FirstBlockAtTheEndOfTheDataProcessesNoWindow) {
  ScriptedReader reader({{100, block_end}}, true);
  EXPECT_EQ(process_blocks(st, reader, con).end, LoopEnd::end_of_data);
  EXPECT_EQ(st.nsets, 0);
  EXPECT_EQ(reader.calls, 1);
}

TEST_F(BlockLoop, WrongTimeMarkStopsWithTwoLinesAndTheBlockIsNotProcessed) {
  ScriptedReader reader({{256, block_more}, {256, block_bad_mark}, {256, block_more}}, true);
  EXPECT_EQ(process_blocks(st, reader, con).end, LoopEnd::bad_mark);
  EXPECT_EQ(st.nsets, 15);
  EXPECT_EQ(reader.calls, 2);
  EXPECT_NE(out.str().find(" error: excess records/ incorrect time mark\n stopping here\n"), std::string::npos);
}

TEST_F(BlockLoop, LastTextBlockIsProcessed) {
  // 256 + 100 samples: the second block adds trunc((16 + 100 - 2) / 16) = 7 windows.
  ScriptedReader text({{256, block_more}, {100, block_end}}, true);
  EXPECT_EQ(process_blocks(st, text, con).end, LoopEnd::end_of_data);
  EXPECT_EQ(st.nsets, 22);
  EXPECT_EQ(text.calls, 2);  // the remembered end leaves the loop without another read
}

TEST_F(BlockLoop, LastBinaryBlockIsNotProcessed) {
  ScriptedReader binary({{256, block_more}, {100, block_end}}, false);
  EXPECT_EQ(process_blocks(st, binary, con).end, LoopEnd::end_of_data);
  EXPECT_EQ(st.nsets, 15);
}

TEST_F(BlockLoop, EmptyBlockEndsProcessing) {
  ScriptedReader reader({{256, block_more}, {0, block_end}}, false);
  EXPECT_EQ(process_blocks(st, reader, con).end, LoopEnd::end_of_data);
  EXPECT_EQ(st.nsets, 15);
}

TEST_F(BlockLoop, GapStartsANewStretchOnTheSameGrid) {
  // The second stretch starts at sample 1000; its first grid window starts at
  // 1008 (window 64), so no window spans the gap and numbering stays on the grid.
  ScriptedReader reader({{256, block_more}, {256, block_gap, 1000}, {0, block_end}}, true);
  EXPECT_EQ(process_blocks(st, reader, con).end, LoopEnd::end_of_data);
  std::vector<int> expected;
  for (int k = 1; k <= 15; ++k) expected.push_back(k);
  for (int k = 64; k < 64 + 15; ++k) expected.push_back(k);
  EXPECT_EQ(window_numbers(), expected);
  EXPECT_EQ(st.store.pos, 30 * 2);  // coefficients of the new stretch appended
}

TEST_F(BlockLoop, SetLimitEndsProcessingAfterTheLastStoredWindow) {
  std::vector<ScriptEntry> script(NSMAX / 16 + 3, ScriptEntry{256, block_more});
  ScriptedReader reader(script, true);
  EXPECT_EQ(process_blocks(st, reader, con).end, LoopEnd::set_limit);
  EXPECT_EQ(st.nsets, NSMAX);
  EXPECT_EQ(static_cast<int>(st.sets.size()), NSMAX);
  char limit[16];
  std::snprintf(limit, sizeof limit, "%6d", NSMAX);
  EXPECT_EQ(out.str(), "\n !!! Number of processed sets reached\n"
                       "      maximum number of allowed sets !!!\n"
                       "      The program will finish processing now\n"
                       "      To process all data change NSMAX =" +
                           std::string(limit) + "\n      in file PARAMS1 !!!\n"
                       "      (rebuild with cmake -DQV_NSMAX=<sets> to raise it)\n");
}

// Whole runs in a small station folder (one 16-sample level, two channels).
class RunInFolder : public testing::Test {
 protected:
  void SetUp() override {
    dir = testing_support::fresh_test_folder("run");
    write("decset.cfg", "1 0\n16 0 1 0 0 1 0 2 1\n1.0\n");
    write("pwset.cfg", "1\n0\n");
    write("st.sp", "ST\n10 20\n1.5\n2\n1.0\n0 0\nEx\n100 0 0 1\n1 0\nHy\n90 0\n1 0\n");
    recording(100);
  }
  void write(const std::string& name, const std::string& text) { testing_support::write_file(dir / name, text); }
  void recording(int samples) {
    std::ofstream ts(dir / "st.asc");
    ts << "1.0\n2026 1 1 0 0 0\n2026 1 1 0 0 0\n";
    for (int i = 0; i < samples; ++i) ts << i % 7 << " " << -(i % 5) << "\n";
  }
  // Runs the program in the folder; the console answers `answers`.
  int run_here(const std::string& answers = "\n") {
    testing_support::WorkingDirectory inside(dir);
    std::istringstream in(answers);
    Console con(out, err, in);
    return run({"-A", "-f:st.asc"}, con);
  }

  fs::path dir;
  std::ostringstream out, err;
};

TEST_F(RunInFolder, ShortRecordingStillWritesTheFile) {
  // The recording ends inside the first block: no window is processed.
  EXPECT_EQ(run_here(), 0);
  EXPECT_NE(out.str().find("\n number of sets = 0\n"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find(" Run time="), std::string::npos);
  FcReader fc((dir / "st.f2").string());
  EXPECT_EQ(fc.header().nch, 2);
  ASSERT_EQ(fc.blocks().size(), 2u);  // nfmx blocks of the one level
  for (const FcBlockInfo& b : fc.blocks()) EXPECT_EQ(b.n, 0);
}

TEST_F(RunInFolder, UnusableSetUpStopsTheRunAndKeepsTheOldResult) {
  recording(1000);
  ASSERT_EQ(run_here(), 0);
  const auto before = fs::file_size(dir / "st.f2");
  write("decset.cfg", "1 0\n16 0 1 0 0 1 0 2 6\n1 1 1 1 1 1\n");  // nfc 6: status -1
  EXPECT_THROW(run_here(), Error);
  EXPECT_NE(out.str().find(" nfcmx ( = 5) not set large enough\n"), std::string::npos);
  EXPECT_EQ(fs::file_size(dir / "st.f2"), before);
  for (const auto& e : fs::directory_iterator(dir)) EXPECT_NE(e.path().extension(), ".part") << e.path();
  write("decset.cfg", "11 0\n");
  EXPECT_THROW(run_here(), Error);
  EXPECT_NE(out.str().find(" parameters read from cf_decset are inconsistent with parameters declared in main program\n"),
            std::string::npos);
}

TEST_F(RunInFolder, SystemParameterChannelCountWins) {
  // Two channels declared, three in the recording: the first two are
  // processed and the console says so.
  std::ofstream ts(dir / "st.asc");
  ts << "1.0\n2026 1 1 0 0 0\n2026 1 1 0 0 0\n";
  for (int i = 0; i < 600; ++i) ts << i % 7 << " " << -(i % 5) << " " << i % 3 << "\n";
  ts.close();
  EXPECT_EQ(run_here(), 0);
  EXPECT_NE(out.str().find(" info: nch in sp file does not agree with nch in data file\n"), std::string::npos);
  EXPECT_TRUE(fs::exists(dir / "st.f3"));  // the name keeps the recording's count
  FcReader fc((dir / "st.f3").string());
  EXPECT_EQ(fc.header().nch, 2);  // records sized from the final count
}

TEST_F(RunInFolder, MoreDeclaredChannelsThanTheTextRecordHoldsIsRefused) {
  // Reading three values per sample from two-value lines would mix samples.
  write("st.sp", "ST\n10 20\n1.5\n3\n1.0\n0 0\nEx\n100 0 0 1\n1 0\nEy\n100 90 0 1\n1 0\nHy\n90 0\n1 0\n");
  recording(600);
  try {
    run_here();
    FAIL() << "accepted";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("st.asc"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(fs::exists(dir / "st.f2"));
}

TEST_F(RunInFolder, StandardFolderAsksForThePosition) {
  // Paths line 2 selects "standard.sp"; a name whose characters 4 to 11 read
  // "standard" makes the run ask for declination and coordinates.
  fs::create_directories(dir / "../standard_sp");
  write("paths.cfg", ".\n../standard_sp\n");
  fs::copy_file(dir / "st.sp", dir / "../standard_sp/st.sp", fs::copy_options::overwrite_existing);
  recording(600);
  EXPECT_EQ(run_here("4.5, -33.25, 151.5\n"), 0);
  EXPECT_NE(out.str().find(" Enter declination, station coordinates\n"), std::string::npos) << out.str();
  FcReader fc((dir / "st.f2").string());
  EXPECT_FLOAT_EQ(fc.header().decl, 4.5f);
  EXPECT_FLOAT_EQ(fc.header().lat, -33.25f);
  EXPECT_FLOAT_EQ(fc.header().lon, 151.5f);
}

}  // namespace
}  // namespace qv
