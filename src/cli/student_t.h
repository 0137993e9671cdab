#pragma once
// Two-sided p-values of t statistics, for the estimates written to fit.json;
// the same figures the printed estimates table shows.

namespace kurv::cli {

// P(T <= t) for Student's t with n (>= 1) degrees of freedom and t >= 0.
double studentTDistribution(double t, int n);

// 2 * (1 - P(T <= |t|)).
double twoSidedTProbability(double t, int n);

}  // namespace kurv::cli
