#include "optim/lu.h"

#include <cblas.h>

#include <cfloat>
#include <cmath>
#include <cstddef>

namespace kurv {
namespace {

// Address of element (i, j), 1-based.
inline double* at(double* a, int lda, int i, int j) {
  return a + static_cast<std::ptrdiff_t>(j - 1) * lda + (i - 1);
}

}  // namespace

void factorLU(double* a, int lda, int n, int* pivots, int& info) {
  // Pivots smaller than this in absolute value are treated as zero: an
  // absolute threshold, so the factorisation refuses matrices that are
  // singular to working precision at unit scale.
  constexpr double kSmallPivot = DBL_EPSILON;
  info = 0;
  for (int k = 1; k <= n - 1; ++k) {
    const int m = n - k + 1;
    const int l = static_cast<int>(cblas_idamax(m, at(a, lda, k, k), 1)) + k;
    pivots[k - 1] = l;
    if (*at(a, lda, l, k) == 0.0) {
      info = k;
      continue;
    }
    if (l != k) {
      const double t = *at(a, lda, l, k);
      *at(a, lda, l, k) = *at(a, lda, k, k);
      *at(a, lda, k, k) = t;
    }
    if (std::fabs(*at(a, lda, k, k)) < kSmallPivot) {
      info = k;
      continue;
    }
    // Multipliers of the elimination, stored below the pivot.
    const double t = -1.0 / *at(a, lda, k, k);
    cblas_dscal(n - k, t, at(a, lda, k + 1, k), 1);
    // Row elimination, column by column.
    for (int j = k + 1; j <= n; ++j) {
      const double tj = *at(a, lda, l, j);
      if (l != k) {
        *at(a, lda, l, j) = *at(a, lda, k, j);
        *at(a, lda, k, j) = tj;
      }
      cblas_daxpy(n - k, tj, at(a, lda, k + 1, k), 1, at(a, lda, k + 1, j), 1);
    }
  }
  if (n >= 1) {
    pivots[n - 1] = n;
    if (*at(a, lda, n, n) == 0.0) info = n;
  }
}

void invertLU(double* a, int lda, int n, const int* pivots, double* det, double* work, int job) {
  if ((job / 10) % 10 != 0) {
    // det = ±Π u_kk, kept as m·10^e to avoid overflow and underflow.
    double m = 1.0;
    double e = 0.0;
    for (int i = 1; i <= n; ++i) {
      if (pivots[i - 1] != i) m = -m;
      m = *at(a, lda, i, i) * m;
      if (m == 0.0) break;
      while (std::fabs(m) < 1.0) {
        m = 10.0 * m;
        e = e - 1.0;
      }
      while (std::fabs(m) >= 10.0) {
        m = m / 10.0;
        e = e + 1.0;
      }
    }
    det[0] = m;
    det[1] = e;
  }
  if (job % 10 == 0) return;
  // inverse(U), in place, column by column.
  for (int k = 1; k <= n; ++k) {
    double* akk = at(a, lda, k, k);
    *akk = 1.0 / *akk;
    const double t = -*akk;
    cblas_dscal(k - 1, t, at(a, lda, 1, k), 1);
    for (int j = k + 1; j <= n; ++j) {
      const double tj = *at(a, lda, k, j);
      *at(a, lda, k, j) = 0.0;
      cblas_daxpy(k, tj, at(a, lda, 1, k), 1, at(a, lda, 1, j), 1);
    }
  }
  // inverse(U)·inverse(L), undoing the row interchanges as column swaps.
  for (int k = n - 1; k >= 1; --k) {
    for (int i = k + 1; i <= n; ++i) {
      work[i - 1] = *at(a, lda, i, k);
      *at(a, lda, i, k) = 0.0;
    }
    for (int j = k + 1; j <= n; ++j) {
      cblas_daxpy(n, work[j - 1], at(a, lda, 1, j), 1, at(a, lda, 1, k), 1);
    }
    const int l = pivots[k - 1];
    if (l != k) cblas_dswap(n, at(a, lda, 1, k), 1, at(a, lda, 1, l), 1);
  }
}

}  // namespace kurv
