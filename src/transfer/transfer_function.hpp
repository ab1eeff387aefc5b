// Transfer functions of a magnetotelluric station from its Fourier
// coefficients: the impedance Z (E = Z H) and the tipper T (Hz = T H) of one
// band of periods at a time, with their errors, and what a transfer-function
// file says about the site. The estimator (estimate.hpp), the band set
// (bands.hpp) and the writers (edi_file.hpp, tf_tables.hpp) share these types.
//
// Conventions. Rows are (window, harmonic) pairs of one level: the
// coefficients of one window at one harmonic of the band, every channel. The
// inputs are the horizontal magnetic field (Hx, Hy), the outputs the
// horizontal electric field (Ex, Ey) and, when recorded, the vertical
// magnetic field Hz, all in one orthogonal frame (x north or the frame's
// first axis, y 90 degrees clockwise from it, z down). E is in mV/km, H in nT,
// so Z is in (mV/km)/nT and T is dimensionless. The coefficients come from a
// forward transform with kernel exp(-i omega t): time dependence exp(+i omega t).
#pragma once

#include <array>
#include <complex>
#include <cstdint>
#include <string>
#include <vector>

namespace qv::tf {

using cplx = std::complex<double>;

// Outputs in this order; nout is 2 (no Hz) or 3.
enum Output : int { out_ex = 0, out_ey = 1, out_hz = 2 };
inline constexpr int nin = 2;  // Hx, Hy

// One band: contiguous harmonics of one decimation level.
struct Band {
  int level_id = 0;         // levoff + level, as the coefficient file names it
  int first_harmonic = 0;   // frequency index, 1-based
  int last_harmonic = 0;
  double freq_hz = 0;       // centre: the geometric mean of the first and last harmonic's frequency
  double period_s = 0;      // 1 / freq_hz
};

// How messages name a band: "band of level 3, harmonics 5-7".
inline std::string band_name(const Band& b) {
  return "band of level " + std::to_string(b.level_id) + ", harmonics " + std::to_string(b.first_harmonic) + "-" +
         std::to_string(b.last_harmonic);
}

// The rows of one band, row-major: row i has its outputs at y[i * nout + o]
// and its inputs at x[i * nin + j]. window[i] and harmonic[i] say where it
// came from (rows of one window are one group for the jackknife). With a
// remote reference, r[i * nin + j] holds the reference station's Hx, Hy of
// the same window and harmonic, the instruments of the estimate; r is empty
// for a single-station estimate, whose instruments are the inputs themselves.
struct BandRows {
  int n = 0;
  int nout = 2;
  std::vector<cplx> y, x, r;
  std::vector<int> window, harmonic;
  bool has_reference() const { return !r.empty(); }
  void clear() {
    n = 0;
    y.clear(), x.clear(), r.clear(), window.clear(), harmonic.clear();
  }
  void reserve(std::size_t rows, int outputs, bool reference = false) {
    y.reserve(rows * static_cast<std::size_t>(outputs));
    x.reserve(rows * nin);
    if (reference) r.reserve(rows * nin);
    window.reserve(rows);
    harmonic.reserve(rows);
  }
};

enum class Estimator { ols, robust };
enum class ErrorMethod { parametric, jackknife, bootstrap };

// The estimate of one output: z[j] its transfer function from input j.
struct OutputEstimate {
  std::array<cplx, nin> z{};
  // Variance of each complex element z[j] (the expected |dz|^2; the standard
  // error of its real or imaginary part is sqrt(var / 2)).
  std::array<double, nin> var{};
  double coherence2 = 0;  // squared multiple coherence of the output with the inputs (weighted)
  double dof = 0;         // effective degrees of freedom of the residual
  int rows_used = 0;      // rows with a weight above zero
  int rows_downweighted = 0;  // rows with a weight below 1
  double residual_power = 0;  // weighted mean |residual|^2 per row
};

// A band's estimate: every output, and what a full covariance needs.
struct BandEstimate {
  Band band;
  int rows = 0;  // rows formed
  int windows = 0;
  std::vector<OutputEstimate> out;  // nout entries
  // The covariance of the estimate as residual covariance of the outputs
  // (nout x nout, Hermitian, row-major) times the inverse signal power of
  // the inputs (2 x 2, Hermitian, row-major): cov(z[o][j], z[p][k]) =
  // residual_cov[o][p] * inverse_power[j][k].
  std::vector<cplx> residual_cov;
  std::array<cplx, nin * nin> inverse_power{};
  int iterations = 0;  // of the robust estimate
};

// A channel as a transfer-function file describes it.
struct SiteChannel {
  std::string role;      // "EX", "EY", "HX", "HY", "HZ"
  std::string id;        // the coefficient file's identifier ("Ex", "Bx")
  int number = 0;        // 1-based channel of the coefficient file
  double azimuth_deg = 0;  // measured orientation, degrees east of north
  double tilt_deg = 0;
  double line_length_m = 0;  // electric channels; 0 when not known
};

// The remote reference of an estimate: the station whose horizontal
// magnetic field, recorded at the same time, served as the instruments.
struct RemoteSite {
  std::string file;  // its coefficient file
  std::string name;
  double latitude_deg = 0, longitude_deg = 0;
  std::vector<SiteChannel> channels;  // RX, RY
  // Per level: the shift of window numbers onto the reference's (its window
  // number of the same time is the local one plus shift), the windows found
  // in both files, and those found in only one of them (left out).
  struct Level {
    int level_id = 0;
    long long shift = 0;
    long long paired = 0, local_only = 0, reference_only = 0;
  };
  std::vector<Level> levels;
};

// The site and the processing, for the files' headers.
struct Site {
  std::string name;
  double latitude_deg = 0, longitude_deg = 0;
  bool has_elevation = false;
  double elevation_m = 0;
  double declination_deg = 0;
  std::vector<SiteChannel> channels;  // EX, EY, HX, HY[, HZ]
  // The frame of the estimate: its x axis lies zrot_deg east of the north
  // the channel orientations count from (the EDI's ZROT and TROT); frame
  // says which north and why ("measurement axes", "rotated by 30 degrees",
  // "geographic north: measurement axes plus the declination 8.2 degrees").
  double zrot_deg = 0;
  std::string frame;
  std::vector<std::pair<std::string, std::string>> processing;  // KEY=value lines for the files' processing notes
  std::string source_files;  // the coefficient files read
  bool has_times = false;
  std::string first_window_utc, last_window_utc;
  bool has_remote = false;  // a remote-reference estimate
  RemoteSite remote;
};

// Everything a run of the estimator writes: the site and one estimate per
// band, in increasing period.
struct Result {
  Site site;
  std::vector<BandEstimate> bands;
  Estimator estimator = Estimator::robust;
  ErrorMethod errors = ErrorMethod::parametric;
  int resamples = 0;            // of the bootstrap
  std::uint64_t seed = 0;       // of the bootstrap's generator, before each band's own
};

}  // namespace qv::tf
