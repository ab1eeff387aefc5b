// Internal to the FFT: what the builds of the window transform share with the
// entry point and the plan. The transform of a window is built once per
// instruction set, each build in its own file: a portable one everywhere and,
// on x86-64, one with explicit vectors of eight floats for processors with
// AVX2. This header declares their entry points and lays out the work array
// they run in.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dsp/fft.hpp"

// Whether this compiler and system make the AVX2 build and can tell at run
// time whether the processor has AVX2: GCC and Clang (which defines __GNUC__
// too) on x86-64 Linux, so that the fuzz build, made with Clang, runs the
// same transform as the program.
#if defined(__GNUC__) && defined(__x86_64__) && defined(__linux__)
#define QV_FFT_AVX2_BUILD 1
#else
#define QV_FFT_AVX2_BUILD 0
#endif

#define QV_INLINE [[gnu::always_inline]] inline

namespace qv {

// The transform of channels 0..nch-1 of the window (n >= 2 samples, plan and
// work array checked by the caller), as multichannel_fft describes it; z is
// the work array. Every build gives the same results to the bit.
void fft_window_portable(int n, int nch, float* window, float* z, const FftPlan& plan);
#if QV_FFT_AVX2_BUILD
// Runs only on processors with AVX2.
void fft_window_avx2(int n, int nch, float* window, float* z, const FftPlan& plan);
#endif

// Internal linkage throughout: the builds include this header and must not
// share code compiled for another instruction set.
namespace {

using idx_t = std::ptrdiff_t;

// The split sequences of the channel pairs in the work array: for each pair
// the real and imaginary parts and the second array of its passes, so that
// all pairs are transformed before their coefficients are written out
// together. The arrays are spaced by n plus a pad: with n a multiple of the
// page size, the inputs, outputs and twiddles of a pass would otherwise all
// fall into the same few cache sets. The first array starts on a 64-byte
// boundary (a cache line, two AVX vectors), and with n a multiple of 16 so do
// the others, wherever the allocator put the work array: otherwise the speed
// of a length depended on the array's place, with vector loads straddling
// cache lines or not (8192 samples took two fifths longer in one layout).
constexpr int work_pad = 32;    // floats
constexpr int work_align = 16;  // floats, 64 bytes
constexpr std::size_t work_size(int n) { return std::size_t(12) * (n + work_pad) + work_align; }

// The first float of z on a 64-byte boundary (z holds work_size floats).
QV_INLINE float* aligned_work(float* z) {
  const std::uintptr_t misfit = reinterpret_cast<std::uintptr_t>(z) / sizeof(float) % work_align;
  return z + (misfit == 0 ? 0 : work_align - misfit);
}

struct PairArrays {
  float* zr;
  float* zi;
  float* sr;
  float* si;
};

QV_INLINE PairArrays pair_arrays(float* z, int n, int p) {
  const idx_t stride = idx_t(n) + work_pad;
  float* base = aligned_work(z) + 4 * stride * p;
  return {base, base + stride, base + 2 * stride, base + 3 * stride};
}

}  // namespace
}  // namespace qv
