// The derivative pieces addressed through the run record's cursors, for
// model 2 of a joint run as the joint gradient will call them: each piece
// against central differences of the measurement density it differentiates,
// at the model-2 positions of the parameter vector.

#include <gtest/gtest.h>

#include <cmath>

#include "models/densities.h"
#include "models/group_blocks.h"
#include "models/measurement_derivative.h"
#include "models/measurement_tables.h"
#include "support/run_builder.h"

namespace kurv {
namespace {

using testing::setArg;

// Model 1: CNORM, 2 periods, one group of order 0. Model 2: `kind`, 3
// periods, groups of orders 1 and 2, censored at -1 and 2 when CNORM.
std::unique_ptr<ModelContext> jointRun(testing::MemoryHost& host, const char* kind) {
  const std::vector<double> y2 = std::string(kind) == "cnorm" ? std::vector<double>{-1.5, 0.7, 2.0}
                                                              : std::vector<double>{0.0, 1.0, 3.0};
  host.data = {{0.5, 1.0, 1, 2, y2[0], y2[1], y2[2], 0.5, 1.0, 1.5}};
  host.setRowVector("kurv_mat_order1", {0});
  host.setRowVector("kurv_mat_order2", {1, 2});
  auto args = testing::defaultArgs();
  setArg(args, 2, "2");
  setArg(args, 18, kind);
  setArg(args, 19, "3");
  setArg(args, 23, "2");
  setArg(args, 24, "-1");
  setArg(args, 25, "2");
  auto ctx = testing::prepareTestRun(host, args);
  if (ctx) prepareMeasurementTables(*ctx);
  return ctx;
}

void expectPieceMatchesDensity(ModelContext& c, std::vector<double> x, int group, int period) {
  const int m = 1;
  c.currentModel = m;
  c.cursorSubject = 0;
  c.cursorGroup = group;
  c.cursorPeriod = period;
  const int n = c.nParams;
  std::vector<double> work(n, 99.0);
  measurementDerivative(n, x.data(), work.data(), &c);
  const GroupBlocks b = groupBlocks(c, m, group);
  std::vector<int> positions;
  for (int p = 0; p < trajectoryBlockSize(c, m, group); ++p) positions.push_back(b.trajectory + p);
  const bool cnorm = c.modelKind[m] == kCnorm;
  if (cnorm) positions.push_back(logSigmaIndex(c, m));
  for (int p : positions) {
    auto density = [&](double v) {
      const double saved = x[p];
      x[p] = v;
      const double sigma = std::exp(x[logSigmaIndex(c, m)]);
      const double d = measurementDensity(x.data(), c, {m, group, 0, period}, b, sigma);
      x[p] = saved;
      return d;
    };
    const double h = 1e-6;
    double fd = (density(x[p] + h) - density(x[p] - h)) / (2 * h);
    // The piece gives d/dsigma at the log-sigma position: d/dln sigma / sigma.
    if (cnorm && p == logSigmaIndex(c, m)) fd /= std::exp(x[p]);
    EXPECT_NEAR(work[p], fd, 1e-7 * std::max(1.0, std::fabs(fd))) << "position " << p;
  }
  // Positions of other blocks are not the piece's: left as they were.
  EXPECT_EQ(work[0], 99.0);
}

TEST(MeasurementDerivative, JointModelTwoCensoredNormal) {
  testing::MemoryHost host;
  auto ctx = jointRun(host, "cnorm");
  ASSERT_TRUE(ctx) << host.errors;
  ASSERT_TRUE(ctx->isJointModel());
  EXPECT_EQ(logSigmaIndex(*ctx, 1), ctx->jointThetaStart - 1);
  std::vector<double> x(ctx->nParams, 0.1);
  x[logSigmaIndex(*ctx, 1)] = std::log(0.9);
  for (int g = 0; g < 2; ++g)
    for (int j = 0; j < 3; ++j) expectPieceMatchesDensity(*ctx, x, g, j);  // left, inside, right
}

TEST(MeasurementDerivative, JointModelTwoLogitAndPoisson) {
  for (const char* kind : {"logit", "poisson"}) {
    SCOPED_TRACE(kind);
    testing::MemoryHost host;
    auto ctx = jointRun(host, kind);
    ASSERT_TRUE(ctx) << host.errors;
    std::vector<double> x(ctx->nParams, 0.2);
    for (int g = 0; g < 2; ++g)
      for (int j = 0; j < 3; ++j) expectPieceMatchesDensity(*ctx, x, g, j);
  }
}

}  // namespace
}  // namespace kurv
