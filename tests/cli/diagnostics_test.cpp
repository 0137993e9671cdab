// Classification diagnostics against their definitions worked by hand on
// small posterior matrices (those of a real fit against its posteriors.csv
// are checked with the fits in fit_test.cpp).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "cli/csv_reader.h"
#include "cli/diagnostics.h"
#include "cli_support.h"

namespace {

constexpr double M = kMissing;
constexpr double Inf = std::numeric_limits<double>::infinity();

void expectValue(double expected, double actual, const char* what) {
  if (isMissing(expected) || std::isinf(expected))
    EXPECT_EQ(actual, expected) << what;
  else
    EXPECT_NEAR(actual, expected, 1e-12) << what;
}

}  // namespace

TEST(Diagnostics, DefinitionsWorkedByHand) {
  struct Case {
    const char* name;
    std::vector<std::vector<double>> posteriors;
    std::vector<double> estimatedPct;
    // Expected per group: estimated %, assigned %, AvePP, OCC; and the relative entropy.
    std::vector<std::array<double, 4>> groups;
    double entropy;
  };
  const std::vector<Case> cases = {
      // Subject 4 ties and goes to group 1: groups hold subjects {1,2,4} and {3}.
      // AvePP 2/3 and 0.8; OCC (2/3 / 1/3) / (.55/.45) = 18/11 and (.8/.2) / (.45/.55) = 44/9;
      // entropy sum = H(.9) + H(.6) + H(.8) + ln 2 over 4 ln 2.
      {"two groups", {{0.9, 0.1}, {0.6, 0.4}, {0.2, 0.8}, {0.5, 0.5}}, {55, 45},
       {{{55, 75, 2.0 / 3, 18.0 / 11}, {45, 25, 0.8, 44.0 / 9}}}, 0.20953142926717194},
      // No estimated shares (risk factors): the mean posteriors 50, 32.5, 17.5.
      // Group 1 holds {1,4}: AvePP .85, OCC (.85/.15)/(.5/.5) = 17/3; group 2
      // {2,3}: AvePP .55, OCC (.55/.45)/(.325/.675) = 33/13; group 3 nobody.
      {"no estimated shares, an empty group", {{0.7, 0.2, 0.1}, {0.1, 0.6, 0.3}, {0.2, 0.5, 0.3}, {1, 0, 0}}, {M, M, M},
       {{{50, 50, 0.85, 17.0 / 3}, {32.5, 50, 0.55, 33.0 / 13}, {17.5, 0, M, M}}}, 0.3788943288688158},
      {"perfect classification", {{1, 0}, {0, 1}, {1, 0}}, {60, 40}, {{{60, 200.0 / 3, 1, Inf}, {40, 100.0 / 3, 1, Inf}}}, 1.0},
      {"one group", {{1}, {1}}, {100}, {{{100, 100, 1, M}}}, M},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ClassificationDiagnostics d = classify(c.posteriors, c.estimatedPct);
    ASSERT_EQ(d.groups.size(), c.groups.size());
    EXPECT_EQ(d.nSubjects, static_cast<int>(c.posteriors.size()));
    expectValue(c.entropy, d.relativeEntropy, "relative entropy");
    for (std::size_t g = 0; g < c.groups.size(); ++g) {
      const auto& r = d.groups[g];
      const std::array<double, 4> got = {r.estimatedPct, r.assignedPct, r.avePP, r.occ};
      for (int k = 0; k < 4; ++k) expectValue(c.groups[g][k], got[k], std::array{"estimated %", "assigned %", "AvePP", "OCC"}[k]);
    }
  }
  // As written: an infinite OCC is "inf" in the JSON and the table, a missing
  // value null and ".".
  const std::vector<ClassificationDiagnostics> perfect = {classify(cases[2].posteriors, cases[2].estimatedPct)},
                                               empty = {classify(cases[1].posteriors, cases[1].estimatedPct)};
  EXPECT_EQ(diagnosticsJson(perfect)[0]["groups"][0]["occ"], "inf");
  EXPECT_TRUE(diagnosticsJson(empty)[0]["groups"][2]["avepp"].is_null());
  EXPECT_NE(diagnosticsText(perfect).find("     1        60.00       66.67    1.0000        inf\n"), std::string::npos);
  EXPECT_NE(diagnosticsText(empty).find("     3        17.50        0.00         .          .\n"), std::string::npos)
      << diagnosticsText(empty);
  const DiagnosticsMinimum least = smallestDiagnostics(empty);
  EXPECT_EQ(least.assignedPct, 0.0);
  EXPECT_NEAR(least.avePP + least.occ, 0.55 + 33.0 / 13, 1e-12);
}
