#include "driver/decset.hpp"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <span>
#include <string>

#include "common/error.hpp"
#include "common/text.hpp"
#include "common/text_reader.hpp"
#include "dsp/decimation.hpp"
#include "output/fc_header.hpp"

namespace qv {

namespace {

[[noreturn]] void refuse(const std::string& file, int lev, const std::string& what) {
  throw Error(file + ", decimation level " + std::to_string(lev) + ": " + what);
}

// Values of one level that the cascade, the window scheduling and the output
// cannot handle, refused as soon as the level is read.
void check_level(const std::string& file, int lev, const LevelSetup& ls) {
  const std::string olap = Console::num(ls.olap);
  if (ls.nwin < 1) refuse(file, lev, "nwin = " + std::to_string(ls.nwin) + " (window length must be at least 1)");
  if (!(ls.olap < static_cast<float>(ls.nwin)))
    refuse(file, lev, "olap = " + olap + " (overlap must be below nwin = " + std::to_string(ls.nwin) + ")");
  // A negative overlap leaves a gap between windows; a gap beyond the length
  // of a level buffer could never be bridged.
  if (ls.olap < -static_cast<float>(nslotmx))
    refuse(file, lev, "olap = " + olap + " (windows can be at most " + std::to_string(nslotmx) +
                          " samples apart: olap must be at least -" + std::to_string(nslotmx) + ")");
  if (ls.decfac < 1)
    refuse(file, lev, "decfac = " + std::to_string(ls.decfac) + " (decimation factor must be at least 1)");
  if (lev >= 2 && (ls.nfc < 1 || ls.nfc > nfcmx))
    refuse(file, lev, "nfc = " + std::to_string(ls.nfc) + " (decimation filter length must be 1..5)");
  if (lev == 1 && ls.nfc < 0) refuse(file, lev, "nfc = " + std::to_string(ls.nfc) + " (must not be negative)");
  if (ls.nfreq > ls.nwin / 2)
    refuse(file, lev, "nfreq = " + std::to_string(ls.nfreq) + " (a window of " + std::to_string(ls.nwin) +
                          " samples has only " + std::to_string(ls.nwin / 2) + " Fourier coefficients)");
  if (ls.nspan < 1 || ls.nspan > nspanmx)
    refuse(file, lev, "nspan = " + std::to_string(ls.nspan) + " (median neighbourhood must be 1..63)");
  if (ls.nbadmx < 0)
    refuse(file, lev, "nbadmx = " + std::to_string(ls.nbadmx) + " (missing samples tolerated must be 0 or more)");
}

// The decimation filter is renormalised to unit gain at zero frequency, so
// its taps must not sum to zero.
void check_filter(const std::string& file, int lev, const LevelSetup& ls) {
  if (lev >= 2 && filter_dc_gain(ls) == 0.0f) {
    std::string taps;
    for (int j = 0; j < ls.nfc; ++j) {
      if (j > 0) taps += ' ';
      taps += Console::num(ls.coef[static_cast<std::size_t>(j)]);
    }
    refuse(file, lev, "filter coefficients " + taps +
                          " (centre tap plus twice the side taps is 0; the filter cannot be normalised)");
  }
}

// Quantities derived from the whole set-up: the decimation-factor product,
// the window step in input samples and the level buffer each level needs.
void check_cascade(const std::string& file, const DecSetup& s) {
  std::int64_t prod = 1;  // decfac(1) * ... * decfac(lev): input samples per sample of the level
  for (int lev = 1; lev <= s.nd; ++lev) {
    const LevelSetup& ls = s.lev[lev];
    prod *= ls.decfac;
    if (prod > INT_MAX)
      refuse(file, lev, "decfac = " + std::to_string(ls.decfac) + " (the product of the decimation factors up to " +
                            "this level exceeds " + std::to_string(INT_MAX) + " input samples)");
    if (ls.nfreq < 1) continue;
    const float stepf = static_cast<float>(ls.nwin) - ls.olap;
    const std::int64_t step = static_cast<std::int64_t>(stepf) * prod;
    if (!(stepf >= 1.0f) || step > INT_MAX)
      refuse(file, lev, "nwin = " + std::to_string(ls.nwin) + ", olap = " + Console::num(ls.olap) +
                            " (the window step must be 1 to " + std::to_string(INT_MAX) +
                            " input samples; it is " + Console::num(static_cast<double>(stepf) * double(prod)) + ")");
  }
  for (int lev = 1; lev <= s.nd; ++lev) {
    const std::int64_t slots = level_slots(s, lev);
    if (slots > nslotmx)
      refuse(file, lev, "the level needs " + std::to_string(slots) + " buffer slots for its windows and the " +
                            "decimation filter of the next level; at most " + std::to_string(nslotmx) +
                            " are available (shorten nwin, the gap -olap or the next level's decfac)");
  }
}

// Line 1 of the decimation set-up: the number of levels and the level
// offset, refused when the run or the file header cannot hold them.
int read_level_count(TextReader& f, const std::string& decset_name, DecSetup& setup, Console& con) {
  int nd = 0, levoff = 0;
  f.require(f.read(nd, levoff), "the number of levels and the level offset");
  setup.levoff = levoff;
  if (nd > ndmx) {
    con.say("error: # of dec. levels exceeds ndmx");
    con.say(std::string("parameters read from cf_decset are inconsistent") + " with parameters declared in main program");
    throw Error(decset_name + ", line 1: nd = " + std::to_string(nd) + " decimation levels; a run has at most " +
                std::to_string(ndmx));
  }
  if (nd < 1)
    throw Error(decset_name + ", line 1: nd = " + std::to_string(nd) + " (at least one decimation level is needed)");
  if (std::int64_t(levoff) + 1 < fc_level_id_min || std::int64_t(levoff) + nd > fc_level_id_max)
    throw Error(decset_name + ", line 1: levoff = " + std::to_string(levoff) + " (the level identifiers levoff + 1 " +
                "to levoff + nd would run from " + std::to_string(std::int64_t(levoff) + 1) + " to " +
                std::to_string(std::int64_t(levoff) + nd) + "; to fit the Fourier-coefficient file header they must " +
                "lie within " + std::to_string(fc_level_id_min) + " to " + std::to_string(fc_level_id_max) + ")");
  return nd;
}

// The two lines of level i: its nine values, then its filter coefficients
// (the line is there even when the level has no filter).
void read_level(TextReader& f, const std::string& decset_name, int i, int window_limit, LevelSetup& ls,
                Console& con) {
  f.require(f.read(ls.nwin, ls.olap, ls.decfac, ls.iphase, ls.ianchor, ls.nspan, ls.nbadmx, ls.nfreq, ls.nfc),
            "nine values of decimation level " + std::to_string(i) +
                " (nwin olap decfac iphase ianchor nspan nbadmx nfreq nfc)");
  if (window_limit < ls.nwin) {
    con.say("nwmx ( = ", nwmx, ") not set large enough");
    con.say("decimation level = ", i, " nwin = ", ls.nwin);
    refuse(decset_name, i, "nwin = " + std::to_string(ls.nwin) + " samples; a window holds at most " +
                               std::to_string(window_limit));
  }
  if (ls.nfc > nfcmx) {
    con.say("nfcmx ( = ", nfcmx, ") not set large enough");
    con.say("decimation level = ", i, " nfc = ", ls.nfc);
    refuse(decset_name, i, "nfc = " + std::to_string(ls.nfc) + " filter coefficients; a level holds at most " +
                               std::to_string(nfcmx));
  }
  check_level(decset_name, i, ls);
  if (ls.nfc > 0) {
    FreeField fields[nfcmx] = {ls.coef[0], ls.coef[1], ls.coef[2], ls.coef[3], ls.coef[4]};
    f.require(f.read(std::span<const FreeField>(fields, ls.nfc)),
              std::to_string(ls.nfc) + " filter coefficients of decimation level " + std::to_string(i));
  } else {
    std::string_view skipped;
    if (!f.next_line(skipped))
      throw Error("file " + decset_name + ", line " + std::to_string(f.line_number() + 1) +
                  ": expected the filter coefficient line of decimation level " + std::to_string(i) +
                  ", found the end of the file");
  }
  check_filter(decset_name, i, ls);
}

// The pre-whitening set-up: one value per decimation level.
void read_prewhitening(const std::string& pwset_name, const std::string& decset_name, int nch, DecSetup& setup,
                       Console& con) {
  TextReader p;
  if (!p.open(pwset_name)) {
    con.say("ERROR OPENING PWSET FILE !");
    throw Error("cannot open the pre-whitening set-up file " + pwset_name);
  }
  con.blank();
  con.blank();
  const int nd = setup.nd;
  int npw = 0;
  p.require(p.read(npw), "the number of levels");
  if (npw != nd) {
    con.say("nd set incorrectly in cf_pwset");
    throw Error(pwset_name + ", line 1: " + std::to_string(npw) + " pre-whitening levels, but the decimation set-up " +
                decset_name + " has " + std::to_string(nd) + "; give one value per decimation level");
  }
  for (int i = 1; i <= nd; ++i) {
    int v = 0;
    p.require(p.read(v), "the pre-whitening value of level " + std::to_string(i));
    // -1 selects the first difference (length 2); any other value gives an
    // autoregressive prediction-error filter of length |v| (1 = none).
    const std::int64_t len = (v == -1) ? 2 : std::max<std::int64_t>(1, v < 0 ? -std::int64_t(v) : v);
    if (len > pwlenmx)
      throw Error(pwset_name + ", level " + std::to_string(i) + ": pre-whitening value " + std::to_string(v) +
                  " (filter length " + std::to_string(len) + " exceeds the 41 a window can hold)");
    for (int k = 0; k < nch && k < nchmx; ++k) {
      setup.pwdiff[i][k] = (v == -1);
      setup.pworder[i][k] = static_cast<int>(len);
    }
    setup.lev[i].pwlen = setup.pworder[i][0];
  }
}

}  // namespace

void cf_decset(const std::string& decset_name, const std::string& pwset_name, int window_limit, int nch,
               DecSetup& setup, Console& con) {
  TextReader f;
  if (!f.open(decset_name)) {
    con.say("ERROR OPENING DECSET FILE !");
    throw Error("cannot open the decimation set-up file " + decset_name);
  }
  const int nd = read_level_count(f, decset_name, setup, con);
  setup.nd = nd;

  con.blank();
  con.say("Decimation Level Setup from: " + std::string(trim_right(decset_name)));
  con.blank();
  con.say("DLEV   NPOINTS   OLAP   DEC-FAC   NFC");
  for (int i = 1; i <= nd; ++i) read_level(f, decset_name, i, window_limit, setup.lev[i], con);
  f.close();

  read_prewhitening(pwset_name, decset_name, nch, setup, con);
  check_cascade(decset_name, setup);
}

}  // namespace qv
