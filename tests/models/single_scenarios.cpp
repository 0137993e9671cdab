#include "single_scenarios.h"

#include <algorithm>
#include <cmath>

#include "scenario_random.h"

namespace kurv::modeltest {

namespace {

std::vector<double> times(Random& rng, int T) {
  std::vector<double> t(T);
  for (int j = 0; j < T; ++j) t[j] = -1.0 + 2.0 * j / (T - 1) + rng.uniform(-0.05, 0.05);
  if (rng.chance(0.03)) t[static_cast<int>(rng.uniform(0, T))] = M;
  return t;
}

void blankSome(Random& rng, std::vector<double>& y, double p) {
  for (double& v : y)
    if (rng.chance(p)) v = M;
}

}  // namespace

Scenario cnormScenario(unsigned seed, int groups, int subjects) {
  Random rng(seed);
  Scenario s;
  s.nPeriods = 6;
  s.censorMin = 0.0;
  s.censorMax = 6.0;
  s.tcovPerPeriod = 1;
  const double cycle[] = {1, 2, 0};
  s.orders.clear();
  for (int k = 0; k < groups; ++k) s.orders.push_back(cycle[k % 3]);
  for (int i = 0; i < subjects; ++i) {
    const int g = static_cast<int>(rng.uniform(0, groups));
    Subject a;
    a.t = times(rng, s.nPeriods);
    for (int j = 0; j < s.nPeriods; ++j) {
      a.tcov.push_back(rng.uniform(-1, 1));
      const double t = a.t[j] >= M ? 0.0 : a.t[j];
      const double v = 1.5 + 2.0 * g + 1.2 * t + 0.3 * a.tcov[j] + rng.normal(0, 1.5);
      a.y.push_back(std::clamp(v, s.censorMin, s.censorMax));
    }
    blankSome(rng, a.y, 0.1);
    s.subjects.push_back(a);
  }
  return s;
}

Scenario logitScenario(unsigned seed, int groups, int refGroup, int subjects) {
  Random rng(seed);
  Scenario s;
  s.kind = "logit";
  s.nPeriods = 5;
  s.nRisk = 2;
  s.refGroup = refGroup;
  const double cycle[] = {0, 1, 2};
  s.orders.clear();
  for (int k = 0; k < groups; ++k) s.orders.push_back(cycle[k % 3]);
  for (int i = 0; i < subjects; ++i) {
    const int g = static_cast<int>(rng.uniform(0, groups));
    Subject a;
    a.t = times(rng, s.nPeriods);
    a.risk = {rng.normal(), rng.chance(0.5) ? 1.0 : 0.0};
    for (int j = 0; j < s.nPeriods; ++j) a.y.push_back(rng.chance(0.25 + 0.5 * g / groups) ? 1.0 : 0.0);
    blankSome(rng, a.y, 0.1);
    s.subjects.push_back(a);
  }
  s.subjects[3].risk[1] = M;  // excluded at intake
  return s;
}

Scenario zipScenario(unsigned seed, std::vector<double> orders, std::vector<double> inflOrders,
                     bool exposure, int subjects) {
  Random rng(seed);
  Scenario s;
  s.kind = "zip";
  s.nPeriods = 5;
  s.orders = std::move(orders);
  s.inflOrders = std::move(inflOrders);
  s.exposure = exposure;
  const int groups = s.nGroups();
  for (int i = 0; i < subjects; ++i) {
    const int g = static_cast<int>(rng.uniform(0, groups));
    Subject a;
    a.t = times(rng, s.nPeriods);
    for (int j = 0; j < s.nPeriods; ++j) {
      const double e = exposure ? rng.uniform(0.5, 2.0) : 1.0;
      if (exposure) a.exposure.push_back(rng.chance(0.03) ? M : e);
      const bool zero = (g == 0 && s.orders[0] == -1) || rng.chance(0.3);
      a.y.push_back(zero ? 0.0 : rng.poisson(e * std::exp(0.3 + 0.4 * g)));
    }
    blankSome(rng, a.y, 0.1);
    s.subjects.push_back(a);
  }
  return s;
}

Scenario dropoutScenario(unsigned seed, std::vector<double> dropoutOrders, int subjects) {
  Random rng(seed);
  Scenario s;
  s.nPeriods = 6;
  s.orders = {1, 0};
  s.censorMin = -1e300;
  s.censorMax = 1e300;
  s.dropoutOrders = std::move(dropoutOrders);
  s.dcovPerPeriod = 1;
  s.exempt = true;
  s.weights = true;
  for (int i = 0; i < subjects; ++i) {
    const int g = static_cast<int>(rng.uniform(0, 2));
    Subject a;
    a.t = times(rng, s.nPeriods);
    const int stop = rng.chance(0.5) ? 2 + static_cast<int>(rng.uniform(0, 4)) : s.nPeriods;
    for (int j = 0; j < s.nPeriods; ++j) {
      a.dcov.push_back(rng.chance(0.03) ? M : rng.uniform(0, 1));
      a.y.push_back(j < stop ? 1.0 + 2.0 * g + rng.normal(0, 1.0) : M);
    }
    if (rng.chance(0.1)) a.y[1] = M;  // a gap: a missing lagged outcome
    a.exempt = rng.chance(0.1) ? 1.0 : 0.0;
    a.weight = rng.uniform(0.5, 2.0);
    s.subjects.push_back(a);
  }
  s.subjects[2].weight = 0.0;  // excluded
  return s;
}

Scenario outcomeScenario(unsigned seed, const std::string& omodel, int groups, int subjects) {
  Scenario s = cnormScenario(seed, groups, subjects);
  Random rng(seed + 100);
  s.omodel = omodel;
  s.weights = true;
  for (Subject& a : s.subjects) {
    a.weight = rng.uniform(0.5, 2.0);
    if (omodel == "normal") a.outcome = rng.normal(1.0, 1.0);
    else if (omodel == "logit") a.outcome = rng.chance(0.4) ? 1.0 : 0.0;
    else a.outcome = rng.poisson(2.0);
    if (rng.chance(0.1)) a.outcome = M;
  }
  s.subjects[1].selected = false;  // excluded: its outcome takes no part
  return s;
}

std::vector<double> genericParameters(const Scenario& s, unsigned seed) {
  Random rng(seed);
  const ReferenceLayout L = referenceLayout(s);
  std::vector<double> x(L.nParams);
  for (double& v : x) v = rng.uniform(-0.4, 0.4);
  for (int k = 0; k < s.nGroups(); ++k) {
    if (s.orders[k] < 0) continue;
    double base = s.kind == "cnorm" ? 1.5 + 2.0 * k : (s.kind == "logit" ? -0.6 + 0.6 * k : 0.3 + 0.4 * k);
    x[L.trajectory[k]] = base;
    if (s.kind == "cnorm" && s.orders[k] >= 1) x[L.trajectory[k] + 1] = 1.0;
  }
  if (L.sigma >= 0) x[L.sigma] = std::log(1.5);
  const int G = s.nGroups();
  if (s.omodel == "normal" || s.omodel == "cnorm") x[L.outcome + G] = std::log(1.2);
  return x;
}

}  // namespace kurv::modeltest
