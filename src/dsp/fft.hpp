// Forward Fourier transform of the windows of a decimation level: a mixed-radix
// complex FFT (radix 4, 2, 3, 5 and general odd radix) in single precision,
// prepared once per level at set-up, that turns the tapered samples of every
// channel of the window array into the coefficients of frequency indices
// k = 1..n/2. Two real channels share one complex transform. A window length
// with a large prime factor, whose general odd-radix pass would cost time in
// proportion to n times that factor, is transformed instead by the chirp-z
// method (Bluestein) on the radix 2, 3, 4 and 5 passes: a convolution of
// twice the length or more, the same coefficients to single-precision
// rounding but not the same bits.
#pragma once

#include <array>
#include <span>
#include <vector>

#include "common/window_array.hpp"

namespace qv {

// The tables of the chirp-z transform of a length n: the complex DFT of n
// values as a circular convolution of length m >= 2n - 1 (factors 2, 3, 5 only)
// with the chirp b(t) = exp(i pi t^2 / n), using
// k t = (k^2 + t^2 - (k - t)^2) / 2.
struct ChirpZ {
  int m = 0;                   // convolution length; 0: the level uses the mixed-radix passes of n
  std::array<int, 15> ifac{};  // the factors of m, as FftPlan::ifac
  std::vector<float> wsave;    // twiddle factors of m, laid out as FftPlan::wsave, each from its exact angle
  std::vector<float> chirp;    // n cosines, then n sines of pi t^2 / n
  // The transform of the chirp, b(j) at j and m - j for j < n, divided by m:
  // m real parts, then m imaginary parts.
  std::vector<float> filter;
};

// Transform tables of one level, made once at set-up for its window length.
struct FftPlan {
  int n = 0;                   // window length, samples of the level
  std::array<int, 15> ifac{};  // ifac[0] = n, ifac[1] = number of factors nf, ifac[2..nf+1] factors in pass order
  // Twiddle factors, 2n floats: for each pass in order and each j = 1..ip-1,
  // ido cosines followed by ido sines. Empty for a chirp-z plan.
  std::vector<float> wsave;
  ChirpZ chirpz;               // used when chirpz.m > 0
};

// A length whose largest prime factor is above this is transformed by the
// chirp-z method: from 127 on it is the faster for every window length
// measured (bench_fft, BM_transform_method; the figures are in
// fft_plan.cpp).
inline constexpr int chirpz_prime_threshold = 113;

// How fft_setup transforms: as the length asks (automatic), or, for tests
// and benchmarks, always by the mixed-radix passes or always by chirp-z.
enum class FftMethod { automatic, mixed_radix, chirp_z };

// Factorises n (trial divisors 3, 4, 2, 5, 7, 9, 11, ..., a factor 2 always
// moved to the front). If its largest prime factor is at most
// chirpz_prime_threshold, makes the twiddle factors from single-precision
// rotations; otherwise makes the chirp-z tables instead. n = 1 leaves the
// tables empty. Raises Error if n is outside 1..nwmx. Allocates; call at
// set-up only.
void fft_setup(int n, FftPlan& plan, FftMethod method = FftMethod::automatic);

// Whether the plan transforms by the chirp-z method.
inline bool uses_chirpz(const FftPlan& plan) { return plan.chirpz.m > 0; }

// The largest prime factor of the plan's length (1 for n = 1).
int largest_prime_factor(const FftPlan& plan);

// The nearest lengths below and above n (n >= 2) with factors 2, 3 and 5
// only, which the mixed-radix passes transform fastest; 0 where there is
// none (below 2).
struct SmoothLengths {
  int below = 0;
  int above = 0;
};
SmoothLengths nearest_smooth_lengths(int n);

// Work arrays shared by all levels: for each of the three channel pairs of a
// window the complex sequence being transformed and the second array of the
// passes, room for nmax complex values each (about 12 nmax floats), nmax the
// longest transform of the levels (the chirp-z convolution length for a
// chirp-z plan).
struct FftWork {
  std::vector<float> z;
};

// Allocates the work array for windows of up to nmax samples transformed by
// the mixed-radix passes (set-up only).
void fft_work_allocate(FftWork& w, int nmax);

// Allocates the work array for the plans of a run: the longest transform
// among them (set-up only). Plans with n < 2 need none.
void fft_work_allocate(FftWork& w, std::span<const FftPlan> plans);

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
