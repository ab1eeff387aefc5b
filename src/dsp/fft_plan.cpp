// The plan of a window length (fft_setup): its factors in pass order and the
// twiddle factors of every pass; and the work array (fft_work_allocate).
#include "dsp/fft.hpp"

#include <array>
#include <cmath>
#include <cstddef>
#include <string>

#include "common/error.hpp"
#include "common/limits.hpp"
#include "common/math_constants.hpp"
#include "dsp/fft_builds.hpp"

namespace qv {
namespace {

constexpr int max_factors = 13;

}  // namespace

void fft_setup(int n, FftPlan& plan) {
  if (n < 1 || n > nwmx) {
    throw Error("FFT set-up: window length " + std::to_string(n) + " samples is outside 1.." +
                std::to_string(nwmx));
  }
  plan.n = n;
  if (n == 1) return;

  // Factorisation: trial divisors 3, 4, 2, 5, then every odd number from 7.
  // A factor 2 is moved to the front so that it is always the first pass.
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
  plan.ifac = ifac;

  // Twiddles: every pass contributes (ip - 1) * ido complex factors, n - 1 in
  // all.
  plan.wsave.assign(std::size_t(2) * n, 0.0f);
  float* wa = plan.wsave.data();
  const float argh = twopi / static_cast<float>(n);
  int l1 = 1;
  for (int q = 0; q < nf; ++q) {
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

void fft_work_allocate(FftWork& w, int nmax) {
  if (nmax < 1 || nmax > nwmx) {
    throw Error("FFT work array: window length " + std::to_string(nmax) + " samples is outside 1.." +
                std::to_string(nwmx));
  }
  w.z.assign(work_size(nmax), 0.0f);
}

}  // namespace qv
