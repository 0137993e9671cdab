#pragma once
// Random-effects censored normal test runs prepared from plain scenarios
// through the real decoding and intake, and an independent evaluation of the
// uncensored likelihood: a mixture of normal densities with covariance
// Z D Z^T + sigma^2 I, by its own Cholesky factorisation.

#include <cmath>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/model_context.h"
#include "randomeffects/random_effects_likelihood.h"
#include "support/run_builder.h"

namespace kurv::retest {

inline constexpr double M = testing::kHostMissing;

struct Subject {
  std::vector<double> y, t, risk, tcov;  // tcov: [c * T + j]
  double weight = 1.0;
};

struct Scenario {
  int T = 4, nRisk = 0, tcov = 0;
  std::vector<double> orders{1}, reOrders{1};
  double censorMin = -1e300, censorMax = 1e300;
  bool weights = false;
  std::vector<Subject> subjects;
  int G() const { return static_cast<int>(orders.size()); }
};

// The numbers of a committed fixture file, one row per line.
inline std::vector<std::vector<double>> readRows(const std::string& name) {
  std::ifstream in(std::string(KURV_FIXTURE_DIR) + "/randomeffects/" + name);
  std::vector<std::vector<double>> rows;
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    rows.emplace_back();
    for (double v; words >> v;) rows.back().push_back(v);
  }
  return rows;
}

// The scenario's arguments, with some changed: {position (1-based), value} pairs.
inline std::vector<std::string> scenarioArgs(const Scenario& s, const testing::ArgChanges& changes = {}) {
  auto args = testing::defaultArgs();
  testing::setArg(args, 1, "cnorm");
  const double numeric[][2] = {{2, 1.0 * s.T},         {3, 1.0 * s.nRisk},      {4, 1.0 * s.weights},
                               {6, 1.0 * s.tcov * s.T}, {8, 1.0 * s.G()},       {9, s.censorMin},
                               {10, s.censorMax},      {12, 1.0 * s.reOrders.size()}};
  for (const auto& [position, value] : numeric) testing::setArg(args, static_cast<int>(position), value);
  for (const auto& [position, value] : changes) testing::setArg(args, position, value);
  return args;
}

inline void loadData(testing::MemoryHost& host, const Scenario& s) {
  for (const Subject& a : s.subjects) {
    std::vector<double> row;
    for (const auto& v : {a.y, a.t, a.risk, s.weights ? std::vector{a.weight} : std::vector<double>{}, a.tcov})
      row.insert(row.end(), v.begin(), v.end());
    host.data.push_back(row);
  }
  host.setRowVector("kurv_mat_order1", s.orders);
  if (!s.reOrders.empty()) host.setRowVector("kurv_mat_rorder1", s.reOrders);
}

// The mean of N(mu, sd^2) censored to [a, b], alpha = (a - mu) / sd, beta = (b - mu) / sd:
//   a Phi(alpha) + b (1 - Phi(beta)) + mu (Phi(beta) - Phi(alpha)) + sd (phi(alpha) - phi(beta)).
inline double censoredMean(double mu, double sd, double a, double b) {
  const auto Phi = [](double z) { return 0.5 * std::erfc(-z / std::sqrt(2.0)); };
  const auto phi = [](double z) { return std::exp(-0.5 * z * z) / std::sqrt(2.0 * M_PI); };
  const double alpha = (a - mu) / sd, beta = (b - mu) / sd;
  return a * Phi(alpha) + b * (1.0 - Phi(beta)) + mu * (Phi(beta) - Phi(alpha)) + sd * (phi(alpha) - phi(beta));
}

// A run prepared through the real decoding, layout and intake.
struct Prepared {
  std::unique_ptr<testing::MemoryHost> host = std::make_unique<testing::MemoryHost>();
  std::unique_ptr<ModelContext> ctx;
  explicit Prepared(const Scenario& s) {
    loadData(*host, s);
    ctx = testing::prepareTestRun(*host, scenarioArgs(s));
  }
  double nll(const std::vector<double>& x) {
    double f = 0.0;
    randomEffectsCnormLogLikelihood(static_cast<int>(x.size()), x.data(), &f, ctx.get());
    return f;
  }
};

// Parameter positions of the independent evaluation: trajectory blocks,
// ln sigma, the random-effects blocks (one shared, or one per group), the
// membership constants.
struct Reference {
  const Scenario& s;
  std::vector<int> traj, re;
  int sigma = 0, theta = 0, n = 0;

  explicit Reference(const Scenario& scenario) : s(scenario) {
    for (double o : s.orders) traj.push_back(n), n += o >= 0 ? static_cast<int>(o) + 1 + s.tcov : 0;
    sigma = n++;
    for (int k = 0; k < s.G(); ++k) re.push_back(k < static_cast<int>(s.reOrders.size()) ? (n += q(k)) - q(k) : re[0]);
    theta = n;
    n += (s.G() - 1) * (s.nRisk + 1);
  }
  int q(int k) const { return static_cast<int>(s.reOrders[s.reOrders.size() == 1 ? 0 : k]) + 1; }

  // ln N(r; 0, S) = -1/2 |L^-1 r|^2 - sum ln L_ii - m/2 ln 2 pi, S = L L^T;
  // column j of L and z_j = (L^-1 r)_j in one pass.
  static double logNormalDensity(std::vector<double> S, std::vector<double> z) {
    const int m = static_cast<int>(z.size());
    double value = -0.5 * m * std::log(2.0 * M_PI);
    for (int j = 0; j < m; ++j) {
      for (int i = j; i < m; ++i) {
        for (int k = 0; k < j; ++k) S[i * m + j] -= S[i * m + k] * S[j * m + k];
        S[i * m + j] /= i == j ? std::sqrt(S[j * m + j]) : S[j * m + j];
      }
      for (int k = 0; k < j; ++k) z[j] -= S[j * m + k] * z[k];
      z[j] /= S[j * m + j];
      value -= 0.5 * z[j] * z[j] + std::log(S[j * m + j]);
    }
    return value;
  }

  // -sum_i w_i ln sum_k pi_k(i) N(y_i; mu_ik, Z_i D_k Z_i^T + sigma^2 I) over
  // the present measurements (outcome, time and covariates present); weights
  // scaled to average 1 as the intake does.
  double nll(const std::vector<double>& x) const {
    double weightSum = 0.0, total = 0.0;
    for (const Subject& a : s.subjects) weightSum += s.weights ? a.weight : 1.0;
    for (const Subject& a : s.subjects) {
      std::vector<double> pi(s.G(), 1.0);
      for (int k = 1, next = theta; k < s.G(); ++k) {
        double eta = x[next++];
        for (int r = 0; r < s.nRisk; ++r) eta += x[next++] * a.risk[r];
        pi[k] = std::exp(eta);
      }
      std::vector<int> used;
      for (int j = 0; j < s.T; ++j) {
        bool ok = a.y[j] < M && a.t[j] < M;
        for (int c = 0; c < s.tcov; ++c) ok = ok && a.tcov[c * s.T + j] < M;
        if (ok) used.push_back(j);
      }
      const int m = static_cast<int>(used.size());
      double lik = 0.0, piSum = 0.0;
      for (int k = 0; k < s.G(); ++k) {
        const int order = static_cast<int>(s.orders[k]);
        std::vector<double> r(m), S(m * m, 0.0);
        for (int a1 = 0; a1 < m; ++a1) {
          const int j = used[a1];
          double mu = 0.0;
          for (int p = 0; p <= order; ++p) mu += std::pow(a.t[j], p) * x[traj[k] + p];
          for (int c = 0; c < s.tcov && order >= 0; ++c) mu += a.tcov[c * s.T + j] * x[traj[k] + order + 1 + c];
          r[a1] = a.y[j] - mu;
          S[a1 * m + a1] = std::exp(2.0 * x[sigma]);
          for (int b1 = 0; b1 < m; ++b1)
            for (int p = 0; p < q(k); ++p)
              S[a1 * m + b1] += std::pow(a.t[j] * a.t[used[b1]], p) * std::exp(2.0 * x[re[k] + p]);
        }
        lik += pi[k] * (m > 0 ? std::exp(logNormalDensity(S, r)) : 1.0), piSum += pi[k];
      }
      total -= (s.weights ? a.weight * s.subjects.size() / weightSum : 1.0) * std::log(lik / piSum);
    }
    return total;
  }
};

}  // namespace kurv::retest
