#include "dsp/window_prep.hpp"

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <string>

#include "common/error.hpp"
#include "common/limits.hpp"
#include "dsp/row_vectors.hpp"

namespace qv {
namespace {

// Coefficients a0..a10 of the polynomial in u = 1 - x^2 that gives the
// prolate taper on [-1, 1] (c = pi, unit energy), as their exact
// single-precision bit patterns.
constexpr std::array<float, 11> taper_poly = {
    std::bit_cast<float>(std::uint32_t{0x3e6a845b}),  // a0  0.229020521
    std::bit_cast<float>(std::uint32_t{0x3ede61b0}),  // a1  0.434339046
    std::bit_cast<float>(std::uint32_t{0x3e68ff9a}),  // a2  0.227537543
    std::bit_cast<float>(std::uint32_t{0x3d626df0}),  // a3  0.0552806258
    std::bit_cast<float>(std::uint32_t{0x3bfdaa79}),  // a4  0.00774126919
    std::bit_cast<float>(std::uint32_t{0x3a38cf0d}),  // a5  0.000704989594
    std::bit_cast<float>(std::uint32_t{0x383d2439}),  // a6  4.50948464e-05
    std::bit_cast<float>(std::uint32_t{0x360f6f3d}),  // a7  2.13734097e-06
    std::bit_cast<float>(std::uint32_t{0x33a7aa3e}),  // a8  7.80751037e-08
    std::bit_cast<float>(std::uint32_t{0x311badca}),  // a9  2.26542562e-09
    std::bit_cast<float>(std::uint32_t{0x2e6b31ae}),  // a10 5.34769382e-11
};

// Weights at the centres of n equal cells of [-1, 1], scaled by sqrt(2/n) so
// that their squares sum to 1 (to within about 1/n^2). Symmetric, so only the
// first half is evaluated; the middle weight of an odd n is written twice.
}  // namespace

void taper_weights(int n, float* w) {
  const float scale = std::sqrt(2.0f / static_cast<float>(n));
  const int half = (n + 1) / 2;
  for (int i = 1; i <= half; ++i) {
    const float x = static_cast<float>(2 * i - 1) / static_cast<float>(n) - 1.0f;
    const float u = (1.0f - x) * (1.0f + x);
    float p = taper_poly[10];
    for (int j = 9; j >= 0; --j) p = p * u + taper_poly[j];
    w[i - 1] = p * scale;
    w[n - i] = p * scale;
  }
}

void remove_mean(const WindowArray& w, int m) {
  w.require_samples(m, "remove_mean");
  const int nch = w.nch();
  float* x = w.data();
  // All six slots of a row at once (row_vectors.hpp): every channel's sum
  // still takes its samples one by one in increasing t.
  rows::RowD sum{};
  for (std::int64_t t = 0; t < m; ++t) sum = sum + rows::widen(x + widx(0, t));
  float mean[nchmx] = {};
  for (int c = 0; c < nch; ++c) mean[c] = static_cast<float>(rows::lane(sum, c) / m);
  const rows::Row mean_row = rows::load(mean);
  const rows::RowMask in_use = rows::mask_first(nch);
  for (std::int64_t t = 0; t < m; ++t) rows::store(x + widx(0, t), rows::load(x + widx(0, t)) - mean_row, in_use);
}

void apply_taper(const WindowArray& w, int n, bool& taper_flag, float* taper_table) {
  w.require_samples(n, "apply_taper");
  if (n > nwmx) throw Error("apply_taper: window length " + std::to_string(n) + " is outside 1..524288");
  if (taper_flag) {
    taper_weights(n, taper_table);
    taper_flag = false;
  }
  apply_taper(w, n, static_cast<const float*>(taper_table));
}

void apply_taper(const WindowArray& w, int n, const float* taper_table) {
  w.require_samples(n, "apply_taper");
  if (n > nwmx) throw Error("apply_taper: window length " + std::to_string(n) + " is outside 1..524288");
  float* x = w.data();
  // Every channel of a row at once; the slots of channels not in use keep their bits.
  const rows::RowMask in_use = rows::mask_first(w.nch());
  for (std::int64_t t = 0; t < n; ++t)
    rows::store(x + widx(0, t), rows::load(x + widx(0, t)) * rows::splat(taper_table[t]), in_use);
}

}  // namespace qv
