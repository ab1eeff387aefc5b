#include "driver/decset.hpp"

#include <algorithm>
#include <cstdlib>
#include <span>
#include <string>

#include "common/error.hpp"
#include "common/text.hpp"
#include "common/text_reader.hpp"

namespace qv {

namespace {

std::string level_value(const std::string& file, int lev, const std::string& what) {
  return file + ", decimation level " + std::to_string(lev) + ": " + what;
}

// Values that the cascade, the window scheduling and the output cannot handle
// safely are refused here, where the file and level can still be named.
void check_level(const std::string& file, int lev, const LevelSetup& ls) {
  if (ls.nwin < 1)
    throw Error(level_value(file, lev, "nwin = " + std::to_string(ls.nwin) + " (window length must be at least 1)"));
  if (!(ls.olap < static_cast<float>(ls.nwin)))
    throw Error(level_value(file, lev, "olap = " + Console::num(ls.olap) + " (overlap must be below nwin = " +
                                           std::to_string(ls.nwin) + ")"));
  if (ls.decfac < 1)
    throw Error(level_value(file, lev, "decfac = " + std::to_string(ls.decfac) + " (decimation factor must be at least 1)"));
  if (lev >= 2 && (ls.nfc < 1 || ls.nfc > nfcmx))
    throw Error(level_value(file, lev, "nfc = " + std::to_string(ls.nfc) + " (decimation filter length must be 1..5)"));
  if (lev == 1 && ls.nfc < 0)
    throw Error(level_value(file, lev, "nfc = " + std::to_string(ls.nfc) + " (must not be negative)"));
  if (ls.nfreq > ls.nwin / 2)
    throw Error(level_value(file, lev, "nfreq = " + std::to_string(ls.nfreq) + " (a window of " +
                                           std::to_string(ls.nwin) + " samples has only " +
                                           std::to_string(ls.nwin / 2) + " Fourier coefficients)"));
  if (ls.nspan < 1 || ls.nspan > nspanmx)
    throw Error(level_value(file, lev, "nspan = " + std::to_string(ls.nspan) + " (median neighbourhood must be 1..63)"));
}

}  // namespace

int cf_decset(const std::string& decset_name, const std::string& pwset_name, int window_limit, int nch,
              DecSetup& setup, Console& con) {
  TextReader f;
  if (!f.open(decset_name)) {
    con.say("ERROR OPENING DECSET FILE !");
    throw Error("cannot open the decimation set-up file " + decset_name);
  }
  int nd = 0, levoff = 0;
  f.require(f.read(nd, levoff), "the number of levels and the level offset");
  setup.levoff = levoff;
  if (nd > ndmx) {
    con.say("error: # of dec. levels exceeds ndmx");
    return decset_too_many_levels;
  }
  if (nd < 1)
    throw Error(decset_name + ", line 1: nd = " + std::to_string(nd) + " (at least one decimation level is needed)");
  setup.nd = nd;

  con.blank();
  con.say("Decimation Level Setup from: " + std::string(trim_right(decset_name)));
  con.blank();
  con.say("DLEV   NPOINTS   OLAP   DEC-FAC   NFC");

  for (int i = 1; i <= nd; ++i) {
    LevelSetup& ls = setup.lev[i];
    f.require(f.read(ls.nwin, ls.olap, ls.decfac, ls.iphase, ls.ianchor, ls.nspan, ls.nbadmx, ls.nfreq, ls.nfc),
              "nine values of decimation level " + std::to_string(i) +
                  " (nwin olap decfac iphase ianchor nspan nbadmx nfreq nfc)");
    if (window_limit < ls.nwin) {
      con.say("nwmx ( = ", nwmx, ") not set large enough");
      con.say("decimation level = ", i, " nwin = ", ls.nwin);
      return decset_level_too_large;
    }
    if (ls.nfc > nfcmx) {
      con.say("nfcmx ( = ", nfcmx, ") not set large enough");
      con.say("decimation level = ", i, " nfc = ", ls.nfc);
      return decset_level_too_large;
    }
    check_level(decset_name, i, ls);
    if (ls.nfc > 0) {
      FreeField fields[nfcmx] = {ls.coef[0], ls.coef[1], ls.coef[2], ls.coef[3], ls.coef[4]};
      f.require(f.read(std::span<const FreeField>(fields, ls.nfc)),
                std::to_string(ls.nfc) + " filter coefficients of decimation level " + std::to_string(i));
    } else {
      // The coefficient line is there even when the level has no filter.
      std::string_view skipped;
      if (!f.next_line(skipped))
        throw Error("file " + decset_name + ", line " + std::to_string(f.line_number() + 1) +
                    ": expected the filter coefficient line of decimation level " + std::to_string(i) +
                    ", found the end of the file");
    }
  }
  f.close();

  TextReader p;
  if (!p.open(pwset_name)) {
    con.say("ERROR OPENING PWSET FILE !");
    throw Error("cannot open the pre-whitening set-up file " + pwset_name);
  }
  con.blank();
  con.blank();
  int npw = 0;
  p.require(p.read(npw), "the number of levels");
  if (npw != nd) {
    con.say("nd set incorrectly in cf_pwset");
    return decset_pw_level_mismatch;
  }
  for (int i = 1; i <= nd; ++i) {
    int v = 0;
    p.require(p.read(v), "the pre-whitening value of level " + std::to_string(i));
    // -1 selects the first difference (length 2); any other value gives an
    // autoregressive prediction-error filter of length |v| (1 = none).
    int len = (v == -1) ? 2 : std::max(1, std::abs(v));
    if (len > pwlenmx)
      throw Error(pwset_name + ", level " + std::to_string(i) + ": pre-whitening value " + std::to_string(v) +
                  " (filter length " + std::to_string(len) + " exceeds the 41 a window can hold)");
    for (int k = 0; k < nch && k < nchmx; ++k) {
      setup.pwdiff[i][k] = (v == -1);
      setup.pworder[i][k] = len;
    }
    setup.lev[i].pwlen = setup.pworder[i][0];
  }
  return decset_ok;
}

}  // namespace qv
