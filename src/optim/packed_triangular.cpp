#include "optim/packed_triangular.h"

#include <cblas.h>

namespace kurv {

void solveLower(int n, const double* packedL, const double* y, double* x) {
  int k = 0;
  while (k < n && y[k] == 0.0) {
    x[k] = 0.0;
    ++k;
  }
  if (k == n) return;
  x[k] = y[k] / packedL[packedRowStart(k) + k];
  // Row i: x_i = (y_i − Σ_{j<i} L_ij x_j) / L_ii; the leading zeros of x
  // take part in the dot product harmlessly.
  for (int i = k + 1; i < n; ++i) {
    const double* row = packedL + packedRowStart(i);
    const double t = cblas_ddot(i, row, 1, x, 1);
    x[i] = (y[i] - t) / row[i];
  }
}

void solveLowerTransposed(int n, const double* packedL, const double* y, double* x) {
  if (x != y) cblas_dcopy(n, y, 1, x, 1);
  // Column-oriented back substitution: once x_i is known, remove its
  // contribution L_ij·x_i (row i of L is column i of Lᵀ) from every x_j, j < i.
  for (int i = n - 1; i >= 0; --i) {
    const double* row = packedL + packedRowStart(i);
    const double xi = x[i] / row[i];
    x[i] = xi;
    if (i == 0 || xi == 0.0) continue;
    cblas_daxpy(i, -xi, row, 1, x, 1);
  }
}

void multiplyLowerTransposed(int n, const double* packedL, const double* y, double* x) {
  for (int j = 0; j < n; ++j) x[j] = 0.0;
  // (Lᵀy)_j = Σ_{i≥j} L_ij y_i, accumulated row by row of L.
  for (int i = 0; i < n; ++i) cblas_daxpy(i + 1, y[i], packedL + packedRowStart(i), 1, x, 1);
}

void multiplyLower(int n, const double* packedL, const double* y, double* x) {
  // From the last row up, so that x may overwrite y.
  for (int i = n - 1; i >= 0; --i) x[i] = cblas_ddot(i + 1, packedL + packedRowStart(i), 1, y, 1);
}

}  // namespace kurv
