#include "driver/response_report.hpp"

#include <cmath>
#include <complex>
#include <map>
#include <numbers>
#include <tuple>

#include "calibration/response_table.hpp"
#include "calibration/system_parameters.hpp"
#include "common/error.hpp"
#include "common/program_entry.hpp"
#include "common/text.hpp"
#include "driver/decset.hpp"
#include "input/open_input.hpp"

namespace qv {

namespace {

constexpr double kDegrees = 180.0 / std::numbers::pi;

void write_complex(std::ostream& csv, std::complex<double> z) {
  csv << ',' << Console::num(std::abs(z)) << ',' << Console::num(std::arg(z) * kDegrees);
}

void write_table(std::ostream& csv, const ResponseTable& rt, const DecSetup& setup,
                 const std::array<float, ndmx + 1>& dr, const SystemParameters& sp, int nch,
                 const std::map<std::tuple<int, int, int, int>, std::complex<double>>& filters) {
  csv << "channel,id,level,findex,freq_hz,amplitude,phase_deg";
  for (int j = 1; j <= nfiltmx; ++j)
    csv << ",filter" << j << ",filter" << j << "_amplitude,filter" << j << "_phase_deg";
  csv << '\n';
  for (int c = 0; c < nch; ++c) {
    const ChannelDescription& ch = sp.ch[static_cast<std::size_t>(c)];
    for (int L = 1; L <= setup.nd; ++L) {
      const LevelSetup& lv = setup.lev[L];
      for (int k = 1; k <= lv.nfreq; ++k) {
        csv << c + 1 << ',' << trim(ch.id) << ',' << L << ',' << k << ','
            << Console::num(harmonic_frequency(lv, dr[L], k));
        write_complex(csv, std::complex<double>(rt.lev[L][rtidx(c, k)]));
        for (int j = 0; j < nfiltmx; ++j) {
          const auto at = filters.find({c, j, L, k});
          if (j >= ch.nfilt || at == filters.end()) {
            csv << ",,,";
            continue;
          }
          csv << ',' << trim(ch.fcode[static_cast<std::size_t>(j)]);
          write_complex(csv, at->second);
        }
        csv << '\n';
      }
    }
  }
}

}  // namespace

namespace {

constexpr const char* kResponseTableUsage =
    "usage: response_table [-f:]NAME\n"
    "  run in a station's folder; NAME is the time-series file name, whose base name\n"
    "  names the system parameter file. Prints the response table of every channel,\n"
    "  level and frequency index, with the response of each filter, as CSV.\n"
    "  -h, --help     this text\n"
    "  --version      the version\n"
    "Exit status: 0 when the table was written whole, 1 otherwise.\n";

}  // namespace

int response_report_main(const std::vector<std::string>& args, std::ostream& csv, Console& con) {
  const ProgramInfo info{"response_table", kResponseTableUsage};
  // The table goes to csv (standard output); --help and --version answer there too.
  return guarded_main(info, args, csv, con.err(), [&] {
    if (args.size() != 1 || args[0].empty() || args[0] == "-f:") {
      con.err() << kResponseTableUsage;
      return 1;
    }
    const std::string name(trim(args[0].rfind("-f:", 0) == 0 ? args[0].substr(3) : args[0]));
    const InputFileSet files = form_file_names(name, find_paths_file(con), 0);
    std::string sp_name = files.sp;
    const SystemParameters sp = GETSP(sp_name, 0.0f, con);
    const int nch = sp.nch == 6 ? 5 : sp.nch;  // six declared channels: five are processed
    DecSetup setup;
    cf_decset(files.decset, files.pwset, nwmx, nch, setup, con);
    const std::array<float, ndmx + 1> dr = level_intervals(setup, sp.dt, "system parameter file " + sp_name);
    ResponseTable rt;
    response_table_allocate(rt, setup);
    std::map<std::tuple<int, int, int, int>, std::complex<double>> filters;
    build_response_table(rt, setup, dr, sp, nch, files.sensor_dir, con,
                         [&](int c, int j, int L, int k, std::complex<double> gH) { filters[{c, j, L, k}] = gH; });
    write_table(csv, rt, setup, dr, sp, nch, filters);
    csv.flush();
    con.out().flush();
    return 0;
  });
}

}  // namespace qv
