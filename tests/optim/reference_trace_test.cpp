// The minimizer against reference traces of R's nlminb, which drives an
// independent implementation of the same published trust-region routines
// (fixtures/optim/make_traces.R): same final code, iteration and evaluation
// counts, and final f and x to 1e-10 relative.

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>

#include "test_problems.h"

namespace kurv::testing {
namespace {

struct ReferenceTrace {
  int code = 0, iterations = 0, functionEvals = 0, gradientEvals = 0;
  double f = 0.0;
  std::vector<double> x, iterationF;
};

ReferenceTrace readTrace(const std::string& problem, const std::string& mode) {
  std::ifstream in(std::string(KURV_FIXTURE_DIR) + "/optim/trace_" + problem + "_" + mode + ".txt");
  EXPECT_TRUE(in.good()) << problem << " " << mode;
  ReferenceTrace t;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream s(line);
    std::string key;
    s >> key;
    std::vector<double> values;
    for (double v; s >> v;) values.push_back(v);
    if (key == "code") t.code = static_cast<int>(values.at(0));
    if (key == "iterations") t.iterations = static_cast<int>(values.at(0));
    if (key == "function_evals") t.functionEvals = static_cast<int>(values.at(0));
    if (key == "gradient_evals") t.gradientEvals = static_cast<int>(values.at(0));
    if (key == "f") t.f = values.at(0);
    if (key == "x") t.x = values;
    if (key == "iteration_f") t.iterationF = values;
  }
  return t;
}

double relativeError(double a, double b) {
  return std::fabs(a - b) / std::fmax(std::fabs(b), 1e-300);
}

// Where the two implementations part. Two causes, both fixed by how this
// minimizer is defined:
//  * nlminb declines to evaluate f at a lengthened step whose predicted
//    reduction is at most 1.2 times the decrease already achieved, and takes
//    the shorter step instead; this minimizer always evaluates the candidate.
//  * the double-dogleg quantities are formed from q = gᵀH⁻¹g/γ with the
//    inner products scaled by 1/γ, which rounds differently in the last bits;
//    on ill-conditioned problems, and through finite differences, these
//    differences grow.
// Up to `agreeUntil` iterations the iterates' f agree to 1e-10; the fits end
// at the same minimum, x within `xTolerance` (the singular Powell minimum
// determines x only to about 1e-4 where f is within 1e-10 of its minimum).
struct Divergence {
  int agreeUntil;
  double xTolerance;
};
const std::map<std::string, Divergence> kDivergent = {
    {"rosenbrock_gradient", {22, 1e-7}}, {"rosenbrock_difference", {5, 1e-6}},
    {"powell_gradient", {33, 1e-4}},     {"powell_difference", {33, 1e-4}},
    {"wood_gradient", {16, 1e-7}},       {"wood_difference", {7, 1e-6}},
    {"normal_gradient", {2, 1e-6}},      {"normal_difference", {2, 1e-6}},
};

class ReferenceTraceTest : public ::testing::TestWithParam<std::tuple<std::string, std::string>> {};

TEST_P(ReferenceTraceTest, MatchesNlminb) {
  const auto& [name, mode] = GetParam();
  const TestProblem* problem = nullptr;
  for (const auto& p : testProblems()) {
    if (p.name == name) problem = &p;
  }
  ASSERT_NE(problem, nullptr);
  const ReferenceTrace ref = readTrace(name, mode);
  const FitResult r = fitProblem(*problem, mode == "gradient");
  const auto divergence = kDivergent.find(name + "_" + mode);
  const bool exact = divergence == kDivergent.end();
  const double xTolerance = exact ? 1e-10 : divergence->second.xTolerance;

  if (exact) {
    EXPECT_EQ(r.code, ref.code);
    EXPECT_EQ(r.iterations, ref.iterations);
    EXPECT_EQ(r.funcEvals, ref.functionEvals);
    EXPECT_EQ(r.gradEvals, ref.gradientEvals);
  } else {
    EXPECT_GE(r.code, kXConvergence);
    EXPECT_LE(r.code, kBothConvergence);
  }
  EXPECT_LE(relativeError(r.f, ref.f), 1e-10) << r.f << " vs " << ref.f;
  ASSERT_EQ(r.x.size(), ref.x.size());
  for (std::size_t i = 0; i < r.x.size(); ++i) {
    EXPECT_LE(std::fabs(r.x[i] - ref.x[i]), xTolerance * std::fmax(std::fabs(ref.x[i]), 1.0))
        << "x[" << i << "] " << r.x[i] << " vs " << ref.x[i];
  }
  std::size_t compared = std::min(r.iterationF.size(), ref.iterationF.size());
  if (exact) {
    EXPECT_EQ(r.iterationF.size(), ref.iterationF.size());
  } else {
    compared = std::min<std::size_t>(compared, divergence->second.agreeUntil);
  }
  for (std::size_t k = 0; k < compared; ++k) {
    EXPECT_LE(relativeError(r.iterationF[k], ref.iterationF[k]), 1e-10)
        << "iteration " << k << ": " << r.iterationF[k] << " vs " << ref.iterationF[k];
  }
}

INSTANTIATE_TEST_SUITE_P(
    Problems, ReferenceTraceTest,
    ::testing::Combine(::testing::Values("rosenbrock", "powell", "beale", "wood", "logistic", "normal", "quadratic"),
                       ::testing::Values("gradient", "difference")),
    [](const auto& info) { return std::get<0>(info.param) + "_" + std::get<1>(info.param); });

}  // namespace
}  // namespace kurv::testing
