#pragma once
// Multi-trajectory test scenarios built from single-model ones: one
// scenario.h Scenario per component (its kind, periods, orders, covariates,
// zero inflation, censoring; component 1 may have exposure), with the same
// number of subjects; the selection and weight of a subject are those of
// component 1's. The independent evaluation reuses scenario.h's densities
// per component on the component's own parameters.

#include "models/multi_gradient.h"
#include "models/multi_likelihood.h"
#include "scenario.h"

namespace kurv::modeltest {

using MultiPrepared = FamilyRun<multModelLogLikelihood, multModelDerivative>;

// Host rows: component 1's outcomes, times, weight, exposures, covariates;
// component 2's outcomes, times, covariates; component 3's outcomes, times.
inline MultiPrepared prepareMulti(const std::vector<Scenario>& comps) {
  MultiPrepared run;
  const bool weights = comps[0].weights;
  for (std::size_t i = 0; i < comps[0].subjects.size(); ++i) {
    std::vector<double> row;
    for (std::size_t m = 0; m < comps.size(); ++m) {
      const Subject& a = comps[m].subjects[i];
      for (const auto& v : {a.y, a.t, m == 0 && weights ? std::vector{a.weight} : std::vector<double>{},
                            m == 0 && comps[0].exposure ? a.exposure : std::vector<double>{},
                            m < 2 ? a.tcov : std::vector<double>{}})
        row.insert(row.end(), v.begin(), v.end());
    }
    run.host->data.push_back(row);
    run.host->selected.push_back(comps[0].subjects[i].selected);
  }
  auto args = testing::defaultArgs();
  // Positions of name, periods, covariate columns, groups, lower bound and
  // zero-inflation orders per component.
  const int pos[3][6] = {{1, 2, 6, 8, 9, 11}, {18, 19, 22, 23, 24, 26}, {28, 29, 0, 30, 31, 33}};
  for (std::size_t m = 0; m < comps.size(); ++m) {
    const Scenario& c = comps[m];
    const double values[] = {1.0 * c.T, 1.0 * c.T * c.tcov, 1.0 * c.G(), c.censorMin, 1.0 * c.inflOrders.size()};
    testing::setArg(args, pos[m][0], c.kind);
    for (int k = 1; k < 6; ++k)
      if (pos[m][k] > 0) testing::setArg(args, pos[m][k], values[k - 1]);
    testing::setArg(args, pos[m][4] + 1, c.censorMax);
    run.host->setRowVector("kurv_mat_order" + std::to_string(m + 1), c.orders);
    if (!c.inflOrders.empty()) run.host->setRowVector("kurv_mat_iorder" + std::to_string(m + 1), c.inflOrders);
  }
  testing::setArg(args, 4, 1.0 * weights);
  testing::setArg(args, 5, comps[0].exposure ? 1.0 * comps[0].T : 0.0);
  testing::setArg(args, 34, 1.0 * comps[0].G());
  run.ctx = testing::prepareTestRun(*run.host, args);
  return run;
}

// Parameters: each component's interior values of scenario.h without its
// membership block, then the shared membership constants.
inline std::vector<double> multiParametersOf(const std::vector<Scenario>& comps, unsigned seed) {
  std::vector<double> x;
  for (const Scenario& c : comps) {
    const std::vector<double> own = parametersOf(c, seed);
    x.insert(x.end(), own.begin(), own.begin() + Reference(c).theta);
  }
  for (int k = 1; k < comps[0].G(); ++k) x.push_back(0.3 * k - 0.4);
  return x;
}

// The independent evaluation of a multi-trajectory scenario: pi a softmax
// with the first group's predictor 0; a group of order -1 in a component has
// density 1 there; weights average 1 over the subjects not excluded.
struct MultiReference {
  const std::vector<Scenario>& comps;
  std::vector<Reference> refs;
  std::vector<double> weight;
  std::size_t membership = 0;  // where the membership constants start

  explicit MultiReference(const std::vector<Scenario>& components) : comps(components) {
    for (const Scenario& c : comps) refs.emplace_back(c), membership += refs.back().theta;
    double weightSum = 0.0, kept = 0.0;
    for (std::size_t i = 0; i < comps[0].subjects.size(); ++i)
      if (!refs[0].excluded[i]) weightSum += comps[0].subjects[i].weight, kept += 1.0;
    for (const Subject& a : comps[0].subjects) weight.push_back(comps[0].weights ? a.weight * kept / weightSum : 1.0);
  }

  // ln(pi_g prod_m prod_j f_mgij) of subject i, [g].
  std::vector<double> logTerms(const std::vector<double>& x, int i) const {
    const int G = comps[0].G();
    std::vector<double> eta(G, 0.0);
    for (int g = 1; g < G; ++g) eta[g] = x[membership + g - 1];
    const double norm = logSumExp(eta);
    std::size_t at = 0;
    for (std::size_t m = 0; m < comps.size(); ++m) {
      const std::vector<double> block(x.begin() + at, x.begin() + at + refs[m].theta);
      at += refs[m].theta;
      for (int g = 0; g < G; ++g)
        for (int j = 0; j < comps[m].T && comps[m].orders[g] >= 0; ++j) eta[g] += std::log(refs[m].density(block, g, i, j));
    }
    for (double& e : eta) e -= norm;
    return eta;
  }

  // -sum_i w_i ln sum_g exp(logTerms_g) over the subjects not excluded.
  double nll(const std::vector<double>& x) const {
    double total = 0.0;
    for (std::size_t i = 0; i < comps[0].subjects.size(); ++i)
      if (!refs[0].excluded[i]) total -= weight[i] * logSumExp(logTerms(x, static_cast<int>(i)));
    return total;
  }
};

}  // namespace kurv::modeltest
