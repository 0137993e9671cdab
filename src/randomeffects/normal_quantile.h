#pragma once

namespace kurv {

// The standard normal quantile Phi^-1(p), Wichura's algorithm AS 241
// (PPND16, relative accuracy about 1e-16). For p at or beyond 0 or 1 the
// result is -9 or +9: the multivariate normal integrand only needs a finite
// point far in the tail there.
double normalQuantile(double p);

}  // namespace kurv
