#pragma once
// Test scenarios of single-trajectory runs: options and subjects in plain
// form, a run prepared from them through the real argument decoding, layout
// and intake, and an independent evaluation of the mixture log-likelihood
// written from the textbook formulas (normal pdf and erfc-based cdf,
// logistic, Poisson through lgamma) for checking the engine against.

#include <memory>
#include <string>
#include <vector>

#include "core/model_context.h"
#include "support/memory_host.h"

namespace kurv::modeltest {

inline constexpr double M = testing::kHostMissing;

struct Subject {
  std::vector<double> y, t;      // one per period
  std::vector<double> risk;      // one per risk variable
  double weight = 1.0;           // used when the scenario has weights
  std::vector<double> exposure;  // one per period, when the scenario has exposure
  std::vector<double> tcov;      // [c*T+j]
  std::vector<double> dcov;      // [q*T+j]
  double outcome = M;
  double exempt = 0.0;
  bool selected = true;
};

inline Subject makeSubject(std::vector<double> y, std::vector<double> t) {
  Subject s;
  s.y = std::move(y);
  s.t = std::move(t);
  return s;
}

struct Scenario {
  std::string kind = "cnorm";
  int nPeriods = 1;
  std::vector<double> orders{0};
  double censorMin = -1e300;
  double censorMax = 1e300;
  int nRisk = 0;
  bool weights = false;
  bool exposure = false;
  int tcovPerPeriod = 0;
  std::vector<double> inflOrders;
  std::vector<double> dropoutOrders;
  int dcovPerPeriod = 0;
  bool exempt = false;
  std::string omodel = "none";
  int refGroup = 1;  // 1-based, as the command gives it
  bool debugTrace = false;
  std::vector<Subject> subjects;

  int nGroups() const { return static_cast<int>(orders.size()); }
};

// A prepared run; the host outlives the record that points at it.
struct PreparedRun {
  std::unique_ptr<testing::MemoryHost> host;
  std::unique_ptr<ModelContext> ctx;
};

PreparedRun prepare(const Scenario& s);

// The parameter positions of the scenario, computed by the test itself.
struct ReferenceLayout {
  std::vector<int> trajectory;     // per group
  std::vector<int> dropout;        // per group (shared block repeated)
  int sigma = -1;
  std::vector<int> zeroInflation;  // per group (shared block repeated)
  int theta = 0;
  int outcome = 0;
  int nParams = 0;
};
ReferenceLayout referenceLayout(const Scenario& s);

// -sum_i w_i ln L_i over the subjects that take part, from the textbook forms.
double referenceNegLogLik(const Scenario& s, const std::vector<double>& x);

// The engine's value at x.
double engineNegLogLik(PreparedRun& run, const std::vector<double>& x);

// Central differences of the engine's likelihood, step h * max(1, |x_p|).
std::vector<double> centralDifferences(PreparedRun& run, std::vector<double> x, double h);

}  // namespace kurv::modeltest
