#include "optim/difference_gradient.h"

#include <cfloat>
#include <cmath>

namespace kurv {
namespace {

// Chooses the difference for component i and perturbs θᵢ. Returns false for
// a central difference, true for a forward one.
bool chooseStep(int i, std::span<const double> alpha, std::span<const double> d, double eta0,
                std::span<const double> g, DifferenceGradientState& st,
                std::span<double> theta) {
  // Steps never fall below 50ε relative to the size of θᵢ, so that θᵢ + h
  // differs from θᵢ in at least several bits.
  const double hMin = 50.0 * st.eps;
  st.savedTheta = theta[i];
  const double absTheta = std::fabs(theta[i]);
  const double size = std::fmax(absTheta, 1.0 / d[i]);  // ā
  const double gi = g[i];
  const double absG = std::fabs(gi);
  double eta = eta0;
  if (st.f0 != 0.0) eta = std::fmax(eta, absG * absTheta * st.eps / std::fabs(st.f0));
  const double alphai = alpha[i];
  bool forward = true;
  double h;
  if (alphai == 0.0) {
    h = size;  // no curvature information: a full-size forward step
  } else if (gi == 0.0 || st.f0 == 0.0) {
    h = st.sqrtEps * size;
  } else {
    const double absAlpha = std::fabs(alphai);
    const double fErr = eta * std::fabs(st.f0);  // absolute error of f
    // Stewart's step: balances the truncation error ½|α|h of the forward
    // difference against the rounding error 2F/h, corrected for |g|.
    if (gi * gi <= fErr * absAlpha) {
      h = 2.0 * std::pow(fErr * absG / (absAlpha * absAlpha), 1.0 / 3.0);
      h = h * (1.0 - 2.0 * absG / (3.0 * absAlpha * h + 4.0 * absG));
    } else {
      h = 2.0 * std::sqrt(fErr / absAlpha);
      h = h * (1.0 - absAlpha * h / (3.0 * absAlpha * h + 4.0 * absG));
    }
    h = std::fmax(h, hMin * size);
    if (absAlpha * h <= 0.002 * absG) {
      // The forward difference's relative truncation error is at most 10⁻³.
      if (h >= 0.02 * size) h = st.sqrtEps * size;
      if (alphai * gi < 0.0) h = -h;
    } else {
      // Otherwise a central difference with the step that balances its
      // truncation error against a rounding error of 2000·F.
      const double discount = 2000.0 * fErr;
      h = discount / (absG + std::sqrt(gi * gi + absAlpha * discount));
      h = std::fmax(h, hMin * size);
      if (h >= 0.02 * size) h = size * std::pow(st.sqrtEps, 2.0 / 3.0);
      forward = false;
    }
  }
  st.h = h;
  theta[i] = st.savedTheta + h;
  st.component = forward ? i + 1 : -(i + 1);
  return forward;
}

}  // namespace

bool differenceGradient(std::span<const double> alpha, std::span<const double> d, double eta0,
                        double& f, std::span<double> g, DifferenceGradientState& st,
                        std::span<double> theta) {
  const int n = static_cast<int>(theta.size());
  int next;
  if (st.component == 0) {
    st.eps = DBL_EPSILON;
    st.sqrtEps = std::sqrt(st.eps);
    st.f0 = f;
    next = 0;
  } else if (st.component > 0) {
    const int i = st.component - 1;
    g[i] = (f - st.f0) / st.h;
    theta[i] = st.savedTheta;
    next = i + 1;
  } else {
    const int i = -st.component - 1;
    if (st.h > 0.0) {
      // f(θ + h·eᵢ) is in; now the other side.
      st.fPlus = f;
      st.h = -st.h;
      theta[i] = st.savedTheta + st.h;
      return true;
    }
    g[i] = (st.fPlus - f) / (2.0 * -st.h);
    theta[i] = st.savedTheta;
    next = i + 1;
  }
  if (next < n) {
    chooseStep(next, alpha, d, eta0, g, st, theta);
    return true;
  }
  f = st.f0;
  st.component = 0;
  return false;
}

}  // namespace kurv
