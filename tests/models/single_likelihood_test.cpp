// The single-model log-likelihood of small data sets with 2 and 3 groups
// against the independent evaluation of model_test_support (sum over subjects
// of ln of the sum over groups of textbook densities), for every option; the
// arrays it leaves; its failure guard and trace.

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

#include "model_test_support.h"
#include "models/single_likelihood.h"
#include "scenario_random.h"
#include "single_scenarios.h"

namespace kurv {
namespace {

using namespace modeltest;

void expectAgreement(const Scenario& s, const std::vector<double>& x) {
  PreparedRun run = prepare(s);
  ASSERT_TRUE(run.ctx) << run.host->errors;
  ASSERT_EQ(run.ctx->nParams, static_cast<int>(x.size()));
  const double reference = referenceNegLogLik(s, x);
  const double engine = engineNegLogLik(run, x);
  EXPECT_NEAR(engine, reference, 1e-10 * std::fabs(reference));
  // The arrays left behind: subject likelihood = sum of the group terms.
  const ModelContext& c = *run.ctx;
  if (!c.hasOutcome) {
    for (int i = 0; i < c.nObs; ++i) {
      double sum = 0.0;
      for (int k = 0; k < c.nGroups[0]; ++k) sum += c.groupTerm[c.gi(k, i)];
      EXPECT_EQ(sum, c.subjectLik[i]);
    }
  }
}

TEST(SingleLikelihood, CensoredNormalTwoGroupsWithCovariates) {
  const Scenario s = cnormScenario(1, 2, 40);
  expectAgreement(s, cnormParameters(s));
}

TEST(SingleLikelihood, CensoredNormalThreeGroups) {
  const Scenario s = cnormScenario(2, 3, 30);
  expectAgreement(s, cnormParameters(s));
}

TEST(SingleLikelihood, LogitThreeGroupsRiskFactorsLastReference) {
  const Scenario s = logitScenario(3, 3, 3, 40);
  expectAgreement(s, genericParameters(s, 4));
}

TEST(SingleLikelihood, LogitTwoGroupsRiskFactors) {
  const Scenario s = logitScenario(4, 2, 1, 30);
  expectAgreement(s, genericParameters(s, 5));
}

TEST(SingleLikelihood, ZipPerGroupInflationAndExposure) {
  const Scenario s = zipScenario(5, {1, 0}, {1, 0}, true, 40);
  expectAgreement(s, genericParameters(s, 6));
}

TEST(SingleLikelihood, ZipSharedInflationThreeGroups) {
  const Scenario s = zipScenario(6, {0, 1, 2}, {1}, false, 30);
  expectAgreement(s, genericParameters(s, 7));
}

TEST(SingleLikelihood, ZipWithZeroOnlyGroupAndPlainPoisson) {
  Scenario s = zipScenario(7, {-1, 1, 0}, {}, true, 40);
  s.kind = "poisson";
  expectAgreement(s, genericParameters(s, 8));
}

TEST(SingleLikelihood, DropoutWithCovariatesExemptionAndWeights) {
  Scenario s = dropoutScenario(8, {1, 2}, 40);
  expectAgreement(s, cnormParameters(s));
  {
    // The data exercise the model: factors of staying and of dropping out.
    PreparedRun run = prepare(s);
    engineNegLogLik(run, cnormParameters(s));
    int stays = 0, drops = 0;
    const ModelContext& c = *run.ctx;
    for (int i = 0; i < c.nObs; ++i)
      for (int j = 0; j < c.nPeriods[0]; ++j)
        if (!run.host->isMissing(c.dropoutFactorStore[c.gij(0, i, j)])) (j < c.lastPeriod[i] ? stays : drops)++;
    EXPECT_GT(stays, 50);
    EXPECT_GT(drops, 5);
  }
  s.dropoutOrders = {0};
  expectAgreement(s, cnormParameters(s));
}

TEST(SingleLikelihood, OutcomeAnalysis) {
  for (const char* omodel : {"normal", "logit", "poisson", "zip"}) {
    SCOPED_TRACE(omodel);
    const Scenario s = outcomeScenario(9, omodel, 3, 40);
    expectAgreement(s, cnormParameters(s));
  }
}

TEST(SingleLikelihood, SubjectWithoutDataAddsNothingAndWeightsCount) {
  Scenario s;
  s.nPeriods = 2;
  s.orders = {0};
  s.weights = true;
  s.subjects = {makeSubject({1.0, 2.0}, {1, 2}), makeSubject({0.5, -0.5}, {1, 2}),
                makeSubject({M, M}, {1, 2})};
  s.subjects[0].weight = 2.0;
  s.subjects[1].weight = 1.0;
  s.subjects[2].weight = 3.0;  // weights 2, 1, 3 average 2: scaled to 1, 0.5, 1.5
  PreparedRun run = prepare(s);
  ASSERT_TRUE(run.ctx);
  const std::vector<double> x = {0.4, 0.0};  // sigma = exp(0) = 1
  const double nll = engineNegLogLik(run, x);
  for (double sigma : run.ctx->periodSigma) EXPECT_EQ(sigma, 1.0);
  auto logPdf = [](double z) { return -0.5 * z * z - 0.5 * std::log(2 * M_PI); };
  const double subject0 = -(logPdf(0.6) + logPdf(1.6));
  const double subject1 = -(logPdf(0.1) + logPdf(-0.9));
  EXPECT_NEAR(nll, 1.0 * subject0 + 0.5 * subject1, 1e-13);
  EXPECT_EQ(run.ctx->subjectLik[2], 1.0);
}

// A subject excluded for missing risk values must not take part: large
// coefficients of opposite sign times the missing-value code would give
// inf - inf in its membership predictor and poison the whole evaluation.
TEST(SingleLikelihood, ExcludedSubjectWithMissingRisksTakesNoPart) {
  Scenario s;
  s.orders = {0, 0};
  s.nRisk = 2;
  s.subjects = {makeSubject({1.0}, {0}), makeSubject({3.0}, {0}), makeSubject({2.0}, {0})};
  s.subjects[0].risk = {0.5, 1.0};
  s.subjects[1].risk = {M, M};
  s.subjects[2].risk = {1.0, 0.0};
  PreparedRun run = prepare(s);
  ASSERT_TRUE(run.ctx);
  ASSERT_EQ(run.ctx->excluded[1], 1);
  // intercepts 0.5 and 2.5, log sigma 0, group 2: constant 0.1, risk 3 and -3.
  const std::vector<double> x = {0.5, 2.5, 0.0, 0.1, 3.0, -3.0};
  const double nll = engineNegLogLik(run, x);
  ASSERT_TRUE(std::isfinite(nll));
  ASSERT_LT(nll, DBL_MAX);
  Scenario without = s;
  without.subjects.erase(without.subjects.begin() + 1);
  EXPECT_NEAR(nll, referenceNegLogLik(without, x), 1e-12);
}

TEST(SingleLikelihood, EverySubjectTermUnderflowingFailsWithTrace) {
  Scenario s;
  s.kind = "poisson";
  s.nPeriods = 2;
  s.orders = {0, 0};
  s.debugTrace = true;
  s.subjects = {makeSubject({1, 2}, {1, 2}), makeSubject({0, 4}, {1, 2})};
  PreparedRun run = prepare(s);
  ASSERT_TRUE(run.ctx);
  // Both groups have Poisson means of exp(-719.78): nonzero counts underflow.
  const std::vector<double> x = {-800.0, -900.0, 0.0};
  EXPECT_EQ(engineNegLogLik(run, x), DBL_MAX);
  EXPECT_EQ(run.ctx->subjectLik[0], 0.0);
  const std::string nllLine = "nll=" + std::string(
      "179769313486231570814527423731704356798070567525844996598917476803157260780028538760589558632766878"
      "171540458953514382464234321326889464182768467546703537516986049910576551282076245490090389328944075"
      "868508455133942304583236903222948165808559332123348274797826204144723168738177180919299881250404026"
      "184124858368.000000\n");
  EXPECT_NE(run.host->stdoutText.find(nllLine), std::string::npos) << run.host->stdoutText;
  EXPECT_EQ(run.host->displayed.substr(run.host->displayed.size() - nllLine.size()), nllLine);
  // The head of the trace: the name, then the 3 parameters on one line padded
  // with the host's missing value (n / 6 + 1 = 1 line).
  const std::string& out = run.host->stdoutText;
  EXPECT_EQ(out.rfind("singleModelLogLikelihood\n", 0), 0u);
  EXPECT_EQ(out.find(" -800.000000  -900.000000     0.000000 8988465674311579"), 25u) << out;
}

TEST(SingleLikelihood, DegenerateScaleFailsInsteadOfReturningNaN) {
  // ln sigma = -800: sigma underflows to 0 and an uncensored density is
  // 0/0; the evaluation fails rather than handing NaN to the minimizer.
  const Scenario s = cnormScenario(11, 2, 10);
  PreparedRun run = prepare(s);
  std::vector<double> x = cnormParameters(s);
  x[referenceLayout(s).sigma] = -800.0;
  EXPECT_EQ(engineNegLogLik(run, x), DBL_MAX);
}

TEST(SingleLikelihood, TraceHasOneLinePerSixParametersPlusOne) {
  Scenario s = cnormScenario(10, 2, 5);
  s.debugTrace = true;
  PreparedRun run = prepare(s);
  ASSERT_TRUE(run.ctx);
  const std::vector<double> x = cnormParameters(s);
  const double nll = engineNegLogLik(run, x);
  const std::string& out = run.host->stdoutText;
  int lines = 0;
  for (char ch : out) lines += ch == '\n';
  EXPECT_EQ(lines, 1 + static_cast<int>(x.size()) / 6 + 1 + 1);
  char tail[64];
  std::snprintf(tail, sizeof tail, "nll=%f\n", nll);
  EXPECT_EQ(out.substr(out.size() - std::string(tail).size()), tail);
}

}  // namespace
}  // namespace kurv
