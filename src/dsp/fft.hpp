// Forward Fourier transform of the windows of a decimation level: a mixed-radix
// complex FFT (radix 4, 2, 3, 5 and general odd radix) in single precision,
// prepared once per level at set-up, that turns the tapered samples of every
// channel of the window array into the coefficients of frequency indices
// k = 1..n/2. Two real channels share one complex transform.
#pragma once

#include <array>
#include <vector>

#include "common/window_array.hpp"

namespace qv {

// Transform tables of one level, made once at set-up for its window length.
struct FftPlan {
  int n = 0;                   // window length, samples of the level
  std::array<int, 15> ifac{};  // ifac[0] = n, ifac[1] = number of factors nf, ifac[2..nf+1] factors in pass order
  // Twiddle factors, 2n floats: for each pass in order and each j = 1..ip-1,
  // ido cosines followed by ido sines.
  std::vector<float> wsave;
};

// Factorises n (trial divisors 3, 4, 2, 5, 7, 9, 11, ..., a factor 2 always
// moved to the front) and makes the twiddle factors from single-precision
// rotations. n = 1 leaves the tables empty. Raises Error if n is outside
// 1..nwmx. Allocates; call at set-up only.
void fft_setup(int n, FftPlan& plan);

// Work arrays shared by all levels: for each of the three channel pairs of a
// window the complex sequence being transformed and the second array of the
// passes, room for nmax complex values each (about 12 nmax floats).
struct FftWork {
  std::vector<float> z;
};

// Allocates the work array for windows of up to nmax samples (set-up only).
void fft_work_allocate(FftWork& w, int nmax);

// Transforms the first n samples of every channel of the window array in
// place: afterwards w.re(c, k) = Re F_c(k) and w.im(c, k) = Im F_c(k) for
// k = 1..n/2, with F_c(k) = sum_t x_c(t) exp(-2 pi i k t / n), t = 0..n-1,
// unscaled. The zero-frequency term is not stored; rows from n on and the
// channels from w.nch() on are untouched. Raises Error if the array holds
// fewer than n samples, the plan was made for another length or the work
// array is too small.
void multichannel_fft(const WindowArray& w, int n, FftWork& work, const FftPlan& plan);

// The builds of the transform: with explicit vectors of eight floats for
// processors with AVX2, and portable plain loops for the rest. Both give the
// same results to the bit. The transform uses the AVX2 build wherever the
// processor has it.
enum class FftPasses { avx2, portable };

// For tests and benchmarks: on = true makes the transform use the portable
// build even where the processor has AVX2; on = false restores the automatic
// choice. The program itself never calls it.
void force_portable_fft(bool on);

// The build the transform uses now.
FftPasses fft_passes_in_use();

}  // namespace qv
