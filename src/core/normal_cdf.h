#pragma once

namespace kurv {

// Standard normal distribution function Phi(x), Hart's double-precision
// rational approximation in West's form (see normal_cdf.cpp).
double normalCdf(const double* x);

}  // namespace kurv
