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
  EXPECT_EQ(r.code, ref.code);
  EXPECT_EQ(r.iterations, ref.iterations);
  EXPECT_EQ(r.funcEvals, ref.functionEvals);
  EXPECT_EQ(r.gradEvals, ref.gradientEvals);
  EXPECT_LE(relativeError(r.f, ref.f), 1e-10) << r.f << " vs " << ref.f;
  ASSERT_EQ(r.x.size(), ref.x.size());
  for (std::size_t i = 0; i < r.x.size(); ++i) {
    EXPECT_LE(std::fabs(r.x[i] - ref.x[i]), 1e-10 * std::fmax(std::fabs(ref.x[i]), 1.0))
        << "x[" << i << "] " << r.x[i] << " vs " << ref.x[i];
  }
  const std::size_t common = std::min(r.iterationF.size(), ref.iterationF.size());
  EXPECT_GE(common + 1, ref.iterationF.size());
  for (std::size_t k = 0; k < common; ++k) {
    EXPECT_LE(relativeError(r.iterationF[k], ref.iterationF[k]), 1e-10)
        << "iteration " << k << ": " << r.iterationF[k] << " vs " << ref.iterationF[k];
  }
}

INSTANTIATE_TEST_SUITE_P(
    Problems, ReferenceTraceTest,
    ::testing::Combine(::testing::Values("rosenbrock", "powell", "beale", "wood", "quadratic"),
                       ::testing::Values("gradient", "difference")),
    [](const auto& info) { return std::get<0>(info.param) + "_" + std::get<1>(info.param); });

}  // namespace
}  // namespace kurv::testing
