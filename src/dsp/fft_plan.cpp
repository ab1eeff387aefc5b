// The plan of a window length (fft_setup): its factors in pass order and the
// twiddle factors of every pass, or for a length with a large prime factor
// the tables of its chirp-z transform; and the work array
// (fft_work_allocate).
#include "dsp/fft.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/error.hpp"
#include "common/limits.hpp"
#include "common/math_constants.hpp"
#include "dsp/fft_builds.hpp"

namespace qv {

namespace {

constexpr int max_factors = 13;

// The factor list of n: trial divisors 3, 4, 2, 5, then every odd number
// from 7. A factor 2 is moved to the front so that it is always the first
// pass.
std::array<int, 15> factorise(int n) {
  static constexpr int first_trials[4] = {3, 4, 2, 5};
  std::array<int, 15> ifac{};
  int nl = n;
  int nf = 0;
  int ntry = 0;
  for (int j = 0; nl != 1; ++j) {
    ntry = j < 4 ? first_trials[j] : ntry + 2;
    while (nl % ntry == 0) {
      if (nf == max_factors) throw Error("FFT set-up: window length " + std::to_string(n) + " has too many factors");
      ++nf;
      ifac[nf + 1] = ntry;
      nl /= ntry;
      if (ntry == 2 && nf != 1) {
        for (int i = nf + 1; i > 2; --i) ifac[i] = ifac[i - 1];
        ifac[2] = 2;
      }
    }
  }
  ifac[0] = n;
  ifac[1] = nf;
  return ifac;
}

int largest_factor(const std::array<int, 15>& ifac) {
  int p = 1;
  for (int q = 0; q < ifac[1]; ++q) p = std::max(p, ifac[q + 2]);
  return p == 4 ? 2 : p;
}

// The twiddle factors of the mixed-radix passes, from single-precision
// rotations: every pass contributes (ip - 1) * ido complex factors, n - 1 in
// all.
void rotation_twiddles(int n, const std::array<int, 15>& ifac, std::vector<float>& wsave) {
  wsave.assign(std::size_t(2) * n, 0.0f);
  float* wa = wsave.data();
  const float argh = twopi / static_cast<float>(n);
  int l1 = 1;
  for (int q = 0; q < ifac[1]; ++q) {
    const int ip = ifac[q + 2];
    const int l2 = l1 * ip;
    const int ido = n / l2;
    // One sine and cosine per factor; all multiples of the angle come from
    // rotations in single precision.
    const float theta = static_cast<float>(l1) * argh;
    const float c = std::cos(theta);
    const float s = std::sin(theta);
    float cj = 1.0f;
    float sj = 0.0f;
    for (int j = 1; j < ip; ++j) {
      const float cn = cj * c - sj * s;
      const float sn = sj * c + cj * s;
      cj = cn;
      sj = sn;
      float* wr = wa;
      float* wi = wa + ido;
      wr[0] = 1.0f;
      wi[0] = 0.0f;
      float r = 1.0f;
      float qv = 0.0f;
      for (int f = 1; f <= ido; ++f) {
        const float rn = cj * r - sj * qv;
        const float qn = cj * qv + sj * r;
        r = rn;
        qv = qn;
        if (f < ido) {
          wr[f] = r;
          wi[f] = qv;
        }
      }
      // The general odd-radix pass takes cos and sin of 2 pi j / ip from the
      // first pair of the block: the rotation carried on to f = ido.
      if (ip > 5) {
        wr[0] = r;
        wi[0] = qv;
      }
      wa += 2 * idx_t(ido);
    }
    l1 = l2;
  }
}

// cos and sin of 2 pi r / m, the angle reduced exactly beforehand (0 <= r < m).
std::complex<double> unit_root(std::int64_t r, std::int64_t m) {
  constexpr double two_pi = 6.283185307179586476925286766559;
  const double a = two_pi * double(r) / double(m);
  return {std::cos(a), std::sin(a)};
}

// exp(2 pi i r / m) for r = 0..m-1, each from its exact angle.
std::vector<std::complex<double>> unit_roots(int m) {
  std::vector<std::complex<double>> w(m);
  for (int r = 0; r < m; ++r) w[r] = unit_root(r, m);
  return w;
}

// The twiddle factors of a length m with factors 2, 3 and 5 only, in the
// layout of rotation_twiddles, each the nearest float of its exact value
// (w holds the unit roots of m): the convolution of the chirp-z transform is
// twice the window or longer, and the error of the rotations, which grows
// with the length, would dominate its accuracy.
void exact_twiddles(int m, const std::array<int, 15>& ifac, const std::vector<std::complex<double>>& w,
                    std::vector<float>& wsave) {
  wsave.assign(std::size_t(2) * m, 0.0f);
  float* wa = wsave.data();
  std::int64_t l1 = 1;
  for (int q = 0; q < ifac[1]; ++q) {
    const int ip = ifac[q + 2];
    const std::int64_t ido = m / (l1 * ip);
    for (int j = 1; j < ip; ++j) {
      for (std::int64_t f = 0; f < ido; ++f) {
        const std::complex<double> t = w[f * j * l1];  // f j l1 < m
        wa[f] = static_cast<float>(t.real());
        wa[ido + f] = static_cast<float>(t.imag());
      }
      wa += 2 * ido;
    }
    l1 *= ip;
  }
}

// The forward DFT of x (m values, factors ifac of radix 2 to 5, w the unit
// roots of m) in double precision, by the self-sorting passes of the
// single-precision transform. For the chirp-z filter at set-up only.
std::vector<std::complex<double>> dft_double(std::vector<std::complex<double>> x, const std::array<int, 15>& ifac,
                                             const std::vector<std::complex<double>>& w) {
  using cd = std::complex<double>;
  const std::int64_t m = std::int64_t(x.size());
  std::vector<cd> c(x.size());
  std::int64_t l1 = 1;
  for (int q = 0; q < ifac[1]; ++q) {
    const int ip = ifac[q + 2];
    const std::int64_t ido = m / (l1 * ip);
    // exp(-2 pi i j s / ip) for the butterflies.
    cd rot[5][5];
    for (int j = 0; j < ip; ++j)
      for (int s = 0; s < ip; ++s) rot[j][s] = std::conj(w[m / ip * (j * s % ip)]);
    for (std::int64_t k = 0; k < l1; ++k) {
      for (std::int64_t i = 0; i < ido; ++i) {
        cd in[5];
        for (int j = 0; j < ip; ++j) in[j] = x[i + ido * (j + ip * k)];
        for (int s = 0; s < ip; ++s) {
          cd acc = in[0];
          for (int j = 1; j < ip; ++j) acc += rot[j][s] * in[j];
          c[i + ido * (k + l1 * s)] = s == 0 ? acc : acc * std::conj(w[i * s * l1]);  // i s l1 < m
        }
      }
    }
    x.swap(c);
    l1 *= ip;
  }
  return x;
}

bool has_only_factors_2_3_5(int m) {
  for (int f : {2, 3, 5}) {
    while (m % f == 0) m /= f;
  }
  return m == 1;
}

// The chirp-z tables of n: the convolution length (the smallest with
// factors 2, 3 and 5 only that holds 2n - 1 values), its factors and
// twiddles, the chirp b(t) = exp(i pi t^2 / n) with t^2 reduced modulo 2n
// in integers, so that its angles are exact for every n, and the filter, the
// transform of b(j) at j and m - j (j < n) in double precision, divided by m.
void chirpz_setup(int n, ChirpZ& cz) {
  int m = 2 * n - 1;
  while (!has_only_factors_2_3_5(m)) ++m;
  cz.m = m;
  cz.ifac = factorise(m);
  const std::vector<std::complex<double>> w = unit_roots(m);
  exact_twiddles(m, cz.ifac, w, cz.wsave);
  cz.chirp.assign(std::size_t(2) * n, 0.0f);
  std::vector<std::complex<double>> b(m);
  for (std::int64_t t = 0; t < n; ++t) {
    const std::complex<double> c = unit_root(t * t % (2 * std::int64_t(n)), 2 * std::int64_t(n));
    cz.chirp[t] = static_cast<float>(c.real());
    cz.chirp[n + t] = static_cast<float>(c.imag());
    b[t] = c;
    if (t > 0) b[m - t] = c;
  }
  const std::vector<std::complex<double>> f = dft_double(std::move(b), cz.ifac, w);
  cz.filter.assign(std::size_t(2) * m, 0.0f);
  for (int k = 0; k < m; ++k) {
    cz.filter[k] = static_cast<float>(f[k].real() / m);
    cz.filter[m + k] = static_cast<float>(f[k].imag() / m);
  }
}

}  // namespace

// The threshold of chirpz_prime_threshold. The general odd-radix pass of a
// prime factor p costs about 2 n p operations, the chirp-z transform two
// transforms of its convolution, about 2n long, whatever p. Microseconds per
// window of 5 channels (three complex transforms) on the 2-core development
// machine, AVX2 build, median of three (bench_fft, BM_transform_method),
// mixed-radix / chirp-z:
//
//     p    n near 256            n near 4096            n near 65536
//     7    224:    4.9 /  5.5    3584:  104 / 169       57344: 1905 / 4416
//    31    248:    8.6 /  6.9    3968:  109 / 168       63488: 2743 / 5128
//    61    244:   23.5 /  7.7    3904:  125 / 190       62464: 3494 / 4753
//    89    178:   41   /  4.0    2848:  123 / 110       45568: 2021 / 2973
//   101    202:   80   /  6.4    3232:  139 / 128       51712: 2556 / 3455
//   113    226:   82   /  5.7    3616:  169 / 166       57856: 2860 / 3596
//   127    254:   87   /  5.7    4064:  253 / 136       65024: 4320 / 3159
//   131    262:   86   /  6.5    4192:  244 / 161       67072: 4614 / 3696
//   157    314:  123   /  8.6    5024:  341 / 232       80384: 7043 / 4440
//   257    257:  340   /  7.4    4112:  575 / 210       65792: 7377 / 4897
//
// (The machine was shared with other work; repeated runs varied by up to a
// third, 57856 once giving 4416 / 3973.) From p = 127 on chirp-z is the
// faster at every length measured; up to 113 the mixed-radix passes are as
// fast or faster for the long windows, where the time goes, and they keep
// their exact arithmetic. (For short windows
// chirp-z wins from p of about 30, but there both take microseconds.) A
// prime length itself: 127 samples take 66 us against 2.3 us, 65521 samples
// 35 s against about 4 ms.
void fft_setup(int n, FftPlan& plan, FftMethod method) {
  if (n < 1 || n > nwmx) {
    throw Error("FFT set-up: window length " + std::to_string(n) + " samples is outside 1.." +
                std::to_string(nwmx));
  }
  plan.n = n;
  if (n == 1) return;
  plan.ifac = factorise(n);
  const bool chirpz = method == FftMethod::chirp_z ||
                      (method == FftMethod::automatic && largest_factor(plan.ifac) > chirpz_prime_threshold);
  if (chirpz) {
    plan.wsave.clear();
    chirpz_setup(n, plan.chirpz);
  } else {
    plan.chirpz = ChirpZ{};
    rotation_twiddles(n, plan.ifac, plan.wsave);
  }
}

int largest_prime_factor(const FftPlan& plan) { return plan.n < 2 ? 1 : largest_factor(plan.ifac); }

SmoothLengths nearest_smooth_lengths(int n) {
  SmoothLengths s;
  for (int b = n - 1; b >= 2 && s.below == 0; --b) {
    if (has_only_factors_2_3_5(b)) s.below = b;
  }
  for (int a = n + 1; s.above == 0; ++a) {
    if (has_only_factors_2_3_5(a)) s.above = a;
  }
  return s;
}

void fft_work_allocate(FftWork& w, int nmax) {
  if (nmax < 1 || nmax > nwmx) {
    throw Error("FFT work array: window length " + std::to_string(nmax) + " samples is outside 1.." +
                std::to_string(nwmx));
  }
  w.z.assign(work_size(nmax), 0.0f);
}

void fft_work_allocate(FftWork& w, std::span<const FftPlan> plans) {
  int longest = 1;
  for (const FftPlan& p : plans) {
    if (p.n >= 2) longest = std::max(longest, uses_chirpz(p) ? p.chirpz.m : p.n);
  }
  w.z.assign(work_size(longest), 0.0f);
}

}  // namespace qv
