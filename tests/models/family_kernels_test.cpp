// The joint and multi-trajectory families on the log-domain kernels. Long
// series (200 subjects x 300 periods), where every group term lies far below
// the smallest double so that the product form of the independent
// evaluations underflows: the likelihood against an independent log-sum-exp
// evaluation written here from the scenarios' textbook densities, the
// posteriors against it, the gradient against differences of the subjects'
// log-likelihoods. Then the same bits for 1, 2 and 7 threads.

#include <gtest/gtest.h>

#include <cstring>

#include "joint_scenario.h"
#include "multi_scenario.h"

namespace kurv {
namespace {

using namespace modeltest;

// ln sum_k exp(v_k), the largest term taken out.
double logSumExp(const std::vector<double>& v) {
  const double top = *std::max_element(v.begin(), v.end());
  double sum = 0.0;
  for (double e : v) sum += std::exp(e - top);
  return top + std::log(sum);
}

// ln(pi_j pi_{k|j} prod f1 prod f2) of subject i, [j * G2 + k].
std::vector<double> jointLogTerms(const JointReference& r, const std::vector<double>& x, int i) {
  const JointScenario& s = r.s;
  const int G1 = s.model[0].G(), G2 = s.model[1].G();
  const std::vector<double> pi = r.model1Membership(x, i), x2(x.begin() + r.offset2, x.end());
  std::vector<double> terms;
  for (int j = 0; j < G1; ++j) {
    const std::vector<double> cond = r.model2Membership(x, i, j);
    for (int k = 0; k < G2; ++k) {
      double t = std::log(pi[j]) + std::log(cond[k]);
      for (int p = 0; p < s.model[0].T; ++p) t += std::log(r.model[0].density(x, j, i, p));
      for (int p = 0; p < s.model[1].T; ++p) t += std::log(r.model[1].density(x2, k, i, p));
      terms.push_back(t);
    }
  }
  return terms;
}

// ln(pi_g prod_m prod_j f_mgij) of subject i, [g].
std::vector<double> multiLogTerms(const std::vector<Scenario>& comps, const std::vector<double>& x, int i) {
  const int G = comps[0].G();
  std::vector<double> terms(G, 0.0);
  std::size_t at = 0;
  for (const Scenario& c : comps) {
    const Reference r(c);
    const std::vector<double> block(x.begin() + at, x.begin() + at + r.theta);
    at += r.theta;
    for (int g = 0; g < G; ++g)
      for (int j = 0; j < c.T && c.orders[g] >= 0; ++j) terms[g] += std::log(r.density(block, g, i, j));
  }
  std::vector<double> eta(G, 0.0);
  for (int g = 1; g < G; ++g) eta[g] = x[at + g - 1];
  const double norm = logSumExp(eta);
  for (int g = 0; g < G; ++g) terms[g] += eta[g] - norm;
  return terms;
}

// -w_i d ln L_i / dx_p from central differences of each subject's ln L_i
// (about -1000 each), step 1e-5: rounding about 1e-16 * 1000 / 1e-5 = 1e-8
// per subject.
template <typename Run>
void expectGradientMatchesDifferences(Run& run, std::vector<double> x) {
  const std::vector<double> g = run.gradient(x);
  const ModelContext& c = *run.ctx;
  for (std::size_t p = 0; p < x.size(); ++p) {
    const double saved = x[p], h = 1e-5 * std::max(1.0, std::fabs(saved));
    x[p] = saved + h;
    run.nll(x);
    const std::vector<double> up = c.subjectLogLik;
    x[p] = saved - h;
    run.nll(x);
    x[p] = saved;
    double fd = 0.0;
    for (int i = 0; i < c.nObs; ++i)
      if (!c.excluded[i]) fd -= c.weight[i] * (up[i] - c.subjectLogLik[i]) / (2 * h);
    EXPECT_NEAR(g[p], fd, 1e-6 * std::max(1.0, std::fabs(fd))) << "parameter " << p;
  }
}

TEST(FamilyKernels, JointLongSeriesEqualsTheLogSumExpReference) {
  const JointScenario s = withJointData(
      {.model = {ModelSpec{.T = 300, .nRisk = 1, .orders = {1, 2}}, ModelSpec{.T = 300, .nRisk = 1, .orders = {1, 0}}},
       .weights = true},
      61, 200);
  const JointReference r(s);
  const std::vector<double> x = jointParametersOf(s, 5);
  // The product form underflows: the case cannot be computed without logs.
  EXPECT_FALSE(std::isfinite(r.nll(x)));
  PreparedJoint run = prepareJoint(s);
  ASSERT_TRUE(run.ctx) << run.host->errors;
  const double nll = run.nll(x);
  double expected = 0.0;
  const ModelContext& c = *run.ctx;
  for (int i = 0; i < c.nObs; ++i) {
    if (r.excluded[i]) continue;
    const std::vector<double> terms = jointLogTerms(r, x, i);
    const double logL = logSumExp(terms);
    expected -= r.weight[i] * logL;
    for (int j = 0; j < 2; ++j)
      for (int k = 0; k < 2; ++k)
        EXPECT_NEAR(c.jointPosterior[jointCell(c, j, k, i)], std::exp(terms[j * 2 + k] - logL), 1e-11);
  }
  ASSERT_TRUE(std::isfinite(nll));
  EXPECT_NEAR(nll, expected, 1e-11 * std::fabs(expected));
  expectGradientMatchesDifferences(run, x);
}

TEST(FamilyKernels, MultiLongSeriesEqualsTheLogSumExpReference) {
  const std::vector<Scenario> comps = {withData({.T = 300, .orders = {1, 2, 0}, .weights = true}, 62, 200),
                                       withData({.kind = "logit", .T = 300, .orders = {0, -1, 1}}, 63, 200)};
  const std::vector<double> x = multiParametersOf(comps, 5);
  EXPECT_FALSE(std::isfinite(multiReferenceNll(comps, x)));
  MultiPrepared run = prepareMulti(comps);
  ASSERT_TRUE(run.ctx) << run.host->errors;
  const double nll = run.nll(x);
  const Reference first(comps[0]);
  const ModelContext& c = *run.ctx;
  const std::vector<double> post = multiModelPosteriors(c);
  // Weights average 1 over the subjects not excluded.
  double weightSum = 0.0, kept = 0.0, expected = 0.0;
  for (int i = 0; i < c.nObs; ++i)
    if (!first.excluded[i]) weightSum += comps[0].subjects[i].weight, kept += 1.0;
  for (int i = 0; i < c.nObs; ++i) {
    if (first.excluded[i]) continue;
    const std::vector<double> terms = multiLogTerms(comps, x, i);
    const double logL = logSumExp(terms);
    expected -= comps[0].subjects[i].weight * kept / weightSum * logL;
    for (int g = 0; g < 3; ++g) EXPECT_NEAR(post[c.gi(g, i)], std::exp(terms[g] - logL), 1e-11);
  }
  ASSERT_TRUE(std::isfinite(nll));
  EXPECT_NEAR(nll, expected, 1e-11 * std::fabs(expected));
  expectGradientMatchesDifferences(run, x);
}

// Likelihood, gradient, posteriors and weighted score outer products of a
// run evaluated with `threads` threads, as one vector of doubles.
template <typename Run>
std::vector<double> evaluationBits(Run& run, const std::vector<double>& x, int threads,
                                   const std::vector<double> ModelContext::*posteriors) {
  run.ctx->nThreads = threads;
  std::vector<double> bits = {run.nll(x)};
  for (double v : run.gradient(x)) bits.push_back(v);
  const ModelContext& c = *run.ctx;
  bits.insert(bits.end(), (c.*posteriors).begin(), (c.*posteriors).end());
  bits.insert(bits.end(), c.scoreOuterSum.begin(), c.scoreOuterSum.end());
  bits.insert(bits.end(), c.subjectLogLik.begin(), c.subjectLogLik.end());
  return bits;
}

void expectSameBits(const std::vector<double>& bits, const std::vector<double>& first, int threads) {
  ASSERT_EQ(bits.size(), first.size());
  EXPECT_EQ(std::memcmp(bits.data(), first.data(), bits.size() * sizeof(double)), 0) << threads << " threads";
}

// 400 subjects make 7 chunks.
TEST(FamilyKernels, OneTwoAndSevenThreadsGiveTheSameBits) {
  const std::pair<const char*, JointScenario> joint[] = {
      {"cnorm risks + zip, weights",
       withJointData({.model = {ModelSpec{.T = 6, .nRisk = 2, .tcov = 1, .orders = {1, 2}, .censorMin = 0, .censorMax = 5},
                                ModelSpec{.kind = "zip", .T = 5, .nRisk = 1, .orders = {0, 1, 1}, .inflOrders = {1, 0, -1}}},
                      .refGroup = 2, .weights = true},
                     71, 400)},
      {"logit + cnorm",
       withJointData({.model = {ModelSpec{.kind = "logit", .T = 5, .orders = {0, 1, 2}},
                                ModelSpec{.T = 4, .orders = {1, 0}}}},
                     72, 400)},
  };
  for (const auto& [name, s] : joint) {
    SCOPED_TRACE(name);
    const std::vector<double> x = jointParametersOf(s, 7);
    std::vector<double> first;
    for (int threads : {1, 2, 7}) {
      PreparedJoint run = prepareJoint(s);
      ASSERT_TRUE(run.ctx) << run.host->errors;
      const std::vector<double> bits = evaluationBits(run, x, threads, &ModelContext::jointPosterior);
      if (first.empty()) first = bits;
      expectSameBits(bits, first, threads);
    }
  }
  const std::pair<const char*, std::vector<Scenario>> multi[] = {
      {"cnorm censored, weights + zip + logit",
       {withData({.T = 5, .tcov = 1, .orders = {1, 2}, .censorMin = 0, .censorMax = 5, .weights = true}, 73, 400),
        withData({.kind = "zip", .T = 4, .orders = {0, 1}, .inflOrders = {1, 0}}, 74, 400),
        withData({.kind = "logit", .T = 3, .orders = {-1, 1}}, 75, 400)}},
  };
  for (const auto& [name, comps] : multi) {
    SCOPED_TRACE(name);
    const std::vector<double> x = multiParametersOf(comps, 7);
    std::vector<double> first;
    for (int threads : {1, 2, 7}) {
      MultiPrepared run = prepareMulti(comps);
      ASSERT_TRUE(run.ctx) << run.host->errors;
      const std::vector<double> bits = evaluationBits(run, x, threads, &ModelContext::groupTerm);
      if (first.empty()) first = bits;
      expectSameBits(bits, first, threads);
    }
  }
}

}  // namespace
}  // namespace kurv
