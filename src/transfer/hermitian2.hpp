// The 2 x 2 complex matrices of a regression on two inputs: the (weighted)
// input power X^H W X, Hermitian, accumulated in double row by row, and its
// inverse, products and solves; and the cross power R^H W X of instruments R
// (a remote reference's field) with the inputs, a general matrix.
//
//   Hermitian2::add      adds weight * x^H x of one row (x = [x0, x1])
//   Hermitian2::solve    the solution of M z = v
//   Hermitian2::inverse  M^-1 as a general matrix
//   Matrix2 operator*    products of general 2 x 2 matrices
//   add_cross            adds weight * r^H x of one row to a general matrix
//   solve2, inverse2, adjoint2, well_posed2   the same for a general matrix
//   mul, conj_mul        complex products for the loops over rows
#pragma once

#include <array>
#include <complex>

namespace qv::tf {

// a * b and conj(a) * b as the textbook formulas. The same numbers as the
// operator of std::complex for finite values, without its check for a NaN
// result (the recovery of C99 Annex G), which keeps the loops over rows from
// being vectorised and costs a compare per product.
inline std::complex<double> mul(std::complex<double> a, std::complex<double> b) {
  return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
}
inline std::complex<double> conj_mul(std::complex<double> a, std::complex<double> b) {
  return {a.real() * b.real() + a.imag() * b.imag(), a.real() * b.imag() - a.imag() * b.real()};
}

// A general 2 x 2 complex matrix, row-major: m[j * 2 + k].
using Matrix2 = std::array<std::complex<double>, 4>;

inline Matrix2 operator*(const Matrix2& a, const Matrix2& b) {
  return {a[0] * b[0] + a[1] * b[2], a[0] * b[1] + a[1] * b[3], a[2] * b[0] + a[3] * b[2],
          a[2] * b[1] + a[3] * b[3]};
}

inline void add_cross(Matrix2& m, double weight, std::complex<double> r0, std::complex<double> r1,
                      std::complex<double> x0, std::complex<double> x1) {
  m[0] += weight * conj_mul(r0, x0);
  m[1] += weight * conj_mul(r0, x1);
  m[2] += weight * conj_mul(r1, x0);
  m[3] += weight * conj_mul(r1, x1);
}
inline std::complex<double> det2(const Matrix2& m) { return m[0] * m[3] - m[1] * m[2]; }
// Far from singular: |det| above 10^-6 of the product of its rows' norms
// (for instruments and inputs of one field, the coherence of R with X).
inline bool well_posed2(const Matrix2& m) {
  const double r0 = std::norm(m[0]) + std::norm(m[1]), r1 = std::norm(m[2]) + std::norm(m[3]);
  return r0 > 0 && r1 > 0 && std::norm(det2(m)) > 1e-12 * r0 * r1;
}
inline std::array<std::complex<double>, 2> solve2(const Matrix2& m, std::complex<double> v0, std::complex<double> v1) {
  const std::complex<double> det = det2(m);
  return {(m[3] * v0 - m[1] * v1) / det, (m[0] * v1 - m[2] * v0) / det};
}
inline Matrix2 inverse2(const Matrix2& m) {
  const std::complex<double> det = det2(m);
  return {m[3] / det, -m[1] / det, -m[2] / det, m[0] / det};
}
inline Matrix2 adjoint2(const Matrix2& m) { return {std::conj(m[0]), std::conj(m[2]), std::conj(m[1]), std::conj(m[3])}; }

// [[a, b], [conj(b), d]] with a, d real.
struct Hermitian2 {
  double a = 0, d = 0;
  std::complex<double> b{};

  void add(double weight, std::complex<double> x0, std::complex<double> x1) {
    a += weight * std::norm(x0);
    d += weight * std::norm(x1);
    b += weight * conj_mul(x0, x1);
  }
  void operator-=(const Hermitian2& o) {
    a -= o.a;
    d -= o.d;
    b -= o.b;
  }
  double det() const { return a * d - std::norm(b); }
  // Positive definite with some margin: the two inputs are not (nearly)
  // parallel, their coherence below 1 - 1e-12.
  bool well_posed() const { return a > 0 && d > 0 && det() > 1e-12 * a * d; }
  std::array<std::complex<double>, 2> solve(std::complex<double> v0, std::complex<double> v1) const {
    const double det_ = det();
    return {(d * v0 - b * v1) / det_, (a * v1 - std::conj(b) * v0) / det_};
  }
  Matrix2 inverse() const {
    const double det_ = det();
    return {d / det_, -b / det_, -std::conj(b) / det_, a / det_};
  }
  Matrix2 matrix() const { return {a, b, std::conj(b), d}; }
};

}  // namespace qv::tf
