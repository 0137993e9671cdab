// LU factorisation and inversion: inverses and determinants against closed
// forms, pivoting, leading dimensions, and the singular cases.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "optim/lu.h"

namespace kurv {
namespace {

struct Factored {
  std::vector<double> a;
  std::vector<int> pivots;
  int info = -1;
  double det[2] = {0.0, 0.0};
};

// Column-major n×n from rows.
Factored factorRows(const std::vector<std::vector<double>>& rows, int lda = 0) {
  const int n = static_cast<int>(rows.size());
  if (lda == 0) lda = n;
  Factored f;
  f.a.assign(static_cast<std::size_t>(lda) * n, -7.0);  // padding must stay untouched
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) f.a[j * lda + i] = rows[i][j];
  f.pivots.assign(n, 0);
  factorLU(f.a.data(), lda, n, f.pivots.data(), f.info);
  return f;
}

void invert(Factored& f, int n, int lda, int job) {
  std::vector<double> work(n);
  invertLU(f.a.data(), lda, n, f.pivots.data(), f.det, work.data(), job);
}

TEST(LuFactorisation, InverseAndDeterminantOfA3x3NeedingPivots) {
  // det = 0·(…) expanded: A has a zero leading entry, so row 2 or 3 pivots.
  const std::vector<std::vector<double>> rows = {{0, 2, 1}, {3, -1, 2}, {4, 1, -2}};
  // Cofactor expansion along the first row: −2·(3·(−2) − 2·4) + 1·(3·1 − (−1)·4) = 28 + 7.
  const double det = 35.0;
  for (int lda : {3, 5}) {
    Factored f = factorRows(rows, lda);
    ASSERT_EQ(f.info, 0);
    invert(f, 3, lda, 11);
    EXPECT_NEAR(f.det[0] * std::pow(10.0, f.det[1]), det, 1e-12);
    EXPECT_GE(std::fabs(f.det[0]), 1.0);
    EXPECT_LT(std::fabs(f.det[0]), 10.0);
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        double s = 0.0;
        for (int k = 0; k < 3; ++k) s += rows[i][k] * f.a[j * lda + k];
        EXPECT_NEAR(s, i == j ? 1.0 : 0.0, 1e-14) << i << "," << j;
      }
    for (int j = 0; j < 3; ++j)
      for (int i = 3; i < lda; ++i) EXPECT_EQ(f.a[j * lda + i], -7.0);
  }
}

TEST(LuFactorisation, KnownInverse) {
  // [[4, 7], [2, 6]]⁻¹ = [[0.6, −0.7], [−0.2, 0.4]], det 10.
  Factored f = factorRows({{4, 7}, {2, 6}});
  ASSERT_EQ(f.info, 0);
  invert(f, 2, 2, 11);
  EXPECT_NEAR(f.a[0], 0.6, 1e-15);
  EXPECT_NEAR(f.a[2], -0.7, 1e-15);
  EXPECT_NEAR(f.a[1], -0.2, 1e-15);
  EXPECT_NEAR(f.a[3], 0.4, 1e-15);
  EXPECT_NEAR(f.det[0], 1.0, 1e-15);
  EXPECT_EQ(f.det[1], 1.0);
}

TEST(LuFactorisation, DeterminantsInMantissaExponentForm) {
  Factored identity = factorRows({{1, 0, 0}, {0, 1, 0}, {0, 0, 1}});
  invert(identity, 3, 3, 10);
  EXPECT_EQ(identity.det[0], 1.0);
  EXPECT_EQ(identity.det[1], 0.0);
  EXPECT_EQ(identity.a[0], 1.0);  // job 10: the matrix is left factored
  Factored diagonal = factorRows({{20, 0}, {0, 5}});
  invert(diagonal, 2, 2, 10);
  EXPECT_EQ(diagonal.det[0], 1.0);
  EXPECT_EQ(diagonal.det[1], 2.0);
  Factored swap = factorRows({{0, 1}, {1, 0}});  // one interchange: det −1
  invert(swap, 2, 2, 11);
  EXPECT_EQ(swap.det[0], -1.0);
  EXPECT_EQ(swap.det[1], 0.0);
  Factored tiny = factorRows({{1e-3, 0}, {0, 2e-4}});
  invert(tiny, 2, 2, 10);
  EXPECT_NEAR(tiny.det[0], 2.0, 1e-12);
  EXPECT_EQ(tiny.det[1], -7.0);
}

TEST(LuFactorisation, SingularAndNearlySingularColumns) {
  EXPECT_EQ(factorRows({{0.0}}).info, 1);
  // For n = 1 only an exact zero is singular; the 2⁻⁵² threshold applies
  // to the eliminated columns 1 … n−1.
  EXPECT_EQ(factorRows({{1e-17}}).info, 0);
  EXPECT_EQ(factorRows({{1e-17, 0}, {0, 1}}).info, 1);
  EXPECT_EQ(factorRows({{1, 2, 3}, {2, 4, 6}, {1, 1, 1}}).info, 3);
  EXPECT_EQ(factorRows({{0, 1}, {0, 2}}).info, 1);  // zero column: no elimination
  EXPECT_EQ(factorRows({{1, 1}, {1, 1}}).info, 2);
}

}  // namespace
}  // namespace kurv
