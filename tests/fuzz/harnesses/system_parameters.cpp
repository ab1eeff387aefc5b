// The system parameter file, and the parameter line of every filter it lists
// read by the filter's type (loading the pole-zero and table files a line
// names from a sensor folder that holds one of each kind), then evaluated.
#include "calibration/channel_filters.hpp"
#include "calibration/system_parameters.hpp"
#include "fuzz/harnesses/support.hpp"

namespace qv::fuzz {

namespace {

// The sensor folder: files that the seeds' filter lines name.
const std::filesystem::path& sensors() {
  static const std::filesystem::path dir = [] {
    const auto d = scratch() / "sensors";
    write_file(d / "coil.rsp", "1 2 1.5D+02 (0.0,0.0) (-1.0E1,2.5), (-3d0 , -4.0)\n");
    write_file(d / "coil.ap", "Coil 4711, f [Hz]  A  phi\n 5.0 8.0 50.0\n3.0, 4.0, 30.0\n1.0 2.0 10.0 last\n");
    write_file(d / "coil.te", "h1\nh2\nh3\nh4\nh5\n1\n   2.0   1.5  10.0   9.0   9.0   9.0   9.0   9.0   9.0\n  1\n"
                              "   1.0  11.0   1.0  12.0   2.0  13.0   3.0  14.0   4.0\n0\n");
    return d;
  }();
  return dir;
}

}  // namespace

int system_parameters(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  return expect_errors([&] {
    std::string name = write_file(scratch() / "st.sp", text);
    QuietConsole q;
    const SystemParameters sp = GETSP(name, 11.5f, q.con);
    const int nch = sp.nch == 6 ? 5 : sp.nch;
    ChannelFilter f;
    for (int c = 0; c < nch; ++c)
      for (int j = 0; j < sp.ch[static_cast<std::size_t>(c)].nfilt; ++j) {
        prepare_filter(sp, c, j, sensors().string(), f, q.con);
        std::complex<double> gH;
        for (float hz : {0.001f, 0.5f, 2.0f, 64.0f}) channel_filter_response(f, hz, gH);
      }
  });
}

}  // namespace qv::fuzz
