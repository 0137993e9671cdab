#pragma once

namespace kurv {

// ln Gamma(x) for x > 0 by Stirling's series (see log_gamma.cpp). `sign`
// receives 0 (the sign of Gamma is positive on x > 0).
double logGamma(double x, int* sign);

}  // namespace kurv
