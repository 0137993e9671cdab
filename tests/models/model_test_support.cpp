#include "model_test_support.h"

#include <algorithm>
#include <cmath>

#include "models/single_likelihood.h"
#include "support/run_builder.h"

namespace kurv::modeltest {

using testing::setArg;

PreparedRun prepare(const Scenario& s) {
  PreparedRun run;
  run.host = std::make_unique<testing::MemoryHost>();
  testing::MemoryHost& host = *run.host;
  const int T = s.nPeriods;
  for (const Subject& subj : s.subjects) {
    std::vector<double> row;
    row.insert(row.end(), subj.y.begin(), subj.y.end());
    row.insert(row.end(), subj.t.begin(), subj.t.end());
    row.insert(row.end(), subj.risk.begin(), subj.risk.end());
    if (s.weights) row.push_back(subj.weight);
    if (s.exposure) row.insert(row.end(), subj.exposure.begin(), subj.exposure.end());
    row.insert(row.end(), subj.tcov.begin(), subj.tcov.end());
    if (s.omodel != "none") row.push_back(subj.outcome);
    row.insert(row.end(), subj.dcov.begin(), subj.dcov.end());
    if (s.exempt) row.push_back(subj.exempt);
    host.data.push_back(row);
    host.selected.push_back(subj.selected);
  }
  host.setRowVector("kurv_mat_order1", s.orders);
  if (!s.inflOrders.empty()) host.setRowVector("kurv_mat_iorder1", s.inflOrders);
  if (!s.dropoutOrders.empty()) host.setRowVector("kurv_mat_dropoutorder1", s.dropoutOrders);

  auto args = testing::defaultArgs();
  setArg(args, 1, s.kind);
  setArg(args, 2, T);
  setArg(args, 3, s.nRisk);
  setArg(args, 4, s.weights ? 1 : 0);
  setArg(args, 5, s.exposure ? T : 0);
  setArg(args, 6, s.tcovPerPeriod * T);
  setArg(args, 8, s.nGroups());
  setArg(args, 9, s.censorMin);
  setArg(args, 10, s.censorMax);
  setArg(args, 11, static_cast<double>(s.inflOrders.size()));
  setArg(args, 13, static_cast<double>(s.dropoutOrders.size()));
  setArg(args, 14, s.dcovPerPeriod * T);
  setArg(args, 15, s.exempt ? 1 : 0);
  setArg(args, 16, s.omodel);
  setArg(args, 17, s.refGroup);
  setArg(args, 37, s.debugTrace ? 1 : 0);
  run.ctx = testing::prepareTestRun(host, args);
  return run;
}

ReferenceLayout referenceLayout(const Scenario& s) {
  ReferenceLayout layout;
  const int G = s.nGroups();
  int p = 0;
  for (int k = 0; k < G; ++k) {
    layout.trajectory.push_back(p);
    const int order = static_cast<int>(s.orders[k]);
    if (order >= 0) p += order + 1 + s.tcovPerPeriod;
  }
  const int nDrop = static_cast<int>(s.dropoutOrders.size());
  for (int k = 0; k < G && nDrop > 0; ++k) {
    if (nDrop == 1 && k > 0) {
      layout.dropout.push_back(layout.dropout[0]);
      continue;
    }
    layout.dropout.push_back(p);
    const int d = static_cast<int>(s.dropoutOrders[nDrop == 1 ? 0 : k]);
    if (d != -1) p += d + 1 + s.dcovPerPeriod;
  }
  if (s.kind == "cnorm") layout.sigma = p++;
  const int nInfl = static_cast<int>(s.inflOrders.size());
  for (int k = 0; k < G && nInfl > 0; ++k) {
    if (nInfl == 1 && k > 0) {
      layout.zeroInflation.push_back(layout.zeroInflation[0]);
      continue;
    }
    layout.zeroInflation.push_back(p);
    p += static_cast<int>(s.inflOrders[nInfl == 1 ? 0 : k]) + 1;
  }
  layout.theta = p;
  p += (G - 1) * (s.nRisk + 1);
  layout.outcome = p;
  if (s.omodel == "normal" || s.omodel == "cnorm" || s.omodel == "zip") p += G + 1;
  if (s.omodel == "logit" || s.omodel == "poisson") p += G;
  layout.nParams = p;
  return layout;
}

namespace {

bool missing(double v) { return v >= M; }
double logistic(double v) { return 1.0 / (1.0 + std::exp(-v)); }
double normalPdf(double z) { return std::exp(-0.5 * z * z) / std::sqrt(2.0 * M_PI); }
double normalCdfErfc(double z) { return 0.5 * std::erfc(-z / std::sqrt(2.0)); }
double poisson(double y, double lambda) {
  return std::exp(y * std::log(lambda) - lambda - std::lgamma(y + 1.0));
}

struct SubjectFacts {
  bool excluded = false;
  std::vector<bool> usable;
  int first = -1;
  int last = 0;
  double weight = 1.0;
};

std::vector<SubjectFacts> subjectFacts(const Scenario& s, int& completeLength) {
  const int T = s.nPeriods;
  std::vector<SubjectFacts> facts;
  double weightSum = 0.0;
  completeLength = 0;
  for (const Subject& subj : s.subjects) {
    SubjectFacts f;
    for (double r : subj.risk) f.excluded = f.excluded || missing(r);
    if (s.weights) {
      if (missing(subj.weight) || subj.weight <= 0) f.excluded = true;
      else weightSum += subj.weight;
    }
    f.excluded = f.excluded || !subj.selected;
    int count = 0;
    for (int j = 0; j < T; ++j) {
      bool ok = !f.excluded && !missing(subj.y[j]) && !missing(subj.t[j]);
      for (int c = 0; c < s.tcovPerPeriod; ++c) ok = ok && !missing(subj.tcov[c * T + j]);
      if (s.exposure) ok = ok && !missing(subj.exposure[j]);
      f.usable.push_back(ok);
      if (ok) {
        ++count;
        if (f.first < 0) f.first = j;
      }
    }
    if (!f.excluded) completeLength = std::max(completeLength, count);
    f.last = T;
    while (f.last > 0 && missing(subj.y[f.last - 1])) --f.last;
    facts.push_back(f);
  }
  if (s.weights) {
    const double scale = weightSum / static_cast<double>(s.subjects.size());
    for (std::size_t i = 0; i < facts.size(); ++i) facts[i].weight = s.subjects[i].weight / scale;
  }
  return facts;
}

double density(const Scenario& s, const ReferenceLayout& L, const std::vector<double>& x,
               const Subject& subj, int k, int j) {
  const int T = s.nPeriods;
  const int order = static_cast<int>(s.orders[k]);
  const double y = subj.y[j];
  if (k == 0 && order == -1) return y == 0.0 ? 1.0 : 0.0;
  double mu = 0.0;
  double tp = 1.0;
  for (int p = 0; p <= order; ++p, tp *= subj.t[j]) mu += tp * x[L.trajectory[k] + p];
  for (int c = 0; c < s.tcovPerPeriod && order >= 0; ++c)
    mu += subj.tcov[c * T + j] * x[L.trajectory[k] + order + 1 + c];
  if (s.kind == "cnorm") {
    const double sigma = std::exp(x[L.sigma]);
    if (y <= s.censorMin) return normalCdfErfc((s.censorMin - mu) / sigma);
    if (y >= s.censorMax) return 1.0 - normalCdfErfc((s.censorMax - mu) / sigma);
    return normalPdf((y - mu) / sigma) / sigma;
  }
  if (s.kind == "logit") return y == 0.0 ? 1.0 - logistic(mu) : logistic(mu);
  double omega = 0.0;
  if (!s.inflOrders.empty()) {
    const int q = static_cast<int>(s.inflOrders[s.inflOrders.size() == 1 ? 0 : k]);
    if (q >= 0) {
      double eta = 0.0;
      double tq = 1.0;
      for (int p = 0; p <= q; ++p, tq *= subj.t[j]) eta += tq * x[L.zeroInflation[k] + p];
      omega = logistic(eta);
    }
  }
  const double lambda = std::exp(mu) * (s.exposure ? subj.exposure[j] : 1.0);
  if (y == 0.0) return omega + (1.0 - omega) * std::exp(-lambda);
  return (1.0 - omega) * poisson(y, lambda);
}

// The dropout factor of period j, or 1 when none applies.
double dropoutFactor(const Scenario& s, const ReferenceLayout& L, const std::vector<double>& x,
                     const Subject& subj, const SubjectFacts& f, int completeLength, int k, int j) {
  if (s.dropoutOrders.empty() || f.excluded || f.first < 0) return 1.0;
  const int d = static_cast<int>(s.dropoutOrders[s.dropoutOrders.size() == 1 ? 0 : k]);
  if (d == -1 || (s.exempt && subj.exempt != 0.0)) return 1.0;
  if (!(f.first < j && f.first - 1 + d < j && j <= f.last && j < f.first + completeLength)) return 1.0;
  const int T = s.nPeriods;
  const int b = L.dropout[k];
  double eta = x[b];
  for (int p = 1; p <= d; ++p) {
    if (missing(subj.y[j - p])) return 1.0;
    eta += subj.y[j - p] * x[b + p];
  }
  for (int q = 0; q < s.dcovPerPeriod; ++q) {
    if (missing(subj.dcov[q * T + j])) return 1.0;
    eta += subj.dcov[q * T + j] * x[b + d + 1 + q];
  }
  const double p = logistic(eta);
  return j < f.last ? 1.0 - p : p;
}

std::vector<double> membership(const Scenario& s, const ReferenceLayout& L,
                               const std::vector<double>& x, const Subject& subj) {
  const int G = s.nGroups();
  const int ref = s.refGroup >= 1 && s.refGroup <= G ? s.refGroup - 1 : 0;
  std::vector<double> e(G, 1.0);
  int next = L.theta;
  double sum = 0.0;
  for (int g = 0; g < G; ++g) {
    if (g != ref) {
      double eta = x[next++];
      for (int r = 0; r < s.nRisk; ++r) eta += x[next++] * subj.risk[r];
      e[g] = std::exp(eta);
    }
    sum += e[g];
  }
  for (double& v : e) v /= sum;
  return e;
}

double outcomeDensityRef(const Scenario& s, const ReferenceLayout& L, const std::vector<double>& x,
                         const std::vector<double>& groupTerms, double y) {
  const int G = s.nGroups();
  double total = 0.0;
  for (double g : groupTerms) total += g;
  double eta = 0.0;
  for (int k = 0; k < G; ++k) eta += groupTerms[k] / total * x[L.outcome + k];
  if (s.omodel == "logit") return y == 0.0 ? 1.0 - logistic(eta) : logistic(eta);
  if (s.omodel == "normal" || s.omodel == "cnorm") {
    const double sigma = std::exp(x[L.outcome + G]);
    return normalPdf((y - eta) / sigma) / sigma;
  }
  // "zip" carries a zero-inflation parameter after the group constants.
  const double omega = s.omodel == "zip" ? logistic(x[L.outcome + G]) : 0.0;
  const double lambda = std::exp(eta);
  return y == 0.0 ? omega + (1.0 - omega) * std::exp(-lambda) : (1.0 - omega) * poisson(y, lambda);
}

}  // namespace

double referenceNegLogLik(const Scenario& s, const std::vector<double>& x) {
  const ReferenceLayout L = referenceLayout(s);
  int completeLength = 0;
  const std::vector<SubjectFacts> facts = subjectFacts(s, completeLength);
  const int G = s.nGroups();
  double total = 0.0;
  for (std::size_t i = 0; i < s.subjects.size(); ++i) {
    const Subject& subj = s.subjects[i];
    const SubjectFacts& f = facts[i];
    if (f.excluded) continue;
    const std::vector<double> pi = membership(s, L, x, subj);
    std::vector<double> groupTerms(G);
    for (int k = 0; k < G; ++k) {
      double term = pi[k];
      for (int j = 0; j < s.nPeriods; ++j) {
        if (f.usable[j]) term *= density(s, L, x, subj, k, j);
        term *= dropoutFactor(s, L, x, subj, f, completeLength, k, j);
      }
      groupTerms[k] = term;
    }
    double lik = 0.0;
    for (double g : groupTerms) lik += g;
    if (s.omodel != "none" && !missing(subj.outcome)) lik *= outcomeDensityRef(s, L, x, groupTerms, subj.outcome);
    total -= f.weight * std::log(lik);
  }
  return total;
}

double engineNegLogLik(PreparedRun& run, const std::vector<double>& x) {
  double f = 0.0;
  singleModelLogLikelihood(static_cast<int>(x.size()), x.data(), &f, run.ctx.get());
  return f;
}

std::vector<double> centralDifferences(PreparedRun& run, std::vector<double> x, double h) {
  std::vector<double> g(x.size());
  for (std::size_t p = 0; p < x.size(); ++p) {
    const double saved = x[p];
    const double step = h * std::max(1.0, std::fabs(saved));
    x[p] = saved + step;
    const double up = engineNegLogLik(run, x);
    x[p] = saved - step;
    const double down = engineNegLogLik(run, x);
    x[p] = saved;
    g[p] = (up - down) / (2.0 * step);
  }
  engineNegLogLik(run, x);  // leave the arrays of x itself
  return g;
}

}  // namespace kurv::modeltest
