#pragma once
// Multi-trajectory test scenarios: components and subjects in plain form, a
// run prepared from them through the real argument decoding, layout and
// multi-trajectory intake, random data, and an independent evaluation of the
// likelihood (the layout and the intake's rules written anew, the textbook
// densities of scenario.h).

#include "models/multi_gradient.h"
#include "models/multi_likelihood.h"
#include "scenario.h"

namespace kurv::modeltest {

struct Component {
  std::string kind = "cnorm";
  int T = 3, tcov = 0;  // tcov: covariates per period (components 1 and 2 only)
  std::vector<double> orders{0}, inflOrders;
  double censorMin = -1e300, censorMax = 1e300;
  bool exposure = false;  // component 1 only
};

struct MultiSubject {
  std::vector<std::vector<double>> y, t, tcov;  // [component][period or c*T+j]
  std::vector<double> exposure;
  double weight = 1.0;
  bool selected = true;
};

struct MultiScenario {
  std::vector<Component> comps;
  bool weights = false;
  std::vector<MultiSubject> subjects;
  int G() const { return static_cast<int>(comps[0].orders.size()); }
};

struct MultiPrepared {
  std::unique_ptr<testing::MemoryHost> host = std::make_unique<testing::MemoryHost>();
  std::unique_ptr<ModelContext> ctx;
  double nll(const std::vector<double>& x) {
    double f = 0.0;
    multModelLogLikelihood(static_cast<int>(x.size()), x.data(), &f, ctx.get());
    return f;
  }
  std::vector<double> gradient(const std::vector<double>& x) {
    std::vector<double> g(x.size());
    nll(x);
    multModelDerivative(static_cast<int>(x.size()), x.data(), nullptr, g.data(), ctx.get());
    return g;
  }
};

// The 39 arguments and host data of a scenario (row layout: component 1's
// outcomes, times, weight, exposures, covariates; component 2's outcomes,
// times, covariates; component 3's outcomes and times).
inline std::vector<std::string> multiArgs(const MultiScenario& s, testing::MemoryHost& host) {
  for (const MultiSubject& a : s.subjects) {
    std::vector<double> row;
    for (std::size_t m = 0; m < s.comps.size(); ++m) {
      row.insert(row.end(), a.y[m].begin(), a.y[m].end());
      row.insert(row.end(), a.t[m].begin(), a.t[m].end());
      if (m == 0 && s.weights) row.push_back(a.weight);
      if (m == 0 && s.comps[0].exposure) row.insert(row.end(), a.exposure.begin(), a.exposure.end());
      if (m < 2) row.insert(row.end(), a.tcov[m].begin(), a.tcov[m].end());
    }
    host.data.push_back(row);
    host.selected.push_back(a.selected);
  }
  auto args = testing::defaultArgs();
  // Positions of name, periods, covariate columns, groups, bounds and
  // zero-inflation orders per component.
  const int pos[3][6] = {{1, 2, 6, 8, 9, 11}, {18, 19, 22, 23, 24, 26}, {28, 29, 0, 30, 31, 33}};
  for (std::size_t m = 0; m < s.comps.size(); ++m) {
    const Component& c = s.comps[m];
    const std::string n = std::to_string(m + 1);
    testing::setArg(args, pos[m][0], c.kind);
    testing::setArg(args, pos[m][1], 1.0 * c.T);
    if (pos[m][2] > 0) testing::setArg(args, pos[m][2], 1.0 * c.T * c.tcov);
    testing::setArg(args, pos[m][3], 1.0 * c.orders.size());
    testing::setArg(args, pos[m][4], c.censorMin);
    testing::setArg(args, pos[m][4] + 1, c.censorMax);
    testing::setArg(args, pos[m][5], 1.0 * c.inflOrders.size());
    host.setRowVector("kurv_mat_order" + n, c.orders);
    if (!c.inflOrders.empty()) host.setRowVector("kurv_mat_iorder" + n, c.inflOrders);
  }
  testing::setArg(args, 4, 1.0 * s.weights);
  testing::setArg(args, 5, s.comps[0].exposure ? 1.0 * s.comps[0].T : 0.0);
  testing::setArg(args, 34, 1.0 * s.G());
  return args;
}

inline MultiPrepared prepareMulti(const MultiScenario& s) {
  MultiPrepared run;
  run.ctx = testing::prepareTestRun(*run.host, multiArgs(s, *run.host));
  return run;
}

// The independent evaluation.
struct MultiReference {
  const MultiScenario& s;
  std::vector<std::vector<int>> traj, infl;  // [component][group]
  std::vector<int> sigma;                   // [component], -1 without
  int theta = 0, n = 0;
  std::vector<bool> excluded;
  std::vector<double> weight;

  explicit MultiReference(const MultiScenario& scenario) : s(scenario) {
    for (const Component& c : s.comps) {
      traj.emplace_back(), infl.emplace_back(), sigma.push_back(-1);
      for (double o : c.orders) traj.back().push_back(n), n += o >= 0 ? static_cast<int>(o) + 1 + c.tcov : 0;
      if (c.kind == "cnorm") sigma.back() = n++;
      for (int k = 0; k < s.G() && !c.inflOrders.empty(); ++k) {
        const bool shared = c.inflOrders.size() == 1 && k > 0;
        infl.back().push_back(shared ? infl.back()[0] : n);
        if (!shared) n += static_cast<int>(c.inflOrders[k]) + 1;
      }
    }
    theta = n;
    n += s.G() - 1;
    double weightSum = 0.0;
    int kept = 0;
    for (const MultiSubject& a : s.subjects) {
      excluded.push_back(!a.selected || (s.weights && (missing(a.weight) || a.weight <= 0.0)));
      if (!excluded.back()) weightSum += s.weights ? a.weight : 1.0, ++kept;
    }
    for (const MultiSubject& a : s.subjects) weight.push_back(s.weights ? a.weight * kept / weightSum : 1.0);
  }

  // Density of component m's measurement j under group k; 1 when the period
  // is not usable or the group has no trajectory in the component.
  double density(const std::vector<double>& x, int m, int k, int i, int j) const {
    const Component& c = s.comps[m];
    const MultiSubject& a = s.subjects[i];
    const int order = static_cast<int>(c.orders[k]);
    const double y = a.y[m][j], t = a.t[m][j];
    bool usable = !excluded[i] && !missing(y) && !missing(t) && !(c.exposure && missing(a.exposure[j]));
    for (int q = 0; q < c.tcov; ++q) usable = usable && !missing(a.tcov[m][q * c.T + j]);
    if (!usable || order < 0) return 1.0;
    double mu = 0.0;
    for (int p = 0; p <= order; ++p) mu += std::pow(t, p) * x[traj[m][k] + p];
    for (int q = 0; q < c.tcov; ++q) mu += a.tcov[m][q * c.T + j] * x[traj[m][k] + order + 1 + q];
    if (c.kind == "cnorm") {
      const double sd = std::exp(x[sigma[m]]);
      if (y <= c.censorMin) return Phi((c.censorMin - mu) / sd);
      return y >= c.censorMax ? 1.0 - Phi((c.censorMax - mu) / sd) : pdf((y - mu) / sd) / sd;
    }
    if (c.kind == "logit") return y == 0.0 ? 1.0 - logistic(mu) : logistic(mu);
    const int q = c.inflOrders.empty() ? -1 : static_cast<int>(c.inflOrders[c.inflOrders.size() == 1 ? 0 : k]);
    double eta = 0.0;
    for (int p = 0; p <= q; ++p) eta += std::pow(t, p) * x[infl[m][k] + p];
    const double omega = q >= 0 ? logistic(eta) : 0.0, lambda = std::exp(mu) * (c.exposure ? a.exposure[j] : 1.0);
    return y == 0.0 ? omega + (1.0 - omega) * std::exp(-lambda) : (1.0 - omega) * poisson(y, lambda);
  }

  // -sum_i w_i ln sum_k pi_k prod_m prod_j f_mkij, pi a softmax with the
  // first group's predictor 0.
  double nll(const std::vector<double>& x) const {
    std::vector<double> pi(s.G(), 1.0);
    double sum = 1.0;
    for (int k = 1; k < s.G(); ++k) sum += pi[k] = std::exp(x[theta + k - 1]);
    double total = 0.0;
    for (std::size_t i = 0; i < s.subjects.size(); ++i) {
      if (excluded[i]) continue;
      double lik = 0.0;
      for (int k = 0; k < s.G(); ++k) {
        double term = pi[k] / sum;
        for (std::size_t m = 0; m < s.comps.size(); ++m)
          for (int j = 0; j < s.comps[m].T; ++j) term *= density(x, static_cast<int>(m), k, static_cast<int>(i), j);
        lik += term;
      }
      total -= weight[i] * std::log(lik);
    }
    return total;
  }
};

// Random subjects: each follows one group in every component; about 10% of
// outcomes and 3% of times, covariates and exposures missing; subject 1 has
// no data in component 1, subject 2 is not selected, subject 3 weighs 0.
inline MultiScenario withMultiData(MultiScenario s, unsigned seed, int n) {
  Uniform u{std::mt19937(seed)};
  auto maybe = [&u](double v, double pMissing) { return u() < pMissing ? M : v; };
  for (int i = 0; i < n; ++i) {
    const int g = static_cast<int>(u(0, s.G()));
    MultiSubject a{.weight = i == 3 ? 0.0 : u(0.5, 2.0), .selected = i != 2};
    for (std::size_t m = 0; m < s.comps.size(); ++m) {
      const Component& c = s.comps[m];
      a.y.emplace_back(), a.t.emplace_back(), a.tcov.emplace_back();
      for (int j = 0; j < c.T; ++j) a.t[m].push_back(maybe(-1.0 + 2.0 * j / (c.T - 1) + u(-0.05, 0.05), 0.03));
      for (int q = 0; q < c.tcov * c.T; ++q) a.tcov[m].push_back(maybe(u(-1, 1), 0.03));
      for (int j = 0; j < c.T; ++j) {
        const double e = u(0.5, 2.0), t = missing(a.t[m][j]) ? 0.0 : a.t[m][j];
        if (m == 0 && c.exposure) a.exposure.push_back(maybe(e, 0.03));
        double y = std::clamp(1.5 + 2.0 * g + 1.2 * t + u(-2.5, 2.5), c.censorMin, c.censorMax);
        if (c.kind == "logit") y = u() < 0.25 + 0.5 * g / s.G();
        if (c.kind == "zip" || c.kind == "poisson") y = u() < 0.3 ? 0.0 : std::floor(u(0, 2.5 * std::exp(0.3 + 0.4 * g)));
        a.y[m].push_back(i == 1 && m == 0 ? M : maybe(y, 0.1));
      }
    }
    s.subjects.push_back(a);
  }
  return s;
}

// Interior parameters: group levels spread apart by kind, ln sigma = ln 1.5,
// the rest small.
inline std::vector<double> multiParametersOf(const MultiScenario& s, unsigned seed) {
  Uniform u{std::mt19937(seed)};
  const MultiReference r(s);
  std::vector<double> x(r.n);
  for (double& v : x) v = u(-0.4, 0.4);
  for (std::size_t m = 0; m < s.comps.size(); ++m) {
    const Component& c = s.comps[m];
    for (int k = 0; k < s.G(); ++k)
      if (c.orders[k] >= 0)
        x[r.traj[m][k]] = c.kind == "cnorm" ? 1.5 + 2.0 * k : c.kind == "logit" ? -0.6 + 0.6 * k : 0.3 + 0.4 * k;
    if (r.sigma[m] >= 0) x[r.sigma[m]] = std::log(1.5);
  }
  return x;
}

}  // namespace kurv::modeltest
