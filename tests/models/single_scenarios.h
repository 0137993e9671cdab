#pragma once
// Small random single-model data sets for the likelihood and gradient tests,
// one generator per model kind and option, and parameter vectors at interior
// points of the parameter space.

#include <string>
#include <vector>

#include "model_test_support.h"

namespace kurv::modeltest {

// CNORM, T = 6, censored at 0 and 6, one time-varying covariate, orders
// cycling 1, 2, 0; about 10% of outcomes missing.
Scenario cnormScenario(unsigned seed, int groups, int subjects);
// LOGIT, T = 5, two risk factors (one subject's missing: excluded), the given
// reference group (1-based).
Scenario logitScenario(unsigned seed, int groups, int refGroup, int subjects);
// ZIP, T = 5, the given trajectory and zero-inflation orders, optional exposure.
Scenario zipScenario(unsigned seed, std::vector<double> orders, std::vector<double> inflOrders,
                     bool exposure, int subjects);
// CNORM with two groups, dropout (given orders), one dropout covariate,
// exemptions, weights, and subjects who drop out before the end.
Scenario dropoutScenario(unsigned seed, std::vector<double> dropoutOrders, int subjects);
// CNORM with the outcome analysis `omodel` and weights.
Scenario outcomeScenario(unsigned seed, const std::string& omodel, int groups, int subjects);

// Interior parameter values in the scenario's layout: group intercepts spread
// apart by kind, small slopes and other coefficients drawn with `seed`.
std::vector<double> genericParameters(const Scenario& s, unsigned seed);
inline std::vector<double> cnormParameters(const Scenario& s) { return genericParameters(s, 1); }

}  // namespace kurv::modeltest
