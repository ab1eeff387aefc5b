#include "calibration/response_table.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "calibration/channel_filters.hpp"
#include "common/error.hpp"
#include "common/math_constants.hpp"

namespace qv {

namespace {

// Real response of the decimation filter of a level at f hertz, the taps
// spaced dr_prev seconds.
float decimation_filter_response(const LevelSetup& lv, float f, float dr_prev) {
  float h = lv.coef[0];
  for (int j = 1; j < lv.nfc && j < nfcmx; ++j)
    h += 2.0f * lv.coef[j] * std::cos(twopi * f * static_cast<float>(j) * dr_prev);
  return h;
}

// Divides every factor of channel c by g H(f) of one of its filters, in
// double precision, at the harmonics of every level.
void divide_by_filter(ResponseTable& rt, const DecSetup& setup, const std::array<float, ndmx + 1>& dr,
                      const SystemParameters& sp, int c, int j, const ChannelFilter& flt, Console& con,
                      const FilterSink& sink) {
  for (int L = 1; L <= setup.nd; ++L) {
    const LevelSetup& lv = setup.lev[L];
    for (int k = 1; k <= lv.nfreq; ++k) {
      const float f = harmonic_frequency(lv, dr[L], k);
      // The table filters have always reported every frequency they are
      // evaluated at.
      if (flt.type == ft_te || flt.type == ft_tb) con.say(flt.type, "LMT");
      if (flt.type == ft_pa || flt.type == ft_05) con.say(flt.type, "PDAS");
      std::complex<double> gH;
      if (!channel_filter_response(flt, f, gH)) {
        con.say("resptbl failed");
        con.say("channel", c + 1, "file", flt.file, "frequency", f);
        throw Error(filter_place(sp, c, j) + ": the response table " + flt.file + " does not reach " +
                    Console::num(f) + " Hz (level " + std::to_string(L) + ", frequency index " + std::to_string(k) +
                    ")");
      }
      if (flt.type == ft_te || flt.type == ft_tb) con.say(flt.type, "j.le.6");
      if (gH == 0.0)
        throw Error(filter_place(sp, c, j) + ": its response is 0 at " + Console::num(f) + " Hz (level " +
                    std::to_string(L) + ", frequency index " + std::to_string(k) + "), which cannot be divided out");
      std::complex<float>& r = rt.lev[L][rtidx(c, k)];
      r = std::complex<float>(std::complex<double>(r) / gH);
      if (sink) sink(c, j, L, k, gH);
    }
  }
}

}  // namespace

void response_table_allocate(ResponseTable& rt, const DecSetup& setup) {
  for (int l = 0; l <= ndmx; ++l) {
    const int nfreq = (l >= 1 && l <= setup.nd) ? setup.lev[l].nfreq : 0;
    rt.lev[l].assign(nfreq > 0 ? static_cast<std::size_t>(nfreq) * nchmx : 0, std::complex<float>(0, 0));
  }
}

void build_response_table(ResponseTable& rt, const DecSetup& setup, const std::array<float, ndmx + 1>& dr,
                          const SystemParameters& sp, int nch, const std::string& sensor_dir, Console& con,
                          const FilterSink& sink) {
  const int nd = setup.nd;
  if (nch < 1 || nch > nchmx) throw Error("response table: impossible channel count " + std::to_string(nch));
  for (int L = 1; L <= nd; ++L)
    if (rt.lev[L].size() < static_cast<std::size_t>(std::max(setup.lev[L].nfreq, 0)) * nchmx)
      throw Error("response table: level " + std::to_string(L) + " was not allocated for its coefficients");

  // 1. Scale factor (physical units per count), the spectral normalisation
  //    sqrt(dr) that makes the coefficients independent of the level's
  //    sample interval, and for first-differenced channels the inverse of
  //    the difference filter, 1 / (exp(i 2 pi k / nwin) - 1).
  for (int L = 1; L <= nd; ++L) {
    const LevelSetup& lv = setup.lev[L];
    const float root_dr = std::sqrt(dr[L]);
    for (int k = 1; k <= lv.nfreq; ++k) {
      const float angle = twopi * static_cast<float>(k) / static_cast<float>(lv.nwin);
      const std::complex<double> d =
          1.0 / (std::exp(std::complex<double>(0.0, static_cast<double>(angle))) - 1.0);
      for (int c = 0; c < nchmx; ++c) {
        std::complex<float>& r = rt.lev[L][rtidx(c, k)];
        if (c >= nch) {
          r = 0;
          continue;
        }
        const float s = sp.ch[c].scale * root_dr;
        r = setup.pwdiff[L][c] ? std::complex<float>(static_cast<double>(s) * d) : std::complex<float>(s, 0.0f);
      }
    }
  }

  // 2. Decimation filters. The filter of level L (L >= 2) acted on the data of
  //    every level from L on. The cascade divides every decimated sample by
  //    the sum of the weights it used, i.e. it renormalises the filter to unit
  //    gain at zero frequency; so the response to undo is H_L(f) divided by
  //    coef(1) + 2 sum coef(j). Dividing by the raw response would leave a
  //    constant calibration error on every level whose taps do not sum to one.
  for (int L = 2; L <= nd; ++L) {
    const LevelSetup& filt = setup.lev[L];
    const float g0 = filter_dc_gain(filt);  // not 0: the set-up reader refuses such taps
    for (int M = L; M <= nd; ++M) {
      const LevelSetup& lv = setup.lev[M];
      for (int k = 1; k <= lv.nfreq; ++k) {
        const float f = harmonic_frequency(lv, dr[M], k);
        const float h = decimation_filter_response(filt, f, dr[L - 1]) / g0;
        for (int c = 0; c < nch; ++c) rt.lev[M][rtidx(c, k)] /= h;
      }
    }
  }

  // 3. System delay: the recording system delays the signal by tau_s
  //    seconds, which the forward transform (exp(-i 2 pi f t)) sees as a
  //    factor exp(-i 2 pi f tau_s); exp(+i 2 pi f tau_s) takes it out.
  for (int L = 1; L <= nd; ++L) {
    const LevelSetup& lv = setup.lev[L];
    for (int k = 1; k <= lv.nfreq; ++k) {
      const float f = harmonic_frequency(lv, dr[L], k);
      const std::complex<float> delay = std::exp(std::complex<float>(0.0f, twopi * f * sp.sysdelay));
      for (int c = 0; c < nch; ++c) rt.lev[L][rtidx(c, k)] *= delay;
    }
  }

  // 4. The analog filters and instrument responses of every channel, in the
  //    order of its list. One filter is loaded at a time.
  ChannelFilter flt;
  for (int c = 0; c < nch; ++c) {
    const ChannelDescription& ch = sp.ch[static_cast<std::size_t>(c)];
    for (int j = 0; j < ch.nfilt; ++j) {
      prepare_filter(sp, c, j, sensor_dir, flt, con);
      if (flt.left_out) {
        con.say(filter_place(sp, c, j) + " left out: no response table from " + flt.file);
        continue;
      }
      divide_by_filter(rt, setup, dr, sp, c, j, flt, con, sink);
    }
  }
}

}  // namespace qv
