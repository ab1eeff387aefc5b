#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <vector>

#include <unistd.h>

#include "common/console.hpp"
#include "common/error.hpp"
#include "dsp/amplitude.hpp"
#include "output/fc_dump.hpp"
#include "output/fc_file.hpp"
#include "output/fc_pack.hpp"
#include "output/fc_reader.hpp"
#include "output/private_file.hpp"
#include "output/temp_file.hpp"
#include "support/private_files.hpp"
#include "support/station_folder.hpp"
#include "support/window_view.hpp"

namespace qv {
namespace {

using testing_support::names_in;
using testing_support::view;
using Names = std::vector<std::string>;

namespace fs = std::filesystem;
using ::testing::HasSubstr;

// A fresh folder for the running test, removed when the test binary's
// test is over.
class FcFolder : public testing::Test {
 protected:
  std::string fresh_dir() const { return folder_.path().string(); }

 private:
  testing_support::TempFolder folder_{"fc"};
};

std::vector<unsigned char> bytes_of(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
void write_bytes(const std::string& path, const std::vector<unsigned char>& b) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}
std::int32_t i32_at(const std::vector<unsigned char>& b, std::size_t off) {
  return static_cast<std::int32_t>(b[off] | b[off + 1] << 8 | b[off + 2] << 16 | std::uint32_t(b[off + 3]) << 24);
}
float f32_at(const std::vector<unsigned char>& b, std::size_t off) {
  const std::uint32_t u = static_cast<std::uint32_t>(i32_at(b, off));
  float f;
  std::memcpy(&f, &u, 4);
  return f;
}

// Coefficient of a test window: channel c, frequency index k, window number w.
float vre(int c, int k, int w) { return (1.0f + c) * (k + 0.1f * w) * (w % 2 ? -1.0f : 1.0f) * 1e-3f; }
float vim(int c, int k, int w) { return (0.5f * k - 0.3f * c * w) * 1e-3f; }

// A small run of two channels: level 11 (32 samples of 1 s, nfreq 3), level
// 12 switched off, level 13 (16 samples of 8 s, nfreq 2). Windows in
// processing order: level 11 #5, level 13 #7, level 11 #6. On a dead
// channel 2 every coefficient of channel 2 is zero.
struct SmallRun {
  DecSetup setup;
  std::array<float, ndmx + 1> dr{0.0f, 1.0f, 4.0f, 8.0f};
  SystemParameters sp;
  OutputStore store;
  AmplitudeSums amp;
  std::array<int, ndmx + 1> count{};
  int nch = 2;
  bool dead_channel_2 = false;

  explicit SmallRun(bool dead_second = false) : dead_channel_2(dead_second) {
    setup.nd = 3;
    setup.levoff = 10;
    setup.lev[1].nwin = 32;
    setup.lev[1].nfreq = 3;
    setup.lev[2].nwin = 16;
    setup.lev[2].nfreq = 0;
    setup.lev[3].nwin = 16;
    setup.lev[3].nfreq = 2;
    sp.ch[0].id = "hx";
    sp.ch[1].id = "hy";
    sp.ch[1].orient = 90.0f;
    sp.lat = 12.5f;
    sp.lon = 240.25f;
    sp.decl = -3.125f;
    output_store_allocate(store, setup, nch, 10, spill_budget_default, "");
    amplitude_allocate(amp, setup);
    add(1, 5);
    add(3, 7);
    add(1, 6);
    average_amplitudes(amp, setup, count, nch);
  }
  void add(int lev, int w) {
    std::vector<float> win(wld * 8, 0.0f);
    const int m = setup.lev[lev].nfreq;
    for (int k = 1; k <= m; ++k)
      for (int c = 0; c < nch; ++c) {
        const bool dead = dead_channel_2 && c == 1;
        win[wre(c, k)] = dead ? 0.0f : vre(c, k, w);
        win[wim(c, k)] = dead ? 0.0f : vim(c, k, w);
      }
    store_fc(store, setup.levoff + lev, w, view(win, nch), m);
    accumulate_amplitudes(view(win, nch), m, amp.lev[lev].data());
    ++count[lev];
  }
  FcHeader header() const { return make_fc_header(nch, setup, dr, sp); }
  // Writes the whole file; commits unless told otherwise.
  void write(const std::string& path, bool commit = true) {
    std::ostringstream out, err;
    std::istringstream in;
    Console con(out, err, in);
    int n = nch;
    FcFileWriter w(path, n, con);
    w.write_header(header());
    w.write_blocks(setup.nd, setup.levoff, store, amp);
    if (commit) w.commit();
  }
};

TEST(FcHeader, ExponentAndOverflowingFields) {
  FcHeader h;
  h.nch = 2;
  h.nlevels = 3;
  h.dr = {0.0f, 0.001f, 0.125f, 2560.0f};
  h.chid = {"electrode", "h"};  // identifiers are 6 characters
  h.orient = {-180.0f, 12345.6f};  // 12345.6 does not fit F6.1
  h.tilt = {-0.004f, 0.5f};
  const std::string t = fc_header_text(h);
  EXPECT_EQ(t.substr(32 + 48 + 4, 36), "  0.1000E-02  0.1250E+00  0.2560E+04");
  EXPECT_EQ(t.substr(32 + 48 + 40 + 8, 40), "electr-180.0   -0.00h     ******    0.50");
}

TEST_F(FcFolder, FcHeaderRecordLengthsAndLostDeclination) {
  // Five channels: 24-byte records, 480 header characters.
  FcHeader h5;
  h5.nch = 5;
  h5.nlevels = 4;
  EXPECT_EQ(fc_header_length(h5), 76 + 4 * 28 + 100);
  const std::string dir = fresh_dir();
  {
    std::ostringstream out, err;
    std::istringstream in;
    Console con(out, err, in);
    int nch = 5;
    FcFileWriter w(dir + "/five.f5", nch, con);
    w.write_header(h5);
    EXPECT_EQ(w.record_length(), 24);
    OutputStore empty;
    AmplitudeSums amp;
    w.write_blocks(0, 0, empty, amp);
    w.commit();
  }
  EXPECT_EQ(fs::file_size(dir + "/five.f5"), 480u);

  // Four channels and nine listed levels: 408 characters, 400 stored; the
  // declination is lost.
  FcHeader h4;
  h4.nch = 4;
  h4.nlevels = 9;
  h4.nfmx = 0;
  for (int i = 1; i <= 9; ++i) {
    h4.level_id[i] = i;
    h4.nwin[i] = 64;
    h4.dr[i] = 1.0f;
  }
  h4.decl = 7.5f;
  const std::string text = fc_header_text(h4);
  ASSERT_EQ(text.size(), 408u);
  {
    std::ostringstream out, err;
    std::istringstream in;
    Console con(out, err, in);
    int nch = 4;
    FcFileWriter w(dir + "/four.f4", nch, con);
    w.write_header(h4);
    OutputStore empty;
    AmplitudeSums amp;
    w.write_blocks(9, 0, empty, amp);
    w.commit();
  }
  const std::vector<unsigned char> b = bytes_of(dir + "/four.f4");
  ASSERT_EQ(b.size(), 400u);
  EXPECT_EQ(std::string(b.begin(), b.end()), text.substr(0, 400));
}

TEST_F(FcFolder, FcFileBlocksOfASmallRun) {
  const std::string path = fresh_dir() + "/site.f2";
  SmallRun run;
  run.write(path);
  const std::vector<unsigned char> b = bytes_of(path);
  const std::size_t L = 12;
  ASSERT_EQ(b.size(), 46 * L);
  auto rec = [&](int k) { return static_cast<std::size_t>(k - 1) * L; };

  // Header: the text, then blanks up to 20 records.
  const std::string text = fc_header_text(run.header());
  EXPECT_EQ(std::string(b.begin(), b.begin() + text.size()), text);
  EXPECT_EQ(std::string(b.begin() + text.size(), b.begin() + 20 * L), std::string(20 * L - text.size(), ' '));

  // Level 11, F = 2: records 25 (11, 2, 2), 26 (scales), 27 (#5), 28 (#6).
  EXPECT_EQ(i32_at(b, rec(25)), 11);
  EXPECT_EQ(i32_at(b, rec(25) + 4), 2);
  EXPECT_EQ(i32_at(b, rec(25) + 8), 2);
  for (int c = 0; c < 2; ++c) {
    const double a = (std::hypot(vre(c, 2, 5), vim(c, 2, 5)) + std::hypot(vre(c, 2, 6), vim(c, 2, 6))) / 2;
    EXPECT_NEAR(f32_at(b, rec(26) + 4 * c), a, 1e-6 * a);
  }
  EXPECT_EQ(i32_at(b, rec(26) + 8), 0);  // scale record padded with zeros
  EXPECT_EQ(i32_at(b, rec(27)), 5);
  EXPECT_EQ(i32_at(b, rec(28)), 6);

  // Level 12 (switched off): three blocks with n = 0 and zero scales.
  for (int F = 1; F <= 3; ++F) {
    const std::size_t o = rec(33 + 2 * (F - 1));
    EXPECT_EQ(i32_at(b, o), 12);
    EXPECT_EQ(i32_at(b, o + 4), F);
    EXPECT_EQ(i32_at(b, o + 8), 0);
    for (std::size_t i = 0; i < L; ++i) EXPECT_EQ(b[o + L + i], 0) << F;
  }
  // Level 13: F = 1 and 2 hold window 7, F = 3 is beyond its nfreq.
  EXPECT_EQ(i32_at(b, rec(39) + 8), 1);
  EXPECT_EQ(i32_at(b, rec(41)), 7);
  EXPECT_EQ(i32_at(b, rec(45)), 13);
  EXPECT_EQ(i32_at(b, rec(45) + 4), 3);
  EXPECT_EQ(i32_at(b, rec(45) + 8), 0);
  EXPECT_EQ(f32_at(b, rec(46)), 0.0f);
  EXPECT_EQ(f32_at(b, rec(46) + 4), 0.0f);

  // Every coefficient decodes to its stored value within the packing
  // resolution (1/8192 of the decade of the scaled value).
  int checked = 0;
  auto check = [&](int record, int lev, int F, int w) {
    EXPECT_EQ(i32_at(b, rec(record)), w);
    for (int c = 0; c < 2; ++c) {
      float re = 0, im = 0;
      const float a = run.amp.lev[lev][(F - 1) * nchmx + c];
      decode_fc(static_cast<std::uint32_t>(i32_at(b, rec(record) + 4 + 4 * c)), a, re, im);
      const double tol_re = 1.3e-3 * std::fabs(vre(c, F, w)) + a / 1000.0 * 1.3e-4;
      const double tol_im = 1.3e-3 * std::fabs(vim(c, F, w)) + a / 1000.0 * 1.3e-4;
      EXPECT_NEAR(re, vre(c, F, w), tol_re) << "level " << lev << " F " << F << " w " << w << " c " << c;
      EXPECT_NEAR(im, vim(c, F, w), tol_im) << "level " << lev << " F " << F << " w " << w << " c " << c;
      ++checked;
    }
  };
  for (int F = 1; F <= 3; ++F) {
    check(23 + 4 * (F - 1), 1, F, 5);
    check(24 + 4 * (F - 1), 1, F, 6);
  }
  check(41, 3, 1, 7);
  check(44, 3, 2, 7);
  EXPECT_EQ(checked, 16);
}

TEST_F(FcFolder, FcFileFinalChannelCountSetsTheRecordLength) {
  const std::string dir = fresh_dir();
  std::ostringstream out, err;
  std::istringstream in;
  Console con(out, err, in);
  int nch = 6;
  FcFileWriter w(dir + "/x.f6", nch, con);
  EXPECT_EQ(nch, 5);
  EXPECT_EQ(out.str(), " out_pack warning: nch= 6\n");
  FcHeader h;
  h.nch = 3;  // the system parameter file settled on three channels
  w.write_header(h);
  EXPECT_EQ(w.record_length(), 16);
}

TEST_F(FcFolder, FcFileOldFileIsReplacedOnlyByACompleteOne) {
  const std::string dir = fresh_dir();
  const std::string path = dir + "/site.f2";
  const std::vector<unsigned char> old = {'o', 'l', 'd'};
  write_bytes(path, old);
  SmallRun run;

  run.write(path, false);  // writer destroyed without commit: a run that stopped early
  EXPECT_EQ(bytes_of(path), old);
  EXPECT_EQ(names_in(dir), Names{"site.f2"});

  try {
    std::ostringstream out, err;
    std::istringstream in;
    Console con(out, err, in);
    int nch = 2;
    FcFileWriter w(path, nch, con);
    w.write_header(run.header());
    throw Error("stopped by a bad record");
  } catch (const Error&) {
  }
  EXPECT_EQ(bytes_of(path), old);
  EXPECT_EQ(names_in(dir), Names{"site.f2"});

  run.write(path);  // a complete run replaces it, nothing appended
  EXPECT_EQ(fs::file_size(path), 46u * 12);
  EXPECT_EQ(names_in(dir), Names{"site.f2"});
}

TEST_F(FcFolder, FcFileUnwritableFolderIsFoundAtSetUp) {
  std::ostringstream out, err;
  std::istringstream in;
  Console con(out, err, in);
  int nch = 2;
  const std::string path = fresh_dir() + "/no such folder/site.f2";
  try {
    FcFileWriter w(path, nch, con);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_THAT(e.what(), HasSubstr("no such folder/site.f2"));
  }
}

// A result made read-only is kept: the new file would be renamed over it,
// which the folder allows (and root could write it anyway), so the writer
// looks at the owner's write bit itself.
TEST_F(FcFolder, FcFileReadOnlyOldFileAndMissingFolderStopTheSetUp) {
  std::ostringstream out, err;
  std::istringstream in;
  Console con(out, err, in);
  int nch = 2;
  const std::string dir = fresh_dir();
  const std::string path = dir + "/site.f2";
  const std::vector<unsigned char> old = {'o', 'l', 'd'};
  write_bytes(path, old);
  fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  auto error_of = [&](const std::string& p) -> std::string {
    try {
      FcFileWriter w(p, nch, con);
    } catch (const Error& e) {
      return e.what();
    }
    return "no error";
  };
  EXPECT_EQ(error_of(path), "the Fourier-coefficient file \"" + path +
                                "\" exists and is read-only (its owner has no write permission); it is left as it "
                                "is: make it writable or move it away to write a new one");
  EXPECT_EQ(bytes_of(path), old);
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  EXPECT_EQ(names_in(dir), Names{"site.f2"});
  fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
  EXPECT_EQ(error_of(path), "no error");

  EXPECT_EQ(error_of(dir + "/out/site.f2"), "the output folder \"" + dir + "/out\" of the Fourier-coefficient file \"" +
                                                dir + "/out/site.f2\" does not exist");
  EXPECT_EQ(error_of(path + "/site.f2"), "the output folder \"" + path + "\" of the Fourier-coefficient file \"" +
                                             path + "/site.f2\" is not a folder");
}

// While a run writes, its files are private: unnamed where the file system
// allows (nothing shows but the lock), else under unique names ending in
// .part (the forced fallback). Either way the files put in place are the
// same, and a run that stops early leaves nothing of its own. The spill file
// never shows.
TEST_F(FcFolder, FcFileIsPrivateUntilCommittedUnnamedOrUnderUniqueNames) {
  const std::string dir = fresh_dir();
  const std::string path = dir + "/site.f2";
  SmallRun run;
  run.amp.lev[1][0] = 1e-9f;  // two coefficients overflow: a .log as well
  run.write(path);
  const std::vector<unsigned char> file = bytes_of(path), log = bytes_of(path + ".log");
  ASSERT_FALSE(log.empty());
  const bool unnamed = testing_support::unnamed_files_in(dir);
  const std::regex named_part("site\\.f2(\\.log)?\\.[A-Za-z0-9]{6}\\.part");

  for (const bool forced : {false, true}) {
    SCOPED_TRACE(forced ? "named files forced" : "unnamed files where possible");
    std::optional<testing_support::NamedPrivateFiles> named;
    if (forced) named.emplace();
    for (const bool commit : {false, true}) {
      std::ostringstream out, err;
      std::istringstream in;
      Console con(out, err, in);
      int n = 2;
      {
        FcFileWriter w(path, n, con);
        TempFile spill;
        spill.open(path + ".spill");
        spill.write_at(0, "spilled", 7);
        w.write_header(run.header());
        w.write_blocks(run.setup.nd, run.setup.levoff, run.store, run.amp);
        Names during = names_in(dir);
        const auto parts = std::erase_if(during, [&](const std::string& f) { return std::regex_match(f, named_part); });
        EXPECT_EQ(parts, forced || !unnamed ? 2u : 0u) << "the file and its .log, named while written";
        EXPECT_EQ(during, (Names{"site.f2", "site.f2.lock", "site.f2.log"}));
        char back[7];
        spill.read_at(0, back, 7);
        EXPECT_EQ(std::string(back, 7), "spilled");
        if (commit) {
          fs::remove(path);
          fs::remove(path + ".log");
          w.commit();
        }
      }
      // Committed: the set written anew; not: the earlier set untouched.
      EXPECT_EQ(names_in(dir), (Names{"site.f2", "site.f2.log"}));
      EXPECT_EQ(bytes_of(path), file);
      EXPECT_EQ(bytes_of(path + ".log"), log);
    }
  }
}

// A commit that fails has changed nothing. The .log goes in place before the
// file (the file's appearance means the set is complete), so when the .log
// cannot replace its name the file was not touched, and when the file cannot
// replace its name the earlier .log comes back (or, for a run without
// overflows, the earlier .log it had set aside to remove).
TEST_F(FcFolder, FcFileCommitThatFailsChangesNothing) {
  const std::string dir = fresh_dir();
  const std::string path = dir + "/site.f2";
  const std::vector<unsigned char> old = {'o', 'l', 'd'}, old_log = {'o', 'l', 'd', ' ', 'l', 'o', 'g'};
  SmallRun run;
  const float amplitude = run.amp.lev[1][0];
  // A folder takes the name of `name` between the set-up and the commit.
  auto commit_error = [&](const std::string& name) -> std::string {
    std::ostringstream out, err;
    std::istringstream in;
    Console con(out, err, in);
    int n = 2;
    try {
      FcFileWriter w(path, n, con);
      w.write_header(run.header());
      w.write_blocks(run.setup.nd, run.setup.levoff, run.store, run.amp);
      fs::remove(name);
      fs::create_directory(name);
      write_bytes(name + "/inside", old);
      w.commit();
    } catch (const Error& e) {
      return e.what();
    }
    return "no error";
  };

  run.amp.lev[1][0] = 1e-9f;  // overflow lines
  write_bytes(path, old);
  EXPECT_EQ(commit_error(path + ".log"), "cannot put the new diagnostic file in place: \"" + path +
                                             ".log\" is a folder; the earlier files are left as they were");
  EXPECT_EQ(bytes_of(path), old);
  EXPECT_EQ(names_in(dir), (Names{"site.f2", "site.f2.log"}));
  fs::remove_all(path + ".log");

  for (const bool overflow : {true, false}) {
    SCOPED_TRACE(overflow ? "with overflow lines" : "without");
    run.amp.lev[1][0] = overflow ? 1e-9f : amplitude;
    write_bytes(path + ".log", old_log);
    EXPECT_THAT(commit_error(path), ::testing::StartsWith("cannot put the new Fourier-coefficient file in place as \"" +
                                                         path + "\" (Is a directory); the earlier files are left"));
    EXPECT_EQ(bytes_of(path + ".log"), old_log);
    EXPECT_EQ(names_in(dir), (Names{"site.f2", "site.f2.log"}));
    fs::remove_all(path);
  }
}

// The output's lock: a second writer of the same output stops at set-up,
// naming the file, the holder and the lock file, and changes nothing; a
// writer of another station in the same folder is not held up; the lock
// ends with the commit; a lock file left by a killed run is taken over.
TEST_F(FcFolder, FcFileSecondWriterOfTheSameOutputStopsAtSetUp) {
  const std::string dir = fresh_dir();
  const std::string path = dir + "/site.f2";
  const std::vector<unsigned char> old = {'o', 'l', 'd'};
  write_bytes(path, old);
  SmallRun run;
  std::ostringstream out, err;
  std::istringstream in;
  Console con(out, err, in);
  int n = 2;
  char host[256] = {};
  ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
  auto error_of = [&](const std::string& p) -> std::string {
    try {
      FcFileWriter w(p, n, con);
    } catch (const Error& e) {
      return e.what();
    }
    return "no error";
  };
  {
    FcFileWriter first(path, n, con);
    EXPECT_EQ(error_of(path), "the Fourier-coefficient file \"" + path + "\" is being written by another run (process " +
                                  std::to_string(::getpid()) + " on host " + host + "), which holds its lock file \"" +
                                  path + ".lock\"; this run stops and changes nothing: run it again when the other " +
                                  "has ended");
    EXPECT_EQ(bytes_of(path), old);
    EXPECT_EQ(names_in(dir), (Names{"site.f2", "site.f2.lock"}));
    EXPECT_EQ(error_of(dir + "/other.f2"), "no error");
    first.write_header(run.header());
    first.write_blocks(run.setup.nd, run.setup.levoff, run.store, run.amp);
    first.commit();
    EXPECT_EQ(names_in(dir), Names{"site.f2"});
    EXPECT_EQ(error_of(path), "no error");
  }
  EXPECT_NE(bytes_of(path), old);
  write_bytes(path + ".lock", {'9', ' ', 'g', 'o', 'n', 'e', '\n'});
  run.write(path);
  EXPECT_EQ(names_in(dir), Names{"site.f2"});
}

TEST_F(FcFolder, FcFileOverflowsGoToALogCreatedOnlyWhenNeeded) {
  const std::string dir = fresh_dir();
  const std::string path = dir + "/site.f2";
  SmallRun run;
  write_bytes(path + ".log", {'s', 't', 'a', 'l', 'e'});
  run.write(path);
  EXPECT_FALSE(fs::exists(path + ".log"));  // no overflow: no diagnostic file, the stale one gone

  // A mean amplitude far below the coefficients makes the scaled channel-1
  // parts of level 11, F = 1 too large for the format.
  run.amp.lev[1][0] = 1e-9f;
  run.write(path);
  std::ifstream log(path + ".log");
  std::string l1, l2, l3;
  ASSERT_TRUE(std::getline(log, l1) && std::getline(log, l2));
  EXPECT_FALSE(std::getline(log, l3));
  EXPECT_THAT(l1, ::testing::StartsWith(" id,ifreq,xt1,i,j = 11 1 "));
  EXPECT_THAT(l1, ::testing::EndsWith(" 1 1"));
  EXPECT_THAT(l2, ::testing::EndsWith(" 2 1"));
  const std::vector<unsigned char> b = bytes_of(path);
  EXPECT_EQ(static_cast<std::uint32_t>(i32_at(b, 22 * 12 + 4)), fc_sentinel);
  EXPECT_NE(static_cast<std::uint32_t>(i32_at(b, 22 * 12 + 8)), fc_sentinel);  // channel 2 unaffected
}

TEST_F(FcFolder, FcFileDeadChannelPacksZerosWithoutDiagnostics) {
  const std::string path = fresh_dir() + "/site.f2";
  // Channel 2 of every stored row is zero, so are its mean amplitudes.
  SmallRun run(true);
  for (int l : {1, 3})
    for (std::size_t i = 1; i < run.amp.lev[l].size(); i += nchmx) ASSERT_EQ(run.amp.lev[l][i], 0.0f);
  run.write(path);
  EXPECT_FALSE(fs::exists(path + ".log"));
  const std::vector<unsigned char> b = bytes_of(path);
  EXPECT_EQ(static_cast<std::uint32_t>(i32_at(b, 22 * 12 + 8)), 0xFFF87FF8u);
  float re = 1, im = 1;
  decode_fc(0xFFF87FF8u, 0.0f, re, im);
  EXPECT_EQ(re, 0.0f);
  EXPECT_EQ(im, 0.0f);
}

// Windows of two levels (4 and 1 coefficients of 3 channels) read back in
// processing order, from memory and, with no budget, through the temporary
// file in chunks of at most the largest window, which cut the records that
// do not fit whole.
TEST_F(FcFolder, OutputStoreGivesTheWindowsBackInProcessingOrder) {
  DecSetup setup;
  setup.nd = 2;
  setup.levoff = 4;
  setup.lev[1].nfreq = 4;
  setup.lev[2].nfreq = 1;
  std::vector<float> win(wld * 10, 0.0f);
  auto fill = [&](float base) {
    for (int k = 1; k <= 4; ++k)
      for (int c = 0; c < nchmx; ++c) {
        win[wre(c, k)] = base + 10.0f * k + c;
        win[wim(c, k)] = -base - 10.0f * k - c;
      }
  };
  const std::string spill = fresh_dir() + "/st.f3.spill";
  for (std::int64_t budget : {spill_budget_default, std::int64_t(0)}) {
    OutputStore s;
    output_store_allocate(s, setup, 3, 100, budget, spill);
    EXPECT_EQ(s.capacity, budget == 0 ? 3u + 4 * 6 : 100u * (3 + 4 * 6));
    for (int w = 1; w <= 7; ++w) {
      fill(100.0f * w);
      if (w % 3 == 0)
        store_fc(s, 6, w, view(win, 2), 1);  // level 2, two of the store's channels
      else
        store_fc(s, 5, w, view(win, 3), 4);
    }
    EXPECT_THROW(store_fc(s, 6, 8, view(win, 3), 2), Error);  // level 2 keeps one coefficient
    EXPECT_THROW(store_fc(s, 7, 8, view(win, 3), 1), Error);  // no level 3
    EXPECT_EQ(s.windows, 7);
    EXPECT_EQ(s.rows, 5 * 4 + 2);
    EXPECT_EQ(s.ncoef_windows[1], (std::vector<std::int64_t>{0, 0, 0, 0, 5}));
    EXPECT_EQ(s.ncoef_windows[2], (std::vector<std::int64_t>{0, 2}));
    EXPECT_EQ(output_store_spilled(s), budget == 0);
    EXPECT_FALSE(fs::exists(spill));  // its name is gone from the folder while it is open

    std::vector<int> order[3];
    int chunks = 0;
    output_store_rewind(s);
    while (output_store_next_chunk(s)) {
      ++chunks;
      for (int lev : {1, 2})
        for (std::size_t at : chunk_level_records(s, lev)) {
          const SetRecord set = stored_set(s, at);
          EXPECT_EQ(set.level_id, 4 + lev);
          order[lev].push_back(set.window);
          const std::uint32_t* row = stored_row(s, at, set.ncoef);
          EXPECT_EQ(std::bit_cast<float>(row[1]), 100.0f * set.window + 10.0f * set.ncoef + 1) << set.window;
          EXPECT_EQ(std::bit_cast<float>(row[3 + 1]), -100.0f * set.window - 10.0f * set.ncoef - 1);
          EXPECT_EQ(std::bit_cast<float>(row[2]), lev == 2 ? 0.0f : 100.0f * set.window + 10.0f * set.ncoef + 2);
        }
    }
    EXPECT_EQ(order[1], (std::vector<int>{1, 2, 4, 5, 7}));
    EXPECT_EQ(order[2], (std::vector<int>{3, 6}));
    EXPECT_EQ(chunks, budget == 0 ? 7 : 1);
  }
}

// Files that are not Fourier-coefficient files, made from a good one.
TEST_F(FcFolder, FcReaderRefusesWhatIsNotAFourierCoefficientFile) {
  const std::string dir = fresh_dir();
  const std::string good = dir + "/site.f2";
  SmallRun run;
  run.write(good);
  const std::vector<unsigned char> b = bytes_of(good);
  struct Case {
    const char* name;
    std::vector<unsigned char> bytes;
    const char* message;
  };
  std::vector<Case> cases;
  std::string garbage = "This is a station log, not coefficients.\n";
  garbage.resize(400, 'x');
  cases.push_back({"garbage", {garbage.begin(), garbage.end()}, "does not start with \"nch\""});
  cases.push_back({"tiny", {'n', 'c'}, "only 2 bytes"});
  std::vector<unsigned char> longer = b;
  longer.push_back(0);
  cases.push_back({"longer", longer, "not a multiple of the record length 12"});
  cases.push_back({"cut", {b.begin(), b.end() - 12}, "ends inside a block header"});
  cases.push_back({"cut_level", {b.begin(), b.end() - 24}, "ends after frequency index 2 of level 13"});
  std::vector<unsigned char> many = b;
  many[20 * 12 + 8] = 100;  // level 11, F = 1 claims 100 windows
  cases.push_back({"many", many, "declares 100 coefficient records"});
  std::vector<unsigned char> nine = b;
  nine[7] = '9';
  cases.push_back({"nine", nine, "channel count 9"});
  std::vector<unsigned char> order = b;
  order[24 * 12 + 4] = 3;  // second block of level 11 says F = 3
  cases.push_back({"order", order, "expected the block of level 11 and frequency index 2"});
  // Level identifiers at the ends of the 32-bit range in the first block, from
  // which every later level is counted.
  std::vector<unsigned char> id_max = b, id_min = b;
  id_max[20 * 12 + 0] = id_max[20 * 12 + 1] = id_max[20 * 12 + 2] = 0xff;
  id_max[20 * 12 + 3] = 0x7f;
  id_min[20 * 12 + 0] = id_min[20 * 12 + 1] = id_min[20 * 12 + 2] = 0;
  id_min[20 * 12 + 3] = 0x80;
  cases.push_back({"id_max", id_max, "the first block's level identifier is 2147483647; expected 2 to 11"});
  cases.push_back({"id_min", id_min, "the first block's level identifier is -2147483648; expected 2 to 11"});
  for (const Case& c : cases) {
    const std::string path = dir + "/" + c.name;
    write_bytes(path, c.bytes);
    try {
      FcReader fc(path);
      ADD_FAILURE() << c.name << " accepted";
    } catch (const Error& e) {
      EXPECT_THAT(e.what(), HasSubstr(c.message)) << c.name;
      EXPECT_THAT(e.what(), HasSubstr(path)) << c.name;
      EXPECT_THAT(e.what(), HasSubstr("byte offset")) << c.name;
    }
    std::ostringstream out, err;
    EXPECT_EQ(fcdump_main({path}, out, err), 1) << c.name;
    EXPECT_THAT(err.str(), HasSubstr(c.message)) << c.name;
  }
}

// The header and level tables of fcdump: tests/stations/fc_levels_switched_off
// (the same set-up, as a station run). Here the CSV of known coefficients.
TEST_F(FcFolder, FcDumpCsvGivesTheStoredCoefficients) {
  const std::string path = fresh_dir() + "/site.f2";
  SmallRun run;
  run.write(path);
  std::ostringstream err;
  std::ostringstream csv;
  EXPECT_EQ(fcdump_main({"--csv", path}, csv, err), 0);
  std::istringstream lines(csv.str());
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "level,findex,freq_hz,window,channel,re,im");
  int n = 0;
  bool seen = false;
  while (std::getline(lines, line)) {
    ++n;
    if (line.rfind("13,2,0.015625,7,2,", 0) == 0) {  // F / (nwin dr) = 2 / (16 * 8)
      seen = true;
      std::istringstream v(line.substr(18));
      double re = 0, im = 0;
      char comma = 0;
      v >> re >> comma >> im;
      EXPECT_NEAR(re, vre(1, 2, 7), 1.3e-3 * std::fabs(vre(1, 2, 7)));
      EXPECT_NEAR(im, vim(1, 2, 7), 1.3e-3 * std::fabs(vim(1, 2, 7)));
    }
  }
  EXPECT_EQ(n, 16);  // 8 coefficient records of 2 channels
  EXPECT_TRUE(seen);
}

TEST_F(FcFolder, FcDumpRejectsGarbageWithStatusOne) {
  const std::string path = fresh_dir() + "/notes.txt";
  write_bytes(path, std::vector<unsigned char>(100, 'z'));
  std::ostringstream out, err;
  EXPECT_EQ(fcdump_main({path}, out, err), 1);
  EXPECT_THAT(err.str(), HasSubstr("is not a Fourier-coefficient file"));
  EXPECT_EQ(fcdump_main({}, out, err), 1);
  EXPECT_EQ(fcdump_main({"--csv", path + ".missing"}, out, err), 1);
}

}  // namespace
}  // namespace qv
