// Fits from several starting points: the perturbed starts stay within the
// widths they promise around the engine's start, the best of several maxima
// is kept, and the same command and seed give the same files.
#include <gtest/gtest.h>

// GCC 12 warns wrongly about std::string concatenation at -O2 (a known false
// positive of its restrict analysis).
#pragma GCC diagnostic ignored "-Wrestrict"

#include <algorithm>
#include <cmath>

#include "cli/data_file.h"
#include "cli/engine_call.h"
#include "cli/multi_start.h"
#include "cli/number_text.h"
#include "cli_support.h"

namespace {

const std::string kModel = " --var y1-y6 --indep t1-t6 --model cnorm --order 1 1 --min -1000 --max 1000";

json withoutStarts(json fit) {
  fit.erase("starts");
  fit["options"].erase("starts");
  fit["options"].erase("seed");
  return fit;
}

}  // namespace

TEST(Starts, PerturbationsStayWithinTheirWidthsTheBestMaximumIsKeptAndTheSameSeedRepeats) {
  // Two groups crossing in time (10 + t and 20 - t), six yearly measurements.
  TempDir dir;
  ASSERT_EQ(runKurv("simulate --model cnorm --groups 50:10,1 50:20,-1 --times 1 2 3 4 5 6 --sigma 3 --min -1000 "
                    "--max 1000 --n 200 --seed 1 --out @d.csv", &dir).code, 0);
  const DataTable table = readDataFile(dir.file("d.csv"));
  // The engine's default start (not the one guessed from the data) as its
  // trace shows it: intercepts spaced w apart, slopes 0, sigma, percentages.
  // Times 1..6 give R = 5.
  const EngineCall call = buildEngineCall(fitOptions("d.csv" + kModel + " --start default"), table);
  const CliRun trace = runKurv("fit @d.csv" + kModel + " --start default --trace", &dir);
  std::istringstream shown(trace.out.substr(trace.out.find("Starting Values") + 15));
  std::vector<double> defaults;
  for (std::string word; defaults.size() < 7 && shown >> word;) defaults.push_back(std::stod(word));
  ASSERT_EQ(defaults.size(), 7u);
  const double w = defaults[2] - defaults[0];
  ASSERT_GT(w, 1.0);
  const auto perturbed = perturbedStarts(table, call, {201, 9});
  ASSERT_EQ(perturbed.size(), 200u);
  double widest[3] = {0, 0, 0};  // intercept, slope and log-odds offsets over the width they may reach
  double sigmaFactor = 0;
  for (const auto& s : perturbed) {
    ASSERT_EQ(s.size(), 7u);  // interc1 linear1 interc2 linear2 sigma pct1 pct2
    for (int g = 0; g < 2; ++g) {
      widest[0] = std::max(widest[0], std::fabs(s[2 * g] - defaults[2 * g]) / w);
      widest[1] = std::max(widest[1], std::fabs(s[2 * g + 1]) / (w / 10));
    }
    EXPECT_NEAR(s[5] + s[6], 100.0, 1e-9);
    widest[2] = std::max(widest[2], std::fabs(std::log(s[6] / s[5])));
    sigmaFactor = std::max(sigmaFactor, std::fabs(std::log(s[4] / defaults[4])) / 0.5);
  }
  // Each reaches close to its width and never past it (the trace shows 5 decimals).
  for (double v : widest) EXPECT_TRUE(v > 0.9 && v <= 1.0 + 1e-4) << v;
  EXPECT_TRUE(sigmaFactor > 0.9 && sigmaFactor <= 1.0 + 1e-4) << sigmaFactor;
  // The same seed gives the same starts, another seed others.
  EXPECT_EQ(perturbedStarts(table, call, {3, 9}), std::vector(perturbed.begin(), perturbed.begin() + 2));
  EXPECT_NE(perturbedStarts(table, call, {3, 10}), std::vector(perturbed.begin(), perturbed.begin() + 2));
  EXPECT_TRUE(perturbedStarts(table, call, {1, 9}).empty());

  // Both groups started on one trajectory: the likelihood is flat in every
  // direction that would separate them (a stationary point), so the fit
  // stays at the one-group solution. Perturbed starts break the tie.
  const std::string command = "fit @d.csv" + kModel + " --start 15 0 15 0 6 50 50";
  ASSERT_EQ(runKurv(command + " --out @one", &dir).code, 0);
  const CliRun many = runKurv(command + " --starts 10 --out @many", &dir);
  ASSERT_EQ(many.code, 0) << many.err;
  const json one = json::parse(readFile(dir.file("one/fit.json")));
  const json fit = json::parse(readFile(dir.file("many/fit.json")));
  const json& starts = fit["starts"];
  EXPECT_GT(fit["loglik"].get<double>(), one["loglik"].get<double>() + 100);
  EXPECT_EQ(starts["loglik_by_start"][0], one["loglik"]);  // start 1 is the single fit
  EXPECT_EQ(starts["maxima"][0]["loglik"], fit["loglik"]);
  EXPECT_GT(fit["diagnostics"][0]["relative_entropy"].get<double>(), 0.9);
  EXPECT_NE(many.out.find("Starts: 10 (seed 1), 10 reached results, 9 reached the best maximum (start 2 kept), "
                          "2 distinct maxima"), std::string::npos) << many.out;
  // The kept start's values, given as --start, reproduce the fit.
  std::string values;
  for (const json& v : starts["best_start_values"]) values += " " + shortestText(v.get<double>());
  ASSERT_EQ(runKurv("fit @d.csv" + kModel + " --start" + values + " --out @again", &dir).code, 0);
  EXPECT_EQ(json::parse(readFile(dir.file("again/fit.json")))["loglik"], fit["loglik"]);

  // The same command and seed give the same files; another seed changes only the start counts.
  const std::string seeded = "fit @d.csv" + kModel + " --starts 6 --id id";
  std::vector<CliRun> runs;
  for (const char* tail : {" --seed 4 --out @a", " --seed 4 --out @b", " --seed 5 --out @c"})
    runs.push_back(runKurv(seeded + tail, &dir));
  for (const auto& run : runs) ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(runs[0].out, runs[1].out);
  EXPECT_EQ(differingFiles(dir.file("a"), dir.file("b"), {"fit.json", "posteriors.csv", "plot1.csv", "trajectories.svg"}), "");
  // Start 1 reaches the best maximum here, so it is kept whatever the seed,
  // and the fit is the one without --starts.
  const json a = json::parse(readFile(dir.file("a/fit.json"))), c = json::parse(readFile(dir.file("c/fit.json")));
  EXPECT_EQ(a["starts"]["best_start"], 1);
  EXPECT_EQ(withoutStarts(a), withoutStarts(c));
  EXPECT_NE(a["starts"]["seed"], c["starts"]["seed"]);
  ASSERT_EQ(runKurv("fit @d.csv" + kModel + " --id id --out @plain", &dir).code, 0);
  EXPECT_EQ(withoutStarts(a), json::parse(readFile(dir.file("plain/fit.json"))));
  EXPECT_EQ(differingFiles(dir.file("a"), dir.file("plain"), {"posteriors.csv", "plot1.csv", "trajectories.svg"}), "");
}
