// Student t probabilities against R's pt(), and the format of one row.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>

#include "report/estimate_row.h"
#include "support/memory_host.h"

namespace kurv {
namespace {

using testing::MemoryHost;

TEST(StudentTCdf, MatchesRReferenceForDf1To200) {
  std::ifstream in(std::string(KURV_FIXTURE_DIR) + "/report/student_t_reference.csv");
  ASSERT_TRUE(in.good());
  std::string line;
  std::getline(in, line);  // header
  int count = 0;
  double worst = 0.0;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    int df;
    double t, p;
    char comma;
    fields >> df >> comma >> t >> comma >> p;
    const double got = studentTCdf(t, df);
    worst = std::max(worst, std::fabs(got - p));
    EXPECT_NEAR(got, p, 2e-15) << "df=" << df << " t=" << t;
    ++count;
  }
  EXPECT_EQ(count, 200 * 23);
  std::ostringstream text;
  text << std::scientific << worst;
  RecordProperty("worst_abs_error", text.str());
}

TEST(StudentTCdf, ClosedFormsAndLimits) {
  for (int n : {1, 2, 3, 4, 7, 30, 200}) EXPECT_DOUBLE_EQ(studentTCdf(0.0, n), 0.5) << n;
  EXPECT_DOUBLE_EQ(studentTCdf(1.0, 1), 0.75);                    // Cauchy: 1/2 + atan(1)/pi
  EXPECT_NEAR(studentTCdf(1.0, 4), 0.81305, 5e-6);                // series term q/2 for n = 4
  EXPECT_NEAR(studentTCdf(1.0, 2), 0.5 + 0.5 / std::sqrt(3.0), 1e-15);  // t / (2 sqrt(2 + t^2))
  EXPECT_LE(studentTCdf(1e6, 3), 1.0);
  EXPECT_NEAR(twoSidedTPValue(-1.0, 1), 0.5, 1e-15);
}

class EstimateRowTest : public ::testing::Test {
 protected:
  MemoryHost host;
  std::string row(int group, int noTests, double est, double se, const std::string& label) {
    host.displayed.clear();
    printEstimateRow(host, group, noTests, 100, est, se, label);
    return host.displayed;
  }
};

TEST_F(EstimateRowTest, ColumnsWithAndWithoutGroupNumber) {
  // t = 2, p = 2 * (1 - pt(2, 100)) = 0.048239...
  EXPECT_EQ(row(1, 0, 1.0, 0.5, "Intercept   "),
            " 1       Intercept         1.00000      0.50000           2.000       0.0482\n");
  EXPECT_EQ(row(0, 0, -1.0, 0.5, "Linear      "),
            "         Linear           -1.00000      0.50000          -2.000       0.0482\n");
  // Labels shorter than 12 characters are padded.
  EXPECT_EQ(row(0, 0, 1.0, 0.5, "x"),
            "         x                 1.00000      0.50000           2.000       0.0482\n");
}

TEST_F(EstimateRowTest, BlankTestsAndSpecialStandardErrors) {
  // No tests: estimate and standard error only.
  EXPECT_EQ(row(2, 1, 1.0, 0.5, "Intercept   "),
            " 2       Intercept         1.00000      0.50000           \n");
  // A missing standard error: blank column and no tests.
  EXPECT_EQ(row(0, 0, 1.0, host.missingValue(), "Sigma       "),
            "         Sigma             1.00000                        \n");
  // A standard error of (almost) zero: no tests.
  EXPECT_EQ(row(0, 0, 1.0, 1e-17, "Sigma       "),
            "         Sigma             1.00000      0.00000           \n");
  // Too large for the column: "." but the tests are still shown.
  EXPECT_EQ(row(0, 0, 2.0, 2e6, "Sigma       "),
            "         Sigma             2.00000            .           0.000       1.0000\n");
}

}  // namespace
}  // namespace kurv
