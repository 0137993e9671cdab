// The single-model likelihood at R's fitted values against R's own
// log-likelihood (tests/fixtures/models/likelihood_reference.R made the data
// and the values): survreg for a one-group censored normal, glm for one-group
// logit and Poisson with exposure, pscl::zeroinfl for a one-group ZIP, and
// flexmix for a two-group Poisson mixture over subjects. The second group of
// tests reads the reference fits of tests/fixtures/fits (made for the
// end-to-end tests by make_fits.R there), which add a two-group normal
// mixture and a three-group logit mixture with a membership risk factor.

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "model_test_support.h"
#include "support/csv_data.h"

namespace kurv {
namespace {

using namespace modeltest;

std::string fixture(const std::string& name) { return std::string(KURV_FIXTURE_DIR) + "/models/" + name; }

// Wide rows: y1..yT, t1..tT and, with exposure, e1..eT; "NA" is missing.
void readSubjects(const std::string& name, Scenario& s) {
  std::ifstream in(fixture(name + "_data.csv"));
  ASSERT_TRUE(in) << name;
  std::string line;
  const int T = s.nPeriods;
  while (std::getline(in, line)) {
    std::vector<double> v;
    std::stringstream ss(line);
    std::string cell;
    while (std::getline(ss, cell, ',')) v.push_back(cell == "NA" ? M : std::stod(cell));
    ASSERT_EQ(static_cast<int>(v.size()), (s.exposure ? 3 : 2) * T);
    Subject a = makeSubject({v.begin(), v.begin() + T}, {v.begin() + T, v.begin() + 2 * T});
    if (s.exposure) a.exposure.assign(v.begin() + 2 * T, v.end());
    s.subjects.push_back(a);
  }
}

void readReference(const std::string& name, std::vector<double>& params, double& loglik) {
  std::ifstream in(fixture(name + "_ref.txt"));
  std::string word;
  std::string line;
  while (std::getline(in, line)) {
    std::stringstream ss(line);
    ss >> word;
    if (word == "params") {
      double v;
      while (ss >> v) params.push_back(v);
    } else if (word == "loglik") {
      ss >> loglik;
    }
  }
}

void expectRAgreement(const std::string& name, Scenario s) {
  readSubjects(name, s);
  std::vector<double> params;
  double loglik = 0.0;
  readReference(name, params, loglik);
  PreparedRun run = prepare(s);
  ASSERT_TRUE(run.ctx) << run.host->errors;
  ASSERT_EQ(run.ctx->nParams, static_cast<int>(params.size()));
  EXPECT_NEAR(engineNegLogLik(run, params), -loglik, 1e-9 * std::fabs(loglik)) << name;
}

Scenario base(const char* kind, std::vector<double> orders, bool exposure) {
  Scenario s;
  s.kind = kind;
  s.nPeriods = 5;
  s.orders = std::move(orders);
  s.exposure = exposure;
  return s;
}

TEST(RReference, CensoredNormalSurvreg) {
  Scenario s = base("cnorm", {1}, false);
  s.censorMin = 0.0;
  s.censorMax = 6.0;
  expectRAgreement("cnorm_survreg", s);
}

TEST(RReference, LogitGlm) { expectRAgreement("logit_glm", base("logit", {2}, false)); }

TEST(RReference, PoissonGlmWithExposure) { expectRAgreement("poisson_glm", base("poisson", {1}, true)); }

TEST(RReference, ZeroInflatedPoissonZeroinfl) {
  Scenario s = base("zip", {1}, true);
  s.inflOrders = {1};
  expectRAgreement("zip_zeroinfl", s);
}

TEST(RReference, PoissonMixtureFlexmix) { expectRAgreement("mixture_flexmix", base("poisson", {1, 1}, false)); }

// A case of tests/fixtures/fits: rows y1..y5, t1..t5 and any risk factors;
// the likelihood at R's estimates ("est") against R's "loglik".
void expectFitAgreement(const std::string& name, Scenario s) {
  const std::string dir = std::string(KURV_FIXTURE_DIR) + "/fits/";
  const testing::CsvData data = testing::readNumericCsv(dir + name + ".csv");
  const auto ref = testing::readReferenceFile(dir + name + ".ref");
  const int T = s.nPeriods;
  for (const auto& row : data.rows) {
    Subject a = makeSubject({row.begin(), row.begin() + T}, {row.begin() + T, row.begin() + 2 * T});
    a.risk.assign(row.begin() + 2 * T, row.end());
    s.subjects.push_back(a);
  }
  s.nRisk = static_cast<int>(data.names.size()) - 2 * T;
  PreparedRun run = prepare(s);
  ASSERT_TRUE(run.ctx) << run.host->errors;
  const std::vector<double>& est = ref.at("est");
  ASSERT_EQ(run.ctx->nParams, static_cast<int>(est.size())) << name;
  const double loglik = ref.at("loglik").at(0);
  EXPECT_NEAR(engineNegLogLik(run, est), -loglik, 1e-9 * std::fabs(loglik)) << name;
}

TEST(RReference, EndToEndFitsOneGroup) {
  Scenario cnorm = base("cnorm", {1}, false);
  cnorm.censorMin = 0.0;
  cnorm.censorMax = 6.0;
  expectFitAgreement("cnorm1", cnorm);
  expectFitAgreement("logit1", base("logit", {2}, false));
  expectFitAgreement("poisson1", base("poisson", {1}, false));
  Scenario zip = base("zip", {1}, false);
  zip.inflOrders = {0};
  expectFitAgreement("zip1", zip);
}

TEST(RReference, EndToEndFitsMixtures) {
  expectFitAgreement("cnorm2", base("cnorm", {1, 1}, false));
  expectFitAgreement("logit3", base("logit", {1, 1, 1}, false));
}

}  // namespace
}  // namespace kurv
