#pragma once
// Single-trajectory test scenarios: options and subjects in plain form, a run
// prepared from them through the real argument decoding, layout and intake,
// random data and parameters, and an independent evaluation: the layout and
// the intake's rules written anew, and the textbook densities (normal pdf and
// erfc-based cdf, logistic, Poisson through lgamma).

#include <algorithm>
#include <cmath>
#include <random>

#include <gtest/gtest.h>

#include "core/evaluation.h"
#include "models/single_gradient.h"
#include "models/single_likelihood.h"
#include "support/run_builder.h"

// Scenarios are written with designated initializers naming only the options
// they set; the others keep their defaults on purpose.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace kurv::modeltest {

inline constexpr double M = testing::kHostMissing;
inline bool missing(double v) { return v >= M; }
inline double logistic(double v) { return 1.0 / (1.0 + std::exp(-v)); }
inline double pdf(double z) { return std::exp(-0.5 * z * z) / std::sqrt(2.0 * M_PI); }
inline double Phi(double z) { return 0.5 * std::erfc(-z / std::sqrt(2.0)); }
inline double poisson(double y, double lambda) { return std::exp(y * std::log(lambda) - lambda - std::lgamma(y + 1.0)); }

struct Subject {
  std::vector<double> y, t, risk, exposure, tcov, dcov;  // tcov, dcov: [c * T + j]
  double weight = 1.0, outcome = M, exempt = 0.0;
  bool selected = true;
};

struct Scenario {
  std::string kind = "cnorm", omodel = "none";
  int T = 1, nRisk = 0, refGroup = 1, tcov = 0, dcov = 0;  // tcov, dcov: per period
  std::vector<double> orders{0}, inflOrders, dropoutOrders;
  double censorMin = -1e300, censorMax = 1e300;
  double outcomeMin = -1e300, outcomeMax = 1e300;  // no argument sets these: put on the record
  bool weights = false, exposure = false, exempt = false;
  std::vector<Subject> subjects;
  int G() const { return static_cast<int>(orders.size()); }
};

// ln sum_k exp(v_k), the largest term taken out.
inline double logSumExp(const std::vector<double>& v) {
  const double top = *std::max_element(v.begin(), v.end());
  double sum = 0.0;
  for (double e : v) sum += std::exp(e - top);
  return top + std::log(sum);
}

// A run prepared for one family's likelihood and gradient; the host outlives
// the record that points at it.
template <LikelihoodCallback likelihood, GradientCallback derivative>
struct FamilyRun {
  std::unique_ptr<testing::MemoryHost> host = std::make_unique<testing::MemoryHost>();
  std::unique_ptr<ModelContext> ctx;
  double nll(const std::vector<double>& x) {
    double f = 0.0;
    likelihood(static_cast<int>(x.size()), x.data(), &f, ctx.get());
    return f;
  }
  std::vector<double> gradient(const std::vector<double>& x) {
    std::vector<double> g(x.size());
    nll(x);
    derivative(static_cast<int>(x.size()), x.data(), nullptr, g.data(), ctx.get());
    return g;
  }
};
using Prepared = FamilyRun<singleModelLogLikelihood, singleModelDerivative>;

// The gradient at x against the sum over subjects of -w_i d ln L_i / dx_p,
// each subject's ln L_i differenced centrally with step h = 1e-5 max(1, |x_p|):
// the truncation error (about h^2 times a third derivative) and the rounding
// (about 1e-16 |ln L_i| / h, 1e-8 for a ln L_i of -1000) stay well below the
// 1e-6 relative tolerance. With weights, the score outer-product sum against
// the difference scores'.
template <class Run>
void expectGradientMatchesDifferences(Run& run, std::vector<double> x, bool weights) {
  const ModelContext& c = *run.ctx;
  const int n = static_cast<int>(x.size());
  std::vector<std::vector<double>> score(c.nObs, std::vector<double>(n));
  for (int p = 0; p < n; ++p) {
    const double saved = x[p], h = 1e-5 * std::max(1.0, std::fabs(saved));
    auto at = [&](double v) { x[p] = v; run.nll(x); return c.subjectLogLik; };
    const std::vector<double> up = at(saved + h), down = at(saved - h);
    x[p] = saved;
    for (int i = 0; i < c.nObs; ++i) score[i][p] = c.excluded[i] ? 0.0 : -c.weight[i] * (up[i] - down[i]) / (2 * h);
  }
  const std::vector<double> g = run.gradient(x);
  for (int a = 0; a < n; ++a) {
    double fd = 0.0;
    for (const auto& s : score) fd += s[a];
    EXPECT_NEAR(g[a], fd, 1e-6 * std::max(1.0, std::fabs(fd))) << "parameter " << a;
    for (int b = 0; b < n && weights; ++b) {
      // Relative to the sum of the terms' sizes: the terms may cancel.
      double outer = 0.0, size = 0.0;
      for (const auto& s : score) outer += s[a] * s[b], size += std::fabs(s[a] * s[b]);
      EXPECT_NEAR(c.scoreOuterSum[a * n + b], outer, 1e-6 * std::max(1.0, size)) << a << "," << b;
    }
  }
}

// Puts the scenario's data and order matrices on the host and returns the
// run's description.
inline RunDescription describe(testing::MemoryHost& host, const Scenario& s) {
  for (const Subject& a : s.subjects) {
    std::vector<double> row;
    for (const auto& v : {a.y, a.t, a.risk, s.weights ? std::vector{a.weight} : std::vector<double>{},
                          s.exposure ? a.exposure : std::vector<double>{}, a.tcov,
                          s.omodel != "none" ? std::vector{a.outcome} : std::vector<double>{}, a.dcov,
                          s.exempt ? std::vector{a.exempt} : std::vector<double>{}})
      row.insert(row.end(), v.begin(), v.end());
    host.data.push_back(row);
    host.selected.push_back(a.selected);
  }
  host.setRowVector("kurv_mat_order1", s.orders);
  if (!s.inflOrders.empty()) host.setRowVector("kurv_mat_iorder1", s.inflOrders);
  if (!s.dropoutOrders.empty()) host.setRowVector("kurv_mat_dropoutorder1", s.dropoutOrders);
  RunDescription d = testing::defaultDescription();
  ModelDescription& m1 = d.models[0];
  m1.name = s.kind;
  m1.periods = s.T;
  m1.risk = s.nRisk;
  m1.exposure = s.exposure ? s.T : 0;
  m1.tcov = s.tcov * s.T;
  m1.groups = s.G();
  m1.censorMin = s.censorMin;
  m1.censorMax = s.censorMax;
  m1.inflOrders = static_cast<int>(s.inflOrders.size());
  m1.refGroup = s.refGroup;
  d.weights = s.weights;
  d.dropoutOrders = static_cast<int>(s.dropoutOrders.size());
  d.dcov = s.dcov * s.T;
  d.dropoutExempt = s.exempt;
  d.outcome = s.omodel != "none";
  d.outcomeModel = s.omodel;
  return d;
}

inline Prepared prepare(const Scenario& s) {
  Prepared run;
  run.ctx = testing::prepareTestRun(*run.host, describe(*run.host, s));
  if (!run.ctx) return run;
  run.ctx->hasOutcomeCensorMin = s.outcomeMin > -1e300, run.ctx->outcomeCensorMin = s.outcomeMin;
  run.ctx->hasOutcomeCensorMax = s.outcomeMax < 1e300, run.ctx->outcomeCensorMax = s.outcomeMax;
  return run;
}

// The independent evaluation of a scenario.
struct Reference {
  const Scenario& s;
  // Parameter positions: trajectory blocks, dropout blocks, ln sigma,
  // zero-inflation blocks, membership, outcome analysis. One order given for
  // dropout or zero inflation means one block that every group shares.
  std::vector<int> traj, drop, infl;
  int sigma = -1, theta = 0, outcome = 0, n = 0;
  // The intake's rules: exclusion (not selected, a missing risk value, a
  // missing or non-positive weight), usable periods, first and last observed
  // period, the complete data length, weights scaled to average 1 over all.
  std::vector<bool> excluded;
  std::vector<std::vector<bool>> usable;
  std::vector<int> first, last;
  std::vector<double> weight;
  int complete = 0;

  explicit Reference(const Scenario& scenario) : s(scenario) {
    for (double o : s.orders) traj.push_back(n), n += o >= 0 ? static_cast<int>(o) + 1 + s.tcov : 0;
    auto blocks = [this](const std::vector<double>& orders, std::vector<int>& at, int extra) {
      for (int k = 0; k < s.G() && !orders.empty(); ++k) {
        const bool shared = orders.size() == 1 && k > 0;
        at.push_back(shared ? at[0] : n);
        if (!shared && orders[k] != -1) n += static_cast<int>(orders[k]) + 1 + extra;
      }
    };
    blocks(s.dropoutOrders, drop, s.dcov);
    if (s.kind == "cnorm") sigma = n++;
    blocks(s.inflOrders, infl, 0);
    theta = n;
    outcome = n += (s.G() - 1) * (s.nRisk + 1);
    if (s.omodel != "none") n += s.G() + (s.omodel == "logit" || s.omodel == "poisson" ? 0 : 1);
    double weightSum = 0.0;
    for (const Subject& a : s.subjects) {
      const bool badWeight = s.weights && (missing(a.weight) || a.weight <= 0.0);
      weightSum += s.weights && !badWeight ? a.weight : 0.0;
      excluded.push_back(badWeight || !a.selected || std::any_of(a.risk.begin(), a.risk.end(), missing));
      usable.emplace_back(), first.push_back(-1), last.push_back(s.T);
      for (int j = 0; j < s.T; ++j) {
        bool ok = !excluded.back() && !missing(a.y[j]) && !missing(a.t[j]) && !(s.exposure && missing(a.exposure[j]));
        for (int c = 0; c < s.tcov; ++c) ok = ok && !missing(a.tcov[c * s.T + j]);
        usable.back().push_back(ok);
        if (ok && first.back() < 0) first.back() = j;
      }
      while (last.back() > 0 && missing(a.y[last.back() - 1])) --last.back();
      complete = std::max(complete, static_cast<int>(std::count(usable.back().begin(), usable.back().end(), true)));
    }
    for (const Subject& a : s.subjects) weight.push_back(s.weights ? a.weight * s.subjects.size() / weightSum : 1.0);
  }

  // Density of y_ij under group k (1 for an unusable period).
  double density(const std::vector<double>& x, int k, int i, int j) const {
    const Subject& a = s.subjects[i];
    const int order = static_cast<int>(s.orders[k]);
    const double y = a.y[j];
    if (!usable[i][j]) return 1.0;
    if (k == 0 && order == -1) return y == 0.0 ? 1.0 : 0.0;  // the group that never shows a nonzero value
    double mu = 0.0;
    for (int p = 0; p <= order; ++p) mu += std::pow(a.t[j], p) * x[traj[k] + p];
    for (int c = 0; c < s.tcov && order >= 0; ++c) mu += a.tcov[c * s.T + j] * x[traj[k] + order + 1 + c];
    if (s.kind == "cnorm") {
      const double sd = std::exp(x[sigma]);
      if (y <= s.censorMin) return Phi((s.censorMin - mu) / sd);
      return y >= s.censorMax ? 1.0 - Phi((s.censorMax - mu) / sd) : pdf((y - mu) / sd) / sd;
    }
    if (s.kind == "logit") return y == 0.0 ? 1.0 - logistic(mu) : logistic(mu);
    const int q = s.inflOrders.empty() ? -1 : static_cast<int>(s.inflOrders[s.inflOrders.size() == 1 ? 0 : k]);
    double eta = 0.0;
    for (int p = 0; p <= q; ++p) eta += std::pow(a.t[j], p) * x[infl[k] + p];
    const double omega = q >= 0 ? logistic(eta) : 0.0, lambda = std::exp(mu) * (s.exposure ? a.exposure[j] : 1.0);
    return y == 0.0 ? omega + (1.0 - omega) * std::exp(-lambda) : (1.0 - omega) * poisson(y, lambda);
  }

  // The dropout factor of period j (1 where none exists): after the first
  // observed period and the lags, up to the last observed period, within the
  // complete data length; staying 1 - p, dropping out at the last period p.
  double dropout(const std::vector<double>& x, int k, int i, int j) const {
    const Subject& a = s.subjects[i];
    if (s.dropoutOrders.empty() || excluded[i] || first[i] < 0 || (s.exempt && a.exempt != 0.0)) return 1.0;
    const int d = static_cast<int>(s.dropoutOrders[s.dropoutOrders.size() == 1 ? 0 : k]), b = drop[k];
    if (d == -1 || j <= first[i] + d - 1 || j <= first[i] || j > last[i] || j >= first[i] + complete) return 1.0;
    double eta = x[b];
    for (int p = 1; p <= d + s.dcov; ++p) {  // lagged outcomes y_{j-p}, then the covariates of period j
      const double v = p <= d ? a.y[j - p] : a.dcov[(p - d - 1) * s.T + j];
      if (missing(v)) return 1.0;
      eta += v * x[b + p];
    }
    return j < last[i] ? 1.0 - logistic(eta) : logistic(eta);
  }

  // ln(pi_k prod_j f_kj D_kj) of subject i, [k]: pi a softmax with the
  // reference group's predictor 0.
  std::vector<double> logTerms(const std::vector<double>& x, int i) const {
    const Subject& a = s.subjects[i];
    std::vector<double> eta(s.G(), 0.0);
    for (int k = 0, next = theta; k < s.G(); ++k) {
      if (k == s.refGroup - 1) continue;
      eta[k] = x[next++];
      for (int r = 0; r < s.nRisk; ++r) eta[k] += x[next++] * a.risk[r];
    }
    const double norm = logSumExp(eta);
    for (int k = 0; k < s.G(); ++k) {
      eta[k] -= norm;
      for (int j = 0; j < s.T; ++j) eta[k] += std::log(density(x, k, i, j) * dropout(x, k, i, j));
    }
    return eta;
  }

  // -sum_i w_i ln L_i, L_i = O_i sum_k pi_k prod_j f_kj D_kj over the subjects
  // that take part, by log-sum-exp (no product underflows); O the outcome
  // density at the posterior-weighted mix of the group constants.
  double nll(const std::vector<double>& x) const {
    const int G = s.G();
    double total = 0.0;
    for (std::size_t i = 0; i < s.subjects.size(); ++i) {
      const Subject& a = s.subjects[i];
      if (excluded[i]) continue;
      const std::vector<double> term = logTerms(x, static_cast<int>(i));
      const double logL = logSumExp(term);
      double lik = 1.0, eta = 0.0;
      if (s.omodel != "none" && !missing(a.outcome)) {
        for (int k = 0; k < G; ++k) eta += std::exp(term[k] - logL) * x[outcome + k];
        // Only the normal and zip outcomes have a parameter after the constants.
        const bool extra = s.omodel == "normal" || s.omodel == "zip";
        const double y = a.outcome, sd = extra ? std::exp(x[outcome + G]) : 1.0, lambda = std::exp(eta);
        const double omega = s.omodel == "zip" ? logistic(x[outcome + G]) : 0.0;
        if (s.omodel == "logit") lik *= y == 0.0 ? 1.0 - logistic(eta) : logistic(eta);
        else if (s.omodel != "normal") lik *= y == 0.0 ? omega + (1 - omega) * std::exp(-lambda) : (1 - omega) * poisson(y, lambda);
        else if (y <= s.outcomeMin) lik *= Phi((s.outcomeMin - eta) / sd);
        else lik *= y >= s.outcomeMax ? 1.0 - Phi((s.outcomeMax - eta) / sd) : pdf((y - eta) / sd) / sd;
      }
      total -= weight[i] * (logL + std::log(lik));
    }
    return total;
  }
};

// Uniform draws from a 32-bit Mersenne Twister (its sequence is fixed by the
// standard) converted here, so the data are the same on every platform.
struct Uniform {
  std::mt19937 gen;
  double operator()(double a = 0.0, double b = 1.0) { return a + (b - a) * ((gen() + 0.5) / 4294967296.0); }
};

// Random subjects for the scenario's options. Each subject follows one
// group's level; about 10% of outcomes and 3% of times, covariates and
// exposures are missing, 5% of exposures 0; every third subject drops out, some
// have a gap; subject 1 has no data, subject 2 is not selected, subject 3
// misses its risk values and subject 4 has weight 0 (both excluded).
inline Scenario withData(Scenario s, unsigned seed, int n) {
  Uniform u{std::mt19937(seed)};
  auto maybe = [&u](double v, double pMissing) { return u() < pMissing ? M : v; };
  for (int i = 0; i < n; ++i) {
    const int g = static_cast<int>(u(0, s.G())), stop = i % 3 == 2 ? 2 + static_cast<int>(u(0, s.T - 2)) : s.T;
    Subject a{.weight = i == 4 ? 0.0 : u(0.5, 2.0), .exempt = 1.0 * (u() < 0.1), .selected = i != 2};
    for (int j = 0; j < s.T; ++j) a.t.push_back(maybe(-1.0 + 2.0 * j / (s.T - 1) + u(-0.05, 0.05), 0.03));
    for (int c = 0; c < s.tcov * s.T; ++c) a.tcov.push_back(maybe(u(-1, 1), 0.03));
    for (int c = 0; c < s.dcov * s.T; ++c) a.dcov.push_back(maybe(u(0, 1), 0.03));
    for (int j = 0; j < s.T; ++j) {
      const double e = s.exposure ? (u() < 0.05 ? 0.0 : u(0.5, 2.0)) : 1.0, t = missing(a.t[j]) ? 0.0 : a.t[j];
      if (s.exposure) a.exposure.push_back(maybe(e, 0.03));
      double y = std::clamp(1.5 + 2.0 * g + 1.2 * t + u(-2.5, 2.5), s.censorMin, s.censorMax);
      if (s.kind == "logit") y = u() < 0.25 + 0.5 * g / s.G();
      if (s.kind == "zip" || s.kind == "poisson")
        y = (g == 0 && s.orders[0] == -1) || u() < 0.3 ? 0.0 : std::floor(u(0, 2.5 * e * std::exp(0.3 + 0.4 * g)));
      a.y.push_back(j >= stop || i == 1 ? M : maybe(y, 0.1));
    }
    if (u() < 0.1) a.y[1] = M;
    for (int r = 0; r < s.nRisk; ++r) a.risk.push_back(i == 3 ? M : r % 2 ? u(-1.5, 1.5) : (u() < 0.5));
    a.outcome = maybe(s.omodel == "logit" ? u() < 0.4 : s.omodel == "normal" ? u(-0.5, 2.5) : std::floor(u(0, 5)), 0.1);
    s.subjects.push_back(a);
  }
  return s;
}

// Interior parameter values: group levels spread apart by kind, a slope of 1
// for normal trajectories, ln sigma = ln 1.5, risk coefficients of 3 and -3
// (times a missing value they would overflow to inf - inf), the rest small.
inline std::vector<double> parametersOf(const Scenario& s, unsigned seed) {
  Uniform u{std::mt19937(seed)};
  const Reference r(s);
  std::vector<double> x(r.n);
  for (double& v : x) v = u(-0.4, 0.4);
  for (int k = 0; k < s.G(); ++k) {
    if (s.orders[k] < 0) continue;
    x[r.traj[k]] = s.kind == "cnorm" ? 1.5 + 2.0 * k : s.kind == "logit" ? -0.6 + 0.6 * k : 0.3 + 0.4 * k;
    if (s.kind == "cnorm" && s.orders[k] >= 1) x[r.traj[k] + 1] = 1.0;
  }
  for (int k = 0; k < (s.G() - 1) * s.nRisk; ++k) x[r.theta + k / s.nRisk * (s.nRisk + 1) + 1 + k % s.nRisk] = k % 2 ? -3 : 3;
  if (r.sigma >= 0) x[r.sigma] = std::log(1.5);
  if (s.omodel == "normal") x[r.outcome + s.G()] = std::log(1.2);
  return x;
}

}  // namespace kurv::modeltest
