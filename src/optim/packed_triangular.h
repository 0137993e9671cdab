#pragma once
// Products and solves with a lower-triangular matrix L packed by rows: row i
// (0-based) holds L(i,0) … L(i,i) starting at i(i+1)/2. This is how the
// minimizer keeps the Cholesky factor of its Hessian approximation.

#include <cstddef>

namespace kurv {

constexpr std::size_t packedRowStart(int i) { return static_cast<std::size_t>(i) * (i + 1) / 2; }
constexpr std::size_t packedLength(int n) { return static_cast<std::size_t>(n) * (n + 1) / 2; }

// Solves L·x = y by forward substitution. Leading zero entries of y give
// zero entries of x without arithmetic. x and y must not overlap.
void solveLower(int n, const double* packedL, const double* y, double* x);
// Solves Lᵀ·x = y by back substitution; x may be y.
void solveLowerTransposed(int n, const double* packedL, const double* y, double* x);
// x = Lᵀ·y; x and y must not overlap.
void multiplyLowerTransposed(int n, const double* packedL, const double* y, double* x);
// x = L·y; x may be y.
void multiplyLower(int n, const double* packedL, const double* y, double* x);

}  // namespace kurv
