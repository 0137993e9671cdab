#pragma once

namespace kurv {

// P(X > h, Y > k) for a standard bivariate normal pair with correlation r
// (|r| <= 1), Genz's method (see bivariate_normal.cpp).
double bivariateUpper(double h, double k, double r);

// Probability of the rectangle of a standard bivariate normal pair with
// correlation r. Per coordinate i the limit code says which limits apply:
// 0: X_i <= upper[i]; 1: X_i >= lower[i]; 2: lower[i] <= X_i <= upper[i];
// negative: no limit (the coordinate is integrated out).
double bivariateNormal(const double* lower, const double* upper, const int* codes, double r);

}  // namespace kurv
