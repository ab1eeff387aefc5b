#include "driver/usage.hpp"

namespace qv {

namespace {

// Kept within 80 columns so that it reads whole in any terminal.
constexpr const char* kUsage =
    "Usage: qel_vort [options]\n"
    "Turns the recording of one magnetotelluric station into calibrated Fourier\n"
    "coefficients. Run it in the station's folder.\n"
    "\n"
    "Input format (without one: QEL binary, the data logger's own format):\n"
    "  -A, -KA        generic ASCII with three header lines: sample interval (s),\n"
    "                 start time, reference time (year month day hour minute second)\n"
    "  -a, -ka        generic ASCII without header lines; the three values come\n"
    "                 from <base>.clk\n"
    "  -N             ASCII NIMS: '#' header lines, integer samples\n"
    "  -B             NIMS binary\n"
    "\n"
    "Options:\n"
    "  -f:NAME        the time-series file (no blank after -f:); without it the\n"
    "                 program asks for the name\n"
    "  -p:F           powerline fundamental F in Hz (default 60) removed with its\n"
    "                 harmonics from real-valued samples; -p:0 switches it off\n"
    "  --max-sets=N   stop after N windows (sets); default: the whole recording\n"
    "  --elevation=M  the station's elevation in metres, for the metadata file\n"
    "  --threads=N    1 or 2: with 2, reading and decimation run beside the\n"
    "                 transform of the windows; default 2 on a machine with two\n"
    "                 or more processors (QV_THREADS=1 or 2 sets the default)\n"
    "  -bD, -sp, -SP  accepted, no effect (D a digit)\n"
    "  -h, --help     this text\n"
    "  --version      the version\n"
    "Options match by their first characters (-ab is -a) and apply left to right:\n"
    "a later one overrides an earlier one. Other arguments are named in a warning\n"
    "and ignored.\n"
    "\n"
    "A station's folder holds (<base>: the time-series name up to its first '.'):\n"
    "  paths.cfg      optional: up to seven lines saying where the other files lie\n"
    "  the recording  named with -f: or typed at the prompt\n"
    "  <base>.sp      system parameter file: station, position, declination,\n"
    "                 channels, sample interval, gains, analog filters\n"
    "  decset.cfg     decimation set-up: levels, window length, overlap, factor,\n"
    "                 filter and number of Fourier coefficients of each level\n"
    "  pwset.cfg      pre-whitening set-up: filter length of each level\n"
    "  <base>.clk     clock-reset file (-a, -ka)\n"
    "  <base>.bad     optional: stretches of the recording not to use\n"
    "  sensors/       instrument response files\n"
    "The result is the Fourier-coefficient file <base>.f<channels> (site1.f5).\n"
    "\n"
    "Exit status: 0 when the Fourier-coefficient file was written, 1 otherwise.\n";

}  // namespace

const ProgramInfo kQelVortInfo{"qel_vort", kUsage};

}  // namespace qv
