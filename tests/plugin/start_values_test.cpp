// Start values: defaults from the data ranges, conversion and checks of given
// values, and the displays.

#include <gtest/gtest.h>

#include <cmath>

#include "engine/start_values.h"
#include "support/run_builder.h"

namespace kurv {
namespace {

using testing::defaultArgs;
using testing::MemoryHost;
using testing::prepareTestRun;
using testing::setArg;

// A CNORM run with `groups` groups of order 1, two periods, and the given
// start values (none when empty).
std::unique_ptr<ModelContext> cnormRun(MemoryHost& host, int groups, const std::vector<double>& start,
                                       const char* model = "cnorm") {
  host.data = {{1, 3, 0, 1}, {2, 5, 0, 1}, {0, 4, 0, 1}};
  host.setRowVector("kurv_mat_order1", std::vector<double>(static_cast<std::size_t>(groups), 1.0));
  auto args = defaultArgs();
  setArg(args, 1, model);
  setArg(args, 2, "2");
  setArg(args, 8, std::to_string(groups));
  if (!start.empty()) {
    setArg(args, 35, std::to_string(start.size()));
    host.setRowVector("kurv_start", start);
  }
  return prepareTestRun(host, args);
}

TEST(GivenStartValues, PercentagesBecomeLogOdds) {
  MemoryHost host;
  // 2 groups x 2 coefficients, sigma, then two percentages.
  auto ctx = cnormRun(host, 2, {1, 0, 2, 0, 1.5, 40, 60});
  ASSERT_TRUE(ctx) << host.errors;
  convertGivenStartValues(*ctx);
  EXPECT_DOUBLE_EQ(ctx->params[4], std::log(1.5));
  EXPECT_DOUBLE_EQ(ctx->params[5], std::log(0.6 / 0.4));
  EXPECT_EQ(ctx->startDisplay[6], 60.0);  // the user form is kept
  EXPECT_TRUE(host.stdoutText.empty());
}

TEST(GivenStartValues, SumAndRangeChecks) {
  struct Case {
    std::vector<double> pct;
    const char* message;
  };
  const Case cases[] = {
      {{50, 30, 30}, "First set of starting percents add to more than 100. 0.400000 0.500000"},
      {{50, 30, 20.5}, ""},
      {{0, 50, 50}, "Starting percentage =     0.000000 is invalid"},
      {{100, 50, 50}, "Starting percentage =   100.000000 is invalid"},
  };
  for (const Case& c : cases) {
    MemoryHost host;
    std::vector<double> start = {1, 0, 2, 0, 3, 0, 1.0};
    start.insert(start.end(), c.pct.begin(), c.pct.end());
    auto ctx = cnormRun(host, 3, start);
    ASSERT_TRUE(ctx) << host.errors;
    convertGivenStartValues(*ctx);
    EXPECT_EQ(host.stdoutText, c.message);
    if (*c.message == '\0') {
      // r = 1 - 0.505 = 0.495; the first group is the reference.
      EXPECT_DOUBLE_EQ(ctx->params[7], std::log(0.30 / 0.495));
      EXPECT_DOUBLE_EQ(ctx->params[8], std::log(0.205 / 0.495));
    }
  }
}

TEST(GivenStartValues, ZeroScaleOfModelOneBecomesZero) {
  MemoryHost host;
  auto ctx = cnormRun(host, 1, {1, 0, 0.0});
  ASSERT_TRUE(ctx);
  convertGivenStartValues(*ctx);
  EXPECT_EQ(ctx->params[2], 0.0);
}

TEST(DefaultStartValues, SpreadInsideTheRangeWithLinkRules) {
  MemoryHost host;
  auto ctx = cnormRun(host, 3, {});
  ASSERT_TRUE(ctx);
  buildDefaultStartValues(*ctx);
  const double lo = ctx->yMin[0], hi = ctx->yMax[0];
  for (int g = 0; g < 3; ++g) EXPECT_DOUBLE_EQ(ctx->params[2 * g], lo + (hi - lo) * (g + 1) / 4.0);
  EXPECT_DOUBLE_EQ(ctx->params[6], std::log(ctx->ySd[0]));
  EXPECT_EQ(ctx->params[7], 0.0);
  // User form: sigma itself and three percentages of 100/3.
  EXPECT_DOUBLE_EQ(ctx->startDisplay[6], std::exp(std::log(ctx->ySd[0])));
  EXPECT_DOUBLE_EQ(ctx->startDisplay[7], 100.0 / 3.0);
  EXPECT_DOUBLE_EQ(ctx->startDisplay[9], 100.0 / 3.0);

  MemoryHost zipHost;
  auto zip = cnormRun(zipHost, 2, {}, "zip");
  ASSERT_TRUE(zip);
  zip->yMin[0] = -1.0;
  zip->yMax[0] = 5.0;
  buildDefaultStartValues(*zip);
  EXPECT_DOUBLE_EQ(zip->params[0], std::log(1.0));
  EXPECT_DOUBLE_EQ(zip->params[2], std::log(3.0));
  zip->yMax[0] = -1.0;
  buildDefaultStartValues(*zip);
  EXPECT_EQ(zip->params[0], -3.0);  // no log of a non-positive rate

  MemoryHost logitHost;
  auto logit = cnormRun(logitHost, 3, {}, "logit");
  ASSERT_TRUE(logit);
  logit->yMin[0] = 0.0;
  logit->yMax[0] = 1.0;
  buildDefaultStartValues(*logit);
  EXPECT_DOUBLE_EQ(logit->params[0], std::log(0.25 / 0.75));
  EXPECT_DOUBLE_EQ(logit->params[2], 0.0);
}

TEST(StartValueDisplay, SixToALineWithBlankPadding) {
  MemoryHost host;
  auto ctx = cnormRun(host, 1, {});
  ASSERT_TRUE(ctx);
  std::vector<double> v(12);
  for (int i = 0; i < 12; ++i) v[i] = i + 0.5;
  host.displayed.clear();
  showValueLines(*ctx, v.data(), 8);
  EXPECT_EQ(host.displayed,
            "    0.50000,    1.50000,    2.50000,    3.50000,    4.50000,    5.50000, \n"
            "    6.50000,    7.50000     \n");
  host.displayed.clear();
  showValueLines(*ctx, v.data(), 12);
  EXPECT_EQ(host.displayed.substr(host.displayed.rfind("11.50000")), "11.50000 \n       \n");
}

TEST(StartValueDisplay, EstimatesShownInBothForms) {
  MemoryHost host;
  auto ctx = cnormRun(host, 2, {});
  ASSERT_TRUE(ctx);
  ctx->params = {1, 2, 3, 4, std::log(2.0), std::log(3.0), 0};
  host.displayed.clear();
  showEstimatesAsStartValues(*ctx);
  EXPECT_EQ(host.displayed,
            " \nParameter estimates for adding risk factors\n \n"
            "    1.00000,    2.00000,    3.00000,    4.00000,    2.00000,    1.09861 \n"
            "       \n"  // six values take two lines, the second all blanks
            "Parameter estimates\n \n"
            "    1.00000,    2.00000,    3.00000,    4.00000,    2.00000,   25.00000, \n"
            "   75.00000      \n"
            " \n");
}

}  // namespace
}  // namespace kurv
