#include "driver/run_state.hpp"

#include <algorithm>

namespace qv {

void allocate_run_arrays(RunState& st) {
  const DecSetup& s = st.setup;
  int nwin_max = 1;
  for (int lev = 1; lev <= s.nd; ++lev) nwin_max = std::max(nwin_max, s.lev[lev].nwin);

  cascade_allocate(st.cascade, s, st.nch, st.threshold);
  // The window holds nwin + pwlen - 1 samples of every channel while it is
  // prepared, then its coefficients in place.
  st.window.assign(static_cast<std::size_t>(nchmx) * (nwin_max + nwspare), 0.0f);
  fft_work_allocate(st.fft_work, nwin_max);
  for (int lev = 1; lev <= s.nd; ++lev) {
    fft_setup(s.lev[lev].nwin, st.fft[lev]);
    st.taper[lev].assign(s.lev[lev].nwin, 0.0f);
    st.taper_flag[lev] = true;
  }
  response_table_allocate(st.response, s);
  amplitude_allocate(st.amplitudes, s);
  output_store_allocate(st.store, NSMAX, st.nfmx, st.nch);
  st.sets.clear();
  st.sets.reserve(NSMAX);
}

}  // namespace qv
