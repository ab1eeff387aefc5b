// The decimation and pre-whitening set-up files. A set-up the reader accepts
// must also give the quantities later steps derive from it (cumulative
// factors, level intervals, level buffer sizes) without overflow.
#include "common/limits.hpp"
#include "driver/decset.hpp"
#include "dsp/decimation.hpp"
#include "fuzz/harnesses/support.hpp"

namespace qv::fuzz {

int decset(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  const int nch = 1 + in.byte() % nchmx;
  const auto parts = split_parts(in.rest(), 2);
  return expect_errors([&] {
    const std::string dec = write_file(scratch() / "decset.cfg", parts[0]);
    const std::string pw = write_file(scratch() / "pwset.cfg", parts[1]);
    QuietConsole q;
    DecSetup setup;
    cf_decset(dec, pw, nwmx, nch, setup, q.con);
    level_intervals(setup, 0.0078125f, "st.sp");
    for (int lev = 1; lev <= setup.nd; ++lev) {
      cumulative_factor(setup, lev);
      level_slots(setup, lev);
    }
  });
}

}  // namespace qv::fuzz
