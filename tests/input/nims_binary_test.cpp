// NIMS binary recordings (option -B) as small files written word by word
// here: the header, both sample layouts, the gap list and the end of the data.
#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/console.hpp"
#include "common/error.hpp"
#include "input/nims_block_reader.hpp"
#include "input/nims_header.hpp"
#include "input/unreadable_recording.hpp"
#include "support/nims_file.hpp"
#include "support/station_folder.hpp"

namespace qv {
namespace {

using testing_support::NimsFile;

struct Opened {
  Acquisition acq;
  NimsLayout layout;
  std::string console;
  std::FILE* f = nullptr;
};

class NimsBinary : public testing::Test {
 protected:
  NimsBinary() : folder_("nims") {}
  std::string path() const { return (folder_.path() / "rec.bin").string(); }

  Opened open(const NimsFile& file) {
    file.write(path());
    Opened o;
    o.f = std::fopen(path().c_str(), "rb");
    mk_off(o.f, path(), o.acq, o.layout, con);
    o.console = out.str();
    out.str("");
    return o;
  }
  std::string error_of(const NimsFile& file) {
    try {
      const Opened o = open(file);
      std::fclose(o.f);
    } catch (const Error& e) {
      return e.what();
    }
    return "no error";
  }
  // Every block of the file: the sample numbers and values delivered, and the console.
  std::vector<std::array<std::int64_t, 6>> read_all(const NimsFile& file, int* reads = nullptr) {
    Opened o = open(file);
    NimsBlockReader reader(o.f, path(), o.layout, con);
    auto blk = std::make_unique<SampleBlock>();
    std::vector<std::array<std::int64_t, 6>> rows;
    int n = 0;
    for (;;) {
      ++n;
      const int status = reader.read_block(*blk, 5);
      if (status == block_end) break;
      for (int r = 0; r < blk->npts; ++r) {
        std::array<std::int64_t, 6> row{blk->index[static_cast<std::size_t>(r)]};
        for (int c = 0; c < 5; ++c) row[static_cast<std::size_t>(c + 1)] = blk->ints[static_cast<std::size_t>(r * nchmx + c)];
        rows.push_back(row);
      }
    }
    if (reads) *reads = n;
    return rows;
  }

  testing_support::TempFolder folder_;
  std::ostringstream out, err;
  std::istringstream in;
  Console con{out, err, in};
};

TEST_F(NimsBinary, HeaderOfTheWordLayoutWithGaps) {
  NimsFile file;
  file.start = {2013, 3, 1, 12, 0, 0};
  file.ref = {2013, 3, 1, 0, 0, 0};
  file.msval = 99999;
  file.gaps = {{10, 20, 30}, {40, 50, 60}};
  file.scans = 300;
  const Opened o = open(file);
  std::fclose(o.f);
  EXPECT_EQ(o.acq.nch, 5);
  EXPECT_EQ(o.acq.dr, 0.125f);
  EXPECT_EQ(o.acq.sampfreq, 8.0f);
  EXPECT_EQ(o.acq.time_int, 12LL * 3600 * 1000000);
  EXPECT_EQ(o.acq.msval, 99999);
  EXPECT_EQ(o.acq.threshold, 89999.0f);
  EXPECT_EQ(o.layout.irecl, 1);
  EXPECT_EQ(o.layout.irec, 30);  // the samples start at word 31
  EXPECT_EQ(o.console,
            " nscans = 300\n msval = 99999\n ngaps = 2\n Warning: there are 2 data gaps\n"
            " mk_off: igap= 10 20 30\n mk_off: igap= 40 50 60\n");
}

TEST_F(NimsBinary, BothLayoutsDeliverTheSameNumberedScans) {
  NimsFile file;
  file.scans = 3 * 256 + 100;  // a partial last block, dropped
  const auto words = read_all(file);
  const std::string word_console = out.str();
  out.str("");
  file.record_layout = true;
  int reads = 0;
  const auto records = read_all(file, &reads);
  ASSERT_EQ(words.size(), 3u * 256u);
  EXPECT_EQ(records, words);
  EXPECT_EQ(reads, 4);
  for (std::size_t s = 0; s < words.size(); ++s) {
    ASSERT_EQ(words[s][0], static_cast<std::int64_t>(s + 1));  // numbered from 1
    ASSERT_EQ(words[s][3], file.sample(static_cast<int>(s), 2));
  }
  // The record layout reads record 2 (byte 5120) first and says where it is.
  EXPECT_EQ(out.str().rfind(" rdblkNIMS: irec, irecl, itf,ioff 1 1280 1 0\n rdblkNIMS ix1(0:5,1) 1 " +
                                std::to_string(file.sample(0, 0)) + " ",
                            0),
            0u);
  EXPECT_NE(out.str().find(" rdblkNIMS: irec, irecl, itf,ioff 2 1280 257 0\n"), std::string::npos);
  EXPECT_NE(word_console.find(" rdblkNIMS ix1(0:5,1) 257 " + std::to_string(file.sample(256, 0)) + " "),
            std::string::npos);
  EXPECT_EQ(word_console.find("irecl"), std::string::npos);
}

TEST_F(NimsBinary, DataEndingInsideAScanEndTheBlock) {
  NimsFile file;
  file.scans = 199;
  file.extra_words = 3;  // the 200th scan of the first block is cut after 3 channels
  int reads = 0;
  EXPECT_TRUE(read_all(file, &reads).empty());
  EXPECT_EQ(reads, 1);
}

TEST_F(NimsBinary, FaultyHeadersAreRefusedNamingTheWord) {
  NimsFile file;
  file.dr = 0.0f;
  EXPECT_NE(error_of(file).find("word 5 of the NIMS header (sample interval in seconds) is 0"), std::string::npos);
  file = NimsFile();
  file.start[1] = 13;
  EXPECT_NE(error_of(file).find("word 8 of the NIMS header (start month) is 13"), std::string::npos);
  file = NimsFile();
  file.scans = 0;
  file.claimed_gaps = 40;  // more entries than the file holds
  EXPECT_NE(error_of(file).find("word 22 of the NIMS header (number of gap entries) is 40"), std::string::npos);

  // A file without even its first word is the error of an unreadable recording.
  testing_support::write_file(path(), "");
  Opened o;
  o.f = std::fopen(path().c_str(), "rb");
  EXPECT_THROW(mk_off(o.f, path(), o.acq, o.layout, con), UnreadableRecording);
  std::fclose(o.f);
}

}  // namespace
}  // namespace qv
