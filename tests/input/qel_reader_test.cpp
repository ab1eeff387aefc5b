// The data logger's QEL binary recordings: header fields, the start-time and
// day-number rules, and the walk of the block reader through the packets.
// Files are built byte by byte here (header fields at their offsets), so the
// reader is checked against the format, not against the writer alone.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "common/console.hpp"
#include "common/error.hpp"
#include "driver/reference_declination.hpp"
#include "input/qel_block_reader.hpp"
#include "input/qel_header.hpp"
#include "input/qel_writer.hpp"
#include "input/unreadable_recording.hpp"
#include "support/station_folder.hpp"

namespace qv {
namespace {

using testing_support::TempFolder;

struct Header {
  Acquisition acq;
  QelLayout layout;
  std::string console;
};

class QelFile : public testing::Test {
 protected:
  QelFile() : folder_("qel") {}

  QelHeaderFields fields() const {
    QelHeaderFields h;
    h.position = qel_position_text(-31.5, 138.6);
    h.date_time = qel_date_time_text(2013, 3, 15, 10, 20, 5.0);
    h.sampfreq = 500;
    return h;
  }
  std::string path() const { return (folder_.path() / "rec.bin").string(); }
  void write(const std::vector<unsigned char>& bytes) const {
    std::FILE* f = std::fopen(path().c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  void write(const QelHeaderFields& h) const {
    const auto b = encode_qel_header(h);
    write(std::vector<unsigned char>(b.begin(), b.end()));
  }
  Header read_header() const {
    Header r;
    std::ostringstream out, err;
    std::istringstream in;
    Console con(out, err, in);
    std::FILE* f = std::fopen(path().c_str(), "rb");
    try {
      rdhdrQEL(f, path(), r.acq, r.layout, con);
    } catch (...) {
      std::fclose(f);
      throw;
    }
    std::fclose(f);
    r.console = out.str();
    return r;
  }
  Header read_header(const QelHeaderFields& h) const {
    write(h);
    return read_header();
  }
  // The header as the run takes it: with the declination at its station fix.
  static Header with_declination(Header r) {
    std::ostringstream out, err;
    std::istringstream in;
    Console con(out, err, in);
    find_reference_declination(r.acq, con);
    r.console += out.str();
    return r;
  }
  std::string error_of(const QelHeaderFields& h) const {
    try {
      read_header(h);
    } catch (const Error& e) {
      return e.what();
    }
    return "no error";
  }

  TempFolder folder_;
};

TEST_F(QelFile, HeaderFieldsAndConsole) {
  QelHeaderFields h = fields();
  h.firmware = 7;
  h.fpga = 65;
  h.data_bytes = 30720;  // 8 blocks of five channels
  const Header r = read_header(h);
  EXPECT_EQ(r.acq.nch, 5);
  EXPECT_EQ(r.layout.nbytes_data, 30720);
  EXPECT_EQ(r.layout.nbytes_packet, 31744);
  EXPECT_EQ(r.acq.msval, 2147483647);
  EXPECT_EQ(r.acq.threshold, 2147473664.0f);
  // 15 March 2013 at 10:20, whole seconds 5, stamp 0, 500 Hz: day 73 of the
  // year and the filter delay of 39 samples.
  const std::int64_t expected = 73 * 86400000000LL + 10 * 3600000000LL + 20 * 60000000LL +
                                static_cast<std::int64_t>((5.0 + 1.0 - 39.0 / 500.0) * 1e6);
  EXPECT_EQ(r.acq.time_int, expected);
  EXPECT_EQ(r.console,
            " INITIALIZATION\n"
            "firmware version=  7\n"
            "fpga     version= 65\n"
            " num_of_data_bytes_per_headers 30720\n"
            " nbytes_data  30720\n"
            " nbytes_header 1024\n"
            " nbytes_packet 31744\n"
            " Sample Freq 500\n"
            " seconds+delay 5.922 0.0987\n"
            " jday,ihr,imin,ss 73 10 20 5.922\n"
            " time_int (us) 6344405922000\n");
}

TEST_F(QelFile, DerivedValuesOfTheFormat) {
  struct Row {
    std::uint32_t mask;
    int fpga;
    std::int32_t data_bytes, sampfreq;
    int nch, first, last;
    std::int32_t nbytes_data;
    float sampfreq_out, dr;
  };
  const Row rows[] = {
      {0x1F, 64, 46080, 500, 5, 1, 5, 46080, 500.0f, 0.002f},
      {0x3F, 64, 46080, 500, 6, 1, 6, 46080, 500.0f, 0.002f},
      {0x15, 64, 46080, 62, 3, 1, 5, 46080, 62.5f, 0.016f},  // channels 1, 3, 5; 62 Hz means 62.5
      {0x15, 63, 30000, 500, 3, 1, 5, 46080, 500.0f, 0.002f},  // first-generation FPGA: 46080
      {0x03, 64, 65537, 500, 2, 1, 2, 46080, 500.0f, 0.002f},  // implausible count
      {0x20, 64, 0, 500, 1, 6, 6, 46080, 500.0f, 0.002f},
  };
  for (const Row& row : rows) {
    QelHeaderFields h = fields();
    h.mask = row.mask;
    h.fpga = row.fpga;
    h.data_bytes = row.data_bytes;
    h.sampfreq = row.sampfreq;
    const Header r = read_header(h);
    SCOPED_TRACE(row.mask);
    EXPECT_EQ(r.acq.nch, row.nch);
    EXPECT_EQ(r.layout.channels[0], row.first);
    EXPECT_EQ(r.layout.channels[static_cast<std::size_t>(row.nch - 1)], row.last);
    EXPECT_EQ(r.layout.nbytes_data, row.nbytes_data);
    EXPECT_EQ(r.acq.sampfreq, row.sampfreq_out);
    EXPECT_EQ(r.acq.dr, row.dr);
  }
}

TEST_F(QelFile, DayNumbersAndDelaysBySamplingFrequency) {
  QelDateTime d;
  d.day = 15;
  d.month = 3;
  d.year = 2013;
  EXPECT_EQ(qel_day_number(d, 500.0f), 31 + 28 + 14);
  EXPECT_EQ(qel_day_number(d, 1000.0f), 73);
  EXPECT_EQ(qel_day_number(d, 2000.0f), 28 + 14);  // from 1 February
  EXPECT_EQ(qel_day_number(d, 40000.0f), 0);
  d.year = 2012;
  EXPECT_EQ(qel_day_number(d, 500.0f), 31 + 29 + 14);
  EXPECT_EQ(qel_day_number(d, 2000.0f), 29 + 14);
  d.month = 1;
  EXPECT_EQ(qel_day_number(d, 2000.0f), 14);

  // 1000 and 4000 Hz delay by 38 samples, other rates by 39; a time stamp of
  // 25,000,000 ticks of 50 MHz adds half a second.
  QelHeaderFields h = fields();
  h.date_time = qel_date_time_text(2013, 1, 1, 0, 0, 7.999);  // fractions of the text are cut
  h.stamp = 25000000;
  for (auto [freq, delay] : {std::pair{1000, 0.038}, {4000, 0.0095}, {2000, 0.0195}}) {
    h.sampfreq = freq;
    EXPECT_EQ(read_header(h).acq.time_int, static_cast<std::int64_t>((7.0 + 0.5 + 1.0 - delay) * 1e6)) << freq;
  }
}

TEST_F(QelFile, DeclinationOnlyWithinTheReferenceFieldModel) {
  QelHeaderFields h = fields();
  const Header in_model = with_declination(read_header(h));
  EXPECT_GT(in_model.acq.reference_declination, 5.0f);  // South Australia, 2013: about +8 degrees
  EXPECT_EQ(in_model.console.find("warning"), std::string::npos);
  h.date_time = qel_date_time_text(2026, 3, 14, 10, 0, 0.0);
  const Header beyond = with_declination(read_header(h));
  EXPECT_EQ(beyond.acq.reference_declination, 0.0f);
  EXPECT_NE(beyond.console.find(" warning: no reference-field declination for the year 2026.25 (IGRF-11 covers 1900 "
                                "to 2020); a declination of 0 in the system parameter file stays 0\n"),
            std::string::npos)
      << beyond.console;
}

TEST_F(QelFile, PositionTextWithHemisphereLetters) {
  const QelPosition south = qel_position("3130.0000000S  13836.000000E    ", "f");
  EXPECT_FLOAT_EQ(south.latitude, -31.5f);
  EXPECT_FLOAT_EQ(south.longitude, 138.6f);
  const QelPosition north_west = qel_position("4745.1234567N  00812.000000W    ", "f");
  EXPECT_FLOAT_EQ(north_west.latitude, 47.0f + 45.1234567f / 60.0f);
  EXPECT_FLOAT_EQ(north_west.longitude, -(8.0f + 12.0f / 60.0f));
  EXPECT_EQ(qel_position(std::string(32, ' '), "f").latitude, 0.0f);  // no fix: blank fields read 0
  EXPECT_THROW(qel_position("4x45.1234567N  00812.000000W    ", "f"), Error);
}

TEST_F(QelFile, HeadersThatCannotDescribeARecordingAreRefusedWithTheOffset) {
  QelHeaderFields h = fields();
  h.divisor = "0";
  EXPECT_NE(error_of(h).find("time-stamp divisor of the QEL header at byte offset 100"), std::string::npos);
  h.divisor = "fifty";
  EXPECT_NE(error_of(h).find("byte offset 100"), std::string::npos);
  h = fields();
  h.sampfreq = 0;
  EXPECT_NE(error_of(h).find("sampling frequency of the QEL header at byte offset 108"), std::string::npos);
  h = fields();
  h.mask = 0xFFFFFFC0u;  // only bits beyond channel 6
  EXPECT_NE(error_of(h).find("channel-enable mask of the QEL header at byte offset 288"), std::string::npos);
  h = fields();
  h.date_time = qel_date_time_text(2013, 13, 15, 10, 20, 5.0);
  EXPECT_NE(error_of(h).find("start date of the QEL header at byte offset 90"), std::string::npos);
  h = fields();
  h.data_bytes = 3 * 5 * 255;  // not one whole block of five channels
  EXPECT_NE(error_of(h).find("byte offset 268"), std::string::npos);
  h = fields();
  h.stamp = INT64_MAX;
  h.divisor = "1e-9";
  EXPECT_NE(error_of(h).find("byte offset 112"), std::string::npos);
}

TEST_F(QelFile, AShortHeaderIsAnInputError) {
  write(std::vector<unsigned char>(663, 0));
  std::ostringstream out, err;
  std::istringstream in;
  Console con(out, err, in);
  Acquisition acq;
  QelLayout layout;
  std::FILE* f = std::fopen(path().c_str(), "rb");
  try {
    rdhdrQEL(f, path(), acq, layout, con);
    ADD_FAILURE() << "no error";
  } catch (const UnreadableRecording& e) {
    EXPECT_EQ(std::string(e.what()), "cannot read the QEL binary file " + path() +
                                         ": it ends at byte offset 663, before the end of its 664-byte header");
  }
  std::fclose(f);
  EXPECT_EQ(out.str(), " INITIALIZATION\n Error Reading Binary File: " + path() + "\n");
}

// Reads every block of the file: the rows of all blocks and the console.
struct Blocks {
  std::vector<std::vector<float>> rows;  // sample number, then the channel values
  int reads = 0;
  std::string console;
};

Blocks read_blocks(const std::string& path, int nch) {
  Blocks b;
  std::ostringstream out, err;
  std::istringstream in;
  Console con(out, err, in);
  Acquisition acq;
  QelLayout layout;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  rdhdrQEL(f, path, acq, layout, con);
  out.str("");
  QelBlockReader reader(f, path, layout, con);
  auto blk = std::make_unique<SampleBlock>();
  for (;;) {
    ++b.reads;
    const int status = reader.read_block(*blk, nch);
    if (status == block_end) {
      EXPECT_EQ(blk->npts, 0);
      break;
    }
    EXPECT_EQ(blk->npts, 256);
    for (int r = 0; r < blk->npts; ++r) {
      std::vector<float> row{static_cast<float>(blk->index[static_cast<std::size_t>(r)])};
      for (int c = 0; c < (nch == 6 ? 5 : nch); ++c) row.push_back(blk->real[static_cast<std::size_t>(r * nchmx + c)]);
      b.rows.push_back(row);
    }
  }
  b.console = out.str();
  return b;
}

TEST_F(QelFile, BlocksWalkThroughThePacketsAndStepOverTheirHeaders) {
  // Five channels, packets of 46080 data bytes (12 blocks), a last packet of
  // 2.5 blocks: 14 whole blocks, the half block is not delivered.
  const QelHeaderFields h = fields();
  const int nch = 5, scans = 14 * 256 + 128;
  std::vector<std::int32_t> samples;
  for (int s = 0; s < scans; ++s)
    for (int c = 0; c < nch; ++c) samples.push_back((s * 37 + c * 1000003) % 16777216 - 8388608);
  write_qel_file(path(), h, samples);

  std::FILE* f = std::fopen(path().c_str(), "rb");
  std::ostringstream out, err;
  std::istringstream in;
  Console con(out, err, in);
  Acquisition acq;
  QelLayout layout;
  rdhdrQEL(f, path(), acq, layout, con);
  const QelBlockReader reader(f, path(), layout, con);
  EXPECT_EQ(reader.block_offset(0), 1024);
  EXPECT_EQ(reader.block_offset(1), 1024 + 3840);
  EXPECT_EQ(reader.block_offset(12), 47104 + 1024);  // second packet, after its header

  const Blocks blocks = read_blocks(path(), nch);
  EXPECT_EQ(blocks.reads, 15);
  ASSERT_EQ(blocks.rows.size(), 14u * 256u);
  for (std::size_t s = 0; s < blocks.rows.size(); ++s) {
    ASSERT_EQ(blocks.rows[s][0], static_cast<float>(s));
    for (int c = 0; c < nch; ++c)
      ASSERT_EQ(blocks.rows[s][static_cast<std::size_t>(c + 1)], static_cast<float>(samples[s * nch + c])) << s;
  }
  EXPECT_EQ(blocks.console,
            " End of binary reading.  flags: npts ierr 0 -1\n"
            " end of file reached, next block is empty\n");
}

TEST_F(QelFile, TwentyFourBitSamplesAndSixChannelsDeliveringFive) {
  // One block of six channels by hand: scan s holds the bytes of channel c.
  QelHeaderFields h = fields();
  h.mask = 0x3F;
  const auto hdr = encode_qel_header(h);
  std::vector<unsigned char> file(hdr.begin(), hdr.end());
  const unsigned char codes[6][3] = {{0xFF, 0xFF, 0xFF}, {0x80, 0x00, 0x00}, {0x7F, 0xFF, 0xFF},
                                     {0x00, 0x00, 0x01}, {0x12, 0x34, 0x56}, {0xAB, 0xCD, 0xEF}};
  for (int s = 0; s < 256; ++s)
    for (const auto& code : codes) file.insert(file.end(), code, code + 3);
  write(file);
  const Blocks b = read_blocks(path(), 6);
  ASSERT_EQ(b.rows.size(), 256u);
  EXPECT_EQ(b.rows[255], (std::vector<float>{255, -1, -8388608, 8388607, 1, 0x123456}));
}

}  // namespace
}  // namespace qv
