// The 2 x 2 complex matrices of a regression on two inputs: the (weighted)
// input power X^H W X, Hermitian, accumulated in double row by row, and its
// inverse, products and solves.
//
//   Hermitian2::add      adds weight * x^H x of one row (x = [x0, x1])
//   Hermitian2::solve    the solution of M z = v
//   Hermitian2::inverse  M^-1 as a general matrix
//   Matrix2 operator*    products of general 2 x 2 matrices
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
