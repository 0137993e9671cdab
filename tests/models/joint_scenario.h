#pragma once
// Joint (dual-trajectory) test scenarios: two models' options and subjects
// in plain form, a run prepared from them through the real argument
// decoding, layout and intake, random data and parameters, and an
// independent evaluation: the layout and the intake's rules written anew,
// the textbook densities, and the mixture
//   L_i = sum_j sum_k pi_j pi_{k|j} prod_t f1_jt prod_t f2_kt
// with its posteriors by Bayes' rule.

#include <array>

#include "models/joint_gradient.h"
#include "models/joint_likelihood.h"
#include "scenario.h"

namespace kurv::modeltest {

struct ModelSpec {
  std::string kind = "cnorm";
  int T = 4, nRisk = 0, tcov = 0;  // tcov: per period
  std::vector<double> orders{0}, inflOrders;
  double censorMin = -1e300, censorMax = 1e300;
  bool exposure = false;  // model 1 only
  int G() const { return static_cast<int>(orders.size()); }
};

struct JointSubject {
  std::array<std::vector<double>, 2> y, t, risk, exposure, tcov;  // tcov: [c * T + j]
  double weight = 1.0;
  bool selected = true;
};

struct JointScenario {
  std::array<ModelSpec, 2> model;
  int refGroup = 1;
  bool weights = false;
  std::vector<JointSubject> subjects;
};

using PreparedJoint = FamilyRun<jointModelLogLikelihood, jointModelDerivative>;

inline std::vector<std::string> jointArgs(const JointScenario& s) {
  auto args = testing::defaultArgs();
  const ModelSpec &m1 = s.model[0], &m2 = s.model[1];
  testing::setArg(args, 1, m1.kind);
  testing::setArg(args, 18, m2.kind);
  const double numeric[][2] = {{2, 1.0 * m1.T}, {3, 1.0 * m1.nRisk}, {4, 1.0 * s.weights},
                               {5, m1.exposure ? 1.0 * m1.T : 0.0}, {6, 1.0 * m1.tcov * m1.T}, {8, 1.0 * m1.G()},
                               {9, m1.censorMin}, {10, m1.censorMax}, {11, 1.0 * m1.inflOrders.size()},
                               {17, 1.0 * s.refGroup}, {19, 1.0 * m2.T}, {20, 1.0 * m2.nRisk},
                               {22, 1.0 * m2.tcov * m2.T}, {23, 1.0 * m2.G()}, {24, m2.censorMin},
                               {25, m2.censorMax}, {26, 1.0 * m2.inflOrders.size()}};
  for (const auto& [position, value] : numeric) testing::setArg(args, static_cast<int>(position), value);
  return args;
}

// Each subject's row in the order the command passes the variables, and the orders.
inline void putJointData(const JointScenario& s, testing::MemoryHost& host) {
  for (const JointSubject& a : s.subjects) {
    std::vector<double> row;
    auto put = [&row](const std::vector<double>& v) { row.insert(row.end(), v.begin(), v.end()); };
    put(a.y[0]), put(a.t[0]), put(a.risk[0]), put(s.weights ? std::vector{a.weight} : std::vector<double>{});
    put(a.exposure[0]), put(a.tcov[0]), put(a.y[1]), put(a.t[1]), put(a.risk[1]), put(a.tcov[1]);
    host.data.push_back(row);
    host.selected.push_back(a.selected);
  }
  for (int m = 0; m < 2; ++m) {
    host.setRowVector("kurv_mat_order" + std::to_string(m + 1), s.model[m].orders);
    if (!s.model[m].inflOrders.empty()) host.setRowVector("kurv_mat_iorder" + std::to_string(m + 1), s.model[m].inflOrders);
  }
}

inline PreparedJoint prepareJoint(const JointScenario& s) {
  PreparedJoint run;
  putJointData(s, *run.host);
  run.ctx = testing::prepareTestRun(*run.host, jointArgs(s));
  return run;
}

// Model m's data as a single-model scenario, whose independent evaluation
// (scenario.h) gives the densities: a subject excluded by a risk value of
// either model is not selected; membership is the joint model's own.
inline Scenario modelScenario(const JointScenario& s, int m) {
  const ModelSpec& d = s.model[m];
  Scenario single{.kind = d.kind, .T = d.T, .tcov = d.tcov, .orders = d.orders, .inflOrders = d.inflOrders,
                  .censorMin = d.censorMin, .censorMax = d.censorMax, .weights = s.weights, .exposure = d.exposure};
  for (const JointSubject& a : s.subjects) {
    const bool badRisk = std::any_of(a.risk[0].begin(), a.risk[0].end(), missing) ||
                         std::any_of(a.risk[1].begin(), a.risk[1].end(), missing);
    single.subjects.push_back({.y = a.y[m], .t = a.t[m], .exposure = a.exposure[m], .tcov = a.tcov[m],
                               .weight = a.weight, .selected = a.selected && !badRisk});
  }
  return single;
}

// The independent evaluation of a joint scenario. Parameter positions: model
// 1's blocks as in a single model (trajectories, ln sigma, zero inflation,
// membership), then model 2's blocks from `offset2` in the same order, its
// conditional constants (G2 - 1 per model-1 group) from `cond` and its risk
// coefficients (nRisk2 per model-2 group after the first) from `risk2`.
struct JointReference {
  const JointScenario& s;
  std::array<Scenario, 2> single;
  std::array<Reference, 2> model;
  int theta = 0, offset2 = 0, cond = 0, risk2 = 0, n = 0;
  std::vector<bool> excluded;
  std::vector<double> weight;

  explicit JointReference(const JointScenario& scenario)
      : s(scenario), single{modelScenario(scenario, 0), modelScenario(scenario, 1)},
        model{Reference(single[0]), Reference(single[1])} {
    theta = model[0].theta;
    offset2 = theta + (s.model[0].G() - 1) * (s.model[0].nRisk + 1);
    cond = offset2 + model[1].theta;
    risk2 = cond + s.model[0].G() * (s.model[1].G() - 1);
    n = risk2 + (s.model[1].G() - 1) * s.model[1].nRisk;
    excluded = model[0].excluded, weight = model[0].weight;
  }
  // Where a block of model m starts in the joint vector.
  int trajectory(int m, int k) const { return model[m].traj[k] + (m ? offset2 : 0); }
  int sigma(int m) const { return model[m].sigma < 0 ? -1 : model[m].sigma + (m ? offset2 : 0); }

  // Softmax of the predictors `eta` (reference entry already 0).
  static std::vector<double> softmax(std::vector<double> eta) {
    double sum = 0.0;
    for (double& e : eta) sum += (e = std::exp(e));
    for (double& e : eta) e /= sum;
    return eta;
  }

  // pi_j of subject i.
  std::vector<double> model1Membership(const std::vector<double>& x, int i) const {
    const ModelSpec& d = s.model[0];
    std::vector<double> eta(d.G(), 0.0);
    for (int k = 0, next = theta; k < d.G(); ++k) {
      if (k == s.refGroup - 1) continue;
      eta[k] = x[next++];
      for (int r = 0; r < d.nRisk; ++r) eta[k] += x[next++] * s.subjects[i].risk[0][r];
    }
    return softmax(eta);
  }

  // pi_{k|j} of subject i; the first model-2 group is the reference.
  std::vector<double> model2Membership(const std::vector<double>& x, int i, int j) const {
    const int G2 = s.model[1].G(), R = s.model[1].nRisk;
    std::vector<double> eta(G2, 0.0);
    for (int k = 1; k < G2; ++k) {
      eta[k] = x[cond + j * (G2 - 1) + k - 1];
      for (int r = 0; r < R; ++r) eta[k] += x[risk2 + (k - 1) * R + r] * s.subjects[i].risk[1][r];
    }
    return softmax(eta);
  }

  // ln(pi_j pi_{k|j} prod f1 prod f2) of subject i, [j * G2 + k].
  std::vector<double> logPairTerms(const std::vector<double>& x, int i) const {
    const int G1 = s.model[0].G(), G2 = s.model[1].G();
    const std::vector<double> pi = model1Membership(x, i), x2(x.begin() + offset2, x.end());
    std::vector<double> terms;
    for (int j = 0; j < G1; ++j) {
      const std::vector<double> cond2 = model2Membership(x, i, j);
      for (int k = 0; k < G2; ++k) {
        double term = std::log(pi[j] * cond2[k]);
        for (int t = 0; t < s.model[0].T; ++t) term += std::log(model[0].density(x, j, i, t));
        for (int t = 0; t < s.model[1].T; ++t) term += std::log(model[1].density(x2, k, i, t));
        terms.push_back(term);
      }
    }
    return terms;
  }

  // The pairs' posteriors of subject i by Bayes' rule, [j * G2 + k].
  std::vector<double> pairPosteriors(const std::vector<double>& x, int i) const {
    std::vector<double> terms = logPairTerms(x, i);
    const double logL = logSumExp(terms);
    for (double& t : terms) t = std::exp(t - logL);
    return terms;
  }

  double nll(const std::vector<double>& x) const {
    double total = 0.0;
    for (std::size_t i = 0; i < s.subjects.size(); ++i)
      if (!excluded[i]) total -= weight[i] * logSumExp(logPairTerms(x, static_cast<int>(i)));
    return total;
  }
};

// Random subjects: model-1 group g uniform, model-2 group (g + 1) mod G2 with
// probability 0.3 and g mod G2 otherwise; about 10% of outcomes and 3% of
// times and covariates missing; subject 1 has no model-1 data, subject 2 is
// not selected, subject 3 misses its risk values, subject 4 has weight 0.
inline JointScenario withJointData(JointScenario s, unsigned seed, int n) {
  Uniform u{std::mt19937(seed)};
  auto maybe = [&u](double v, double pMissing) { return u() < pMissing ? M : v; };
  for (int i = 0; i < n; ++i) {
    JointSubject a{.weight = i == 4 ? 0.0 : u(0.5, 2.0), .selected = i != 2};
    const int g1 = static_cast<int>(u(0, s.model[0].G()));
    const int g2 = (g1 + (u() < 0.3 ? 1 : 0)) % s.model[1].G();
    for (int m = 0; m < 2; ++m) {
      const ModelSpec& d = s.model[m];
      const int g = m == 0 ? g1 : g2;
      for (int j = 0; j < d.T; ++j) a.t[m].push_back(maybe(-1.0 + 2.0 * j / (d.T - 1) + u(-0.05, 0.05), 0.03));
      for (int c = 0; c < d.tcov * d.T; ++c) a.tcov[m].push_back(maybe(u(-1, 1), 0.03));
      for (int j = 0; j < d.T; ++j) {
        const double e = d.exposure ? u(0.5, 2.0) : 1.0, t = missing(a.t[m][j]) ? 0.0 : a.t[m][j];
        if (d.exposure) a.exposure[m].push_back(maybe(e, 0.03));
        double y = std::clamp(1.5 + 2.0 * g + 1.2 * t + u(-2.5, 2.5), d.censorMin, d.censorMax);
        if (d.kind == "logit") y = u() < 0.25 + 0.5 * g / d.G();
        if (d.kind == "zip" || d.kind == "poisson") y = u() < 0.3 ? 0.0 : std::floor(u(0, 2.5 * e * std::exp(0.3 + 0.4 * g)));
        a.y[m].push_back((i == 1 && m == 0) ? M : maybe(y, 0.1));
      }
      for (int r = 0; r < d.nRisk; ++r) a.risk[m].push_back(i == 3 ? M : r % 2 ? u(-1.5, 1.5) : (u() < 0.5));
    }
    s.subjects.push_back(a);
  }
  return s;
}

// Interior parameter values: group levels spread apart by kind, a slope of 1
// for normal trajectories, ln sigma = ln 1.5, risk coefficients of +-1.5, the
// rest small.
inline std::vector<double> jointParametersOf(const JointScenario& s, unsigned seed) {
  Uniform u{std::mt19937(seed)};
  const JointReference r(s);
  std::vector<double> x(r.n);
  for (double& v : x) v = u(-0.4, 0.4);
  for (int m = 0; m < 2; ++m) {
    const ModelSpec& d = s.model[m];
    for (int k = 0; k < d.G(); ++k) {
      x[r.trajectory(m, k)] = d.kind == "cnorm" ? 1.5 + 2.0 * k : d.kind == "logit" ? -0.6 + 0.6 * k : 0.3 + 0.4 * k;
      if (d.kind == "cnorm" && d.orders[k] >= 1) x[r.trajectory(m, k) + 1] = 1.0;
    }
    if (r.sigma(m) >= 0) x[r.sigma(m)] = std::log(1.5);
  }
  const int R1 = s.model[0].nRisk;
  for (int k = 0; k < (s.model[0].G() - 1) * R1; ++k) x[r.theta + k / R1 * (R1 + 1) + 1 + k % R1] = k % 2 ? -1.5 : 1.5;
  for (int k = r.risk2; k < r.n; ++k) x[k] = (k - r.risk2) % 2 ? -1.5 : 1.5;
  return x;
}

}  // namespace kurv::modeltest
