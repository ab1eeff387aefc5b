// Whole runs of QEL binary recordings: the same integer samples recorded by
// the data logger and written as a generic ASCII table, with start times that
// agree, must give the same Fourier-coefficient file to the byte, also when
// six channels are enabled and five are processed.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "calibration/igrf.hpp"
#include "common/console.hpp"
#include "common/fixed_format.hpp"
#include "driver/run.hpp"
#include "input/qel_writer.hpp"
#include "support/station_folder.hpp"

namespace qv {
namespace {

namespace fs = std::filesystem;
using testing_support::read_file;
using testing_support::TempFolder;
using testing_support::WorkingDirectory;
using testing_support::write_file;

constexpr int kScans = 4096;  // two packets and a part of a third

// Two levels (the second decimated by 4), pre-whitening on the first.
constexpr const char* kDecset =
    "2 0\n"
    "64 16 1 0 0 1 0 10 1\n"
    "1.0\n"
    "64 16 4 0 0 3 1 10 2\n"
    "0.5 0.25\n";
constexpr const char* kPwset = "2\n3\n0\n";

std::string system_parameters(int nch, const char* declination = "2.5") {
  std::string sp = std::string("ST\n-31.5 138.6\n") + declination + "\n" + std::to_string(nch) + "\n1.0\n0 0\n";
  const char* ids[] = {"Ex", "Ey", "Hx", "Hy", "Hz", "Tp"};
  for (int c = 0; c < nch; ++c) {
    sp += std::string(ids[c]) + "\n";
    sp += c < 2 ? "100 " + std::to_string(90 * c) + " 0 1\n" : std::to_string(90 * (c % 2)) + " 0\n";
    sp += "1 0\n";
  }
  return sp;
}

// Counts of a logger: a slow swing of millions of counts, a tone and noise.
std::vector<std::int32_t> counts(int nch) {
  std::vector<std::int32_t> v;
  std::uint32_t state = 12345;
  for (int s = 0; s < kScans; ++s)
    for (int c = 0; c < nch; ++c) {
      state = state * 1664525u + 1013904223u;
      const double x = 4.0e6 * std::sin(0.001 * s + c) + 3000.0 * std::cos(0.7 * s * (c + 1)) +
                       static_cast<double>(state >> 20) - 2048.0;
      v.push_back(static_cast<std::int32_t>(std::lround(x)));
    }
  return v;
}

struct RunResult {
  int status;
  std::string console, errors, file;
};

RunResult run_in(const fs::path& dir, const std::vector<std::string>& args, const std::string& fc_name) {
  const WorkingDirectory inside(dir);
  std::ostringstream out, err;
  std::istringstream in("\n");  // no paths file: everything in this folder
  Console con(out, err, in);
  const int status = run_main(args, con);
  return {status, out.str(), err.str(), read_file(dir / fc_name)};
}

void write_station(const fs::path& dir, int nch, const char* declination = "2.5") {
  write_file(dir / "decset.cfg", kDecset);
  write_file(dir / "pwset.cfg", kPwset);
  write_file(dir / "st.sp", system_parameters(nch, declination));
}

class QelStation : public testing::TestWithParam<int> {};

TEST_P(QelStation, GivesTheFileOfTheSameSamplesReadAsText) {
  const int nch = GetParam();
  const TempFolder folder("qelrun");
  const fs::path bin_dir = folder.path() / "bin", text_dir = folder.path() / "text";
  write_station(bin_dir, nch);
  write_station(text_dir, nch);
  const std::vector<std::int32_t> v = counts(nch);

  // 1 January 2013, 00:10:38 with a time stamp of 0 at 1 Hz: the logger's
  // filter delay of 39 samples puts the first sample at 00:10:00.
  QelHeaderFields h;
  h.position = qel_position_text(-31.5, 138.6);
  h.date_time = qel_date_time_text(2013, 1, 1, 0, 10, 38.0);
  h.sampfreq = 1;
  h.mask = nch == 6 ? 0x3F : 0x1F;
  write_qel_file((bin_dir / "st.bin").string(), h, v);

  std::string text = "1.0\n2013 1 1 0 10 0\n2013 1 1 0 0 0\n";
  for (int s = 0; s < kScans; ++s) {
    for (int c = 0; c < nch; ++c) {
      if (c) text += ' ';
      text += std::to_string(v[static_cast<std::size_t>(s * nch + c)]);
    }
    text += '\n';
  }
  write_file(text_dir / "st.asc", text);

  const RunResult bin = run_in(bin_dir, {"-f:st.bin"}, "st.f5");
  // A text file's name carries the count of values per line; six enabled
  // logger channels are named as the five the file holds.
  const RunResult asc = run_in(text_dir, {"-A", "-f:st.asc"}, "st.f" + std::to_string(nch));
  ASSERT_EQ(bin.status, 0) << bin.console << bin.errors;
  ASSERT_EQ(asc.status, 0) << asc.console << asc.errors;
  EXPECT_NE(bin.console.find(" time_int (us) 600000000\n"), std::string::npos) << bin.console;
  EXPECT_NE(bin.console.find("  Reading from binary data files\n  QEL binary format \n"), std::string::npos);
  // The last packet ends inside a block: 16 whole blocks are read.
  EXPECT_NE(bin.console.find(" End of binary reading.  flags: npts ierr 0 -1\n"), std::string::npos);
  EXPECT_GT(bin.file.size(), 20000u);
  EXPECT_TRUE(bin.file == asc.file) << "the binary and the text recording give different files";
}

INSTANTIATE_TEST_SUITE_P(Channels, QelStation, testing::Values(5, 6));

TEST(QelStationDeclination, ZeroInTheSystemParameterFileTakesTheReferenceField) {
  const TempFolder folder("qeldecl");
  write_station(folder.path(), 5, "0.0");
  QelHeaderFields h;
  h.position = qel_position_text(47.0, 8.0);  // central Europe: a declination of about +1 degree in 2013
  h.date_time = qel_date_time_text(2013, 6, 1, 0, 10, 38.0);
  h.sampfreq = 1;
  write_qel_file((folder.path() / "st.bin").string(), h, counts(5));
  const RunResult r = run_in(folder.path(), {"-f:st.bin"}, "st.f5");
  ASSERT_EQ(r.status, 0) << r.console << r.errors;
  std::ostringstream sink;
  std::istringstream none;
  Console con(sink, sink, none);
  const float decl = igrf_declination(47.0f, 8.0f, 2013.0f + 6.0f / 12.0f, con);
  EXPECT_GT(decl, 0.5f);
  EXPECT_LT(decl, 2.0f);
  // The station summary and the file header (columns 8, 4 decimals after "decl").
  EXPECT_NE(r.console.find("Declination:" + fmt_f(decl, 6, 2)), std::string::npos) << r.console;
  EXPECT_NE(r.file.find("decl" + fmt_f(decl, 8, 4)), std::string::npos);
}

TEST(QelStationErrors, ShortHeaderAndMismatchedChannelCount) {
  const TempFolder folder("qelerr");
  write_station(folder.path(), 5);
  write_file(folder.path() / "st.bin", std::string(600, '\0'));
  const RunResult short_file = run_in(folder.path(), {"-f:st.bin"}, "st.f0");
  EXPECT_EQ(short_file.status, 1);
  EXPECT_NE(short_file.console.find(" Error Reading Binary File: st.bin\n Run time="), std::string::npos)
      << short_file.console;

  // The system parameter file declares five channels, the logger enabled three.
  QelHeaderFields h;
  h.position = qel_position_text(10, 20);
  h.date_time = qel_date_time_text(2013, 1, 1, 0, 10, 38.0);
  h.sampfreq = 1;
  h.mask = 0x07;
  write_qel_file((folder.path() / "st.bin").string(), h, std::vector<std::int32_t>(3 * 1000, 5));
  const RunResult mismatch = run_in(folder.path(), {"-f:st.bin"}, "st.f3");
  EXPECT_EQ(mismatch.status, 1);
  EXPECT_NE(mismatch.errors.find("st.sp declares 5 channels, but the header of st.bin enables 3"), std::string::npos)
      << mismatch.errors;
  EXPECT_FALSE(fs::exists(folder.path() / "st.f3"));
}

}  // namespace
}  // namespace qv
