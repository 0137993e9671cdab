#pragma once
// Preparation of a multivariate normal rectangle probability for Genz's
// method, and the integrand over the unit cube that it leads to.
//
// Genz, A. (1992), "Numerical computation of multivariate normal
// probabilities", Journal of Computational and Graphical Statistics 1,
// 141-149. With the correlation matrix factorised as R = L L^T and X = L Z,
// the probability of a_i <= X_i <= b_i for all i is the nested integral of
// the conditional interval probabilities of Z_1, Z_2 | Z_1, ..., which the
// substitution Z_i = Phi^-1(D_i + w_i (E_i - D_i)) turns into an integral of
// prod_i (E_i - D_i) over the unit cube of one dimension less.

#include <vector>

namespace kurv {

// Most variables one probability may have.
inline constexpr int kMvnMaxDimension = 100;
// Variance below which a variable counts as determined by the ones before
// it (the singular branch of the factorisation).
inline constexpr double kMvnSingularTolerance = 1e-10;

// The prepared state of one probability, kept between the preparation and
// the integrand calls. Rows are 0-based; the factor is lower triangular and
// stored in full (row i, column k at factor[i * m + k]).
struct MvnPrepared {
  int m = 0;            // variables given
  int nUnbounded = 0;   // variables without limits (integrated out)
  int nBounded = 0;     // rows of the factor that take part (r)
  bool impossible = false;  // a variable is identically 0 and its limits exclude 0
  std::vector<double> lower;  // standardised limits of each row
  std::vector<double> upper;
  std::vector<int> codes;     // 0: upper only; 1: lower only; 2: both
  std::vector<double> factor; // L, each regular row divided by its diagonal (so 1 there)
  std::vector<double> y;      // conditioning values Z of the rows
};

// Reorders and factorises: moves the unbounded variables behind the bounded
// ones, then orders the bounded ones by smallest conditional probability
// first while forming the Cholesky factor, with the singular branch for a
// variable whose remaining variance is at most kMvnSingularTolerance.
// lower/upper hold the limits (only those that the code uses are read),
// codes the limit codes (0: X <= upper; 1: X >= lower; 2: both; negative:
// none), correlations the strictly lower triangle of the correlation matrix
// by rows (rho21; rho31, rho32; ...). m must be 1 ... kMvnMaxDimension.
void mvnPrepare(int m, const double* lower, const double* upper, const int* codes,
                const double* correlations, MvnPrepared& out);

// The transformed integrand at w in [0, 1]^d, d = nBounded - 1.
double mvnIntegrand(int d, const double* w, MvnPrepared& prepared);

// D = Phi(lower) (0 without a lower limit) and E = Phi(upper) (1 without an
// upper limit) for a limit code.
void intervalProbabilities(double lower, double upper, int code, double& d, double& e);

}  // namespace kurv
