// The Gauss coefficients of the 11th-generation International Geomagnetic
// Reference Field (IGRF-11), Schmidt quasi-normalised, as one flat table.
//
// Each set lists its coefficients in the standard order g(1,0), g(1,1),
// h(1,1), g(2,0), g(2,1), h(2,1), g(2,2), h(2,2), ... up to its degree, in nT.
// The models of 1900.0 to 1990.0 (every 5 years, 19 sets) stop at degree 10:
// 120 coefficients each, set s (epoch 1900 + 5 s) starting at 120 s. The
// models of 1995.0, 2000.0, 2005.0 and 2010.0 reach degree 13: 195
// coefficients each, starting at 2280 + 195 (s - 19); the 1995.0 model holds
// zeros beyond degree 10. The last set, at 3060, is the secular variation for
// 2010.0 onward in nT per year (degree 8, zeros beyond), in the same layout.
// The first 120 coefficients of every set are those up to degree 10, so a
// degree-10 synthesis can read any set.
//
// The values are the published decimals rounded to single precision.
#pragma once

#include <array>

namespace qv {

inline constexpr int igrf11_degree10_sets = 19;  // main-field models 1900.0 ... 1990.0
inline constexpr int igrf11_degree10_size = 120;  // coefficients up to degree 10
inline constexpr int igrf11_degree13_size = 195;  // coefficients up to degree 13
inline constexpr int igrf11_sets = 24;            // 23 main-field models and the secular variation
inline constexpr int igrf11_sv_set = 23;          // the secular variation set
inline constexpr int igrf11_table_size = igrf11_degree10_sets * igrf11_degree10_size
                                         + (igrf11_sets - igrf11_degree10_sets) * igrf11_degree13_size;

// Where set s starts in the table: the model of epoch 1900 + 5 s for s = 0 ... 22
// (s = 22 is 2010.0), the secular variation for s = 23.
constexpr int igrf11_set_start(int s) {
  return s < igrf11_degree10_sets ? igrf11_degree10_size * s
                                  : igrf11_degree10_sets * igrf11_degree10_size
                                        + igrf11_degree13_size * (s - igrf11_degree10_sets);
}
static_assert(igrf11_set_start(22) == 2865 && igrf11_set_start(igrf11_sv_set) == 3060 && igrf11_table_size == 3255);

// The table, generated from the published coefficient file by tools/igrf_tables.py.
extern const std::array<double, igrf11_table_size> igrf11_gh;

}  // namespace qv
