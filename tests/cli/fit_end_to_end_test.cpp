// `kurv fit` from the command line to the output files: the same fit as the
// engine gives through the test host, the same results from the CSV and
// .dta versions of one data set, output files that parse and hold what they
// promise, and bad input that ends with one clear line and nothing written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/csv_reader.h"
#include "cli/data_table.h"
#include "cli/dta_file.h"
#include "cli/number_text.h"
#include "cli_test_support.h"
#include "plugin/run_command.h"
#include "support/memory_host.h"
#include "xml_check.h"

using namespace kurv::cli::testing;
using kurv::cli::DataTable;
using kurv::cli::parseCsv;
using nlohmann::json;

namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kSmallFit = {"--var", "y1-y5", "--indep", "t1-t5", "--model", "cnorm",
                                            "--order", "1",   "2",       "--min", "0",       "--max",
                                            "30"};

std::vector<std::string> fitWords(const std::string& data, const std::vector<std::string>& extra = {}) {
  std::vector<std::string> words{"fit", data};
  words.insert(words.end(), kSmallFit.begin(), kSmallFit.end());
  words.insert(words.end(), extra.begin(), extra.end());
  return words;
}

// The fixture read line by line, independently of the program's reader:
// no quotes, empty cells missing.
std::vector<std::vector<double>> readPlainCsv(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);  // header
  std::vector<std::vector<double>> rows;
  while (std::getline(in, line)) {
    std::vector<double> row;
    std::stringstream cells(line);
    std::string cell;
    while (std::getline(cells, cell, ',')) row.push_back(cell.empty() ? kurv::testing::kHostMissing : std::stod(cell));
    if (line.back() == ',') row.push_back(kurv::testing::kHostMissing);
    rows.push_back(row);
  }
  return rows;
}

// The same model run through the test host with the arguments written out
// by hand: five outcome columns y1..y5, then five time columns t1..t5.
struct HostRun {
  kurv::testing::MemoryHost host;
  kurv::RunSummary summary;
  int code = 0;
};

void runThroughTestHost(HostRun& run) {
  for (const auto& row : readPlainCsv(fixture("small.csv")))
    run.host.data.push_back(std::vector<double>(row.begin() + 1, row.begin() + 11));
  run.host.setRowVector("kurv_mat_order1", {1, 2});
  const int nParams = 2 + 3 + 1 + 1;  // linear, quadratic, sigma, one membership constant
  run.host.createMatrix("parmData", 1, nParams);
  run.host.createMatrix("varData", nParams, nParams);
  run.host.createMatrix("groupPct1", 1, 2);
  run.host.createMatrix("outPlot1", 5, 9);
  const char* args[39] = {"cnorm", "5", "0", "0", "0", "0", "0", "2", "0", "30", "0", "0", "0",
                          "0",     "0", "none", "1", "none", "0", "0", "0", "0", "0", "0", "0", "0",
                          "0",     "none", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0"};
  run.code = kurv::runCommand(run.host, 39, args, &run.summary);
}

json readJson(const std::string& path) { return json::parse(readFile(path)); }

DataTable readOutputCsv(const std::string& path) { return parseCsv(readFile(path), path); }

#define SKIP_UNTIL_ENGINE_FITS(errors)                                                     \
  do {                                                                                     \
    if (engineCannotFitYet(errors)) GTEST_SKIP() << "the engine does not fit this model yet: " << (errors); \
  } while (false)

}  // namespace

TEST(FitEndToEnd, SameFitAsTheEngineThroughTheTestHost) {
  HostRun reference;
  runThroughTestHost(reference);
  TempDir dir;
  const CliRun cli = runKurv(fitWords(fixture("small.csv"), {"--out", dir.file("out")}));
  SKIP_UNTIL_ENGINE_FITS(reference.host.errors);
  ASSERT_EQ(reference.code, 0) << reference.host.errors;
  ASSERT_EQ(cli.code, 0) << cli.err;

  // The Results text is exactly what the host shows.
  EXPECT_EQ(cli.out, reference.host.displayed);
  const json fit = readJson(dir.file("out/fit.json"));
  EXPECT_EQ(fit["loglik"].get<double>(), reference.summary.logLikelihood);
  EXPECT_EQ(fit["n_params"].get<int>(), reference.summary.nParams);
  ASSERT_EQ(fit["estimates"].size(), reference.summary.estimates.size());
  for (std::size_t k = 0; k < reference.summary.estimates.size(); ++k) {
    EXPECT_EQ(fit["estimates"][k]["estimate"].get<double>(), reference.summary.estimates[k]) << k;
    EXPECT_EQ(fit["estimates"][k]["estimate"].get<double>(), reference.host.matrices["parmData"][0][k]) << k;
    EXPECT_EQ(fit["estimates"][k]["se"].get<double>(), reference.summary.stdErrors[k]) << k;
    EXPECT_EQ(fit["estimates"][k]["name"].get<std::string>(), reference.summary.names[k]) << k;
    for (std::size_t c = 0; c < reference.summary.estimates.size(); ++c)
      EXPECT_EQ(fit["covariance"][k][c].get<double>(), reference.host.matrices["varData"][k][c]);
  }
  for (int g = 0; g < 2; ++g) {
    EXPECT_EQ(fit["group_pct"][0][g].get<double>(), reference.summary.groupPct[0][g]);
    EXPECT_EQ(fit["group_pct_posterior"][0][g].get<double>(), reference.host.matrices["groupPct1"][0][g]);
  }
  const DataTable plot = readOutputCsv(dir.file("out/plot1.csv"));
  for (int t = 0; t < 5; ++t)
    for (int c = 0; c < 9; ++c) {
      const double expected = reference.host.matrices["outPlot1"][t][c];
      EXPECT_EQ(plot.values[c][t], expected >= kurv::testing::kHostMissing ? kurv::cli::kMissing : expected);
    }
  // Posterior variables: most likely group and two probabilities from
  // variable 11 on, one past the ten input columns.
  const DataTable post = readOutputCsv(dir.file("out/posteriors.csv"));
  ASSERT_EQ(post.rowCount(), reference.host.data.size());
  for (std::size_t i = 0; i < post.rowCount(); ++i)
    for (int k = 0; k < 3; ++k) {
      const double expected = reference.host.value(11 + k, static_cast<int>(i) + 1);
      EXPECT_EQ(post.values[1 + k][i], expected >= kurv::testing::kHostMissing ? kurv::cli::kMissing : expected);
    }
}

TEST(FitEndToEnd, RiskWeightAndCovariatesReachTheEngineInItsLayout) {
  // The fixture with a risk factor r, a weight w and one covariate x1..x5,
  // written as a CSV for the program and laid out by hand for the test
  // host: outcomes, times, risk, weight, covariates.
  const auto rows = readPlainCsv(fixture("small.csv"));
  TempDir dir;
  std::string text = readFile(fixture("small.csv"));
  text = text.substr(0, text.find('\n')) + ",r,w,x1,x2,x3,x4,x5\n";
  kurv::testing::MemoryHost host;
  for (const auto& row : rows) {
    const int id = static_cast<int>(row[0]);
    std::vector<double> extra{static_cast<double>(id % 2), 1.0 + (id % 3) / 2.0};
    for (int j = 1; j <= 5; ++j) extra.push_back((id * j) % 3 == 0 ? 1.0 : 0.0);
    for (std::size_t c = 0; c < row.size(); ++c) {
      if (c) text += ',';
      if (row[c] < kurv::testing::kHostMissing) text += kurv::cli::shortestText(row[c]);
    }
    for (double v : extra) text.append(1, ',').append(kurv::cli::shortestText(v));
    text += '\n';
    std::vector<double> hostRow(row.begin() + 1, row.begin() + 11);
    hostRow.insert(hostRow.end(), extra.begin(), extra.end());
    host.data.push_back(hostRow);
  }
  writeFile(dir.file("ext.csv"), text);
  host.setRowVector("kurv_mat_order1", {1, 2});
  host.macros["_risk1"] = "r";
  host.macros["_tcov1"] = "x1 x2 x3 x4 x5";
  const int nParams = 3 + 4 + 1 + 2;
  host.createMatrix("parmData", 1, nParams);
  host.createMatrix("varData", nParams, nParams);
  host.createMatrix("groupPct1", 1, 2);
  host.createMatrix("outPlot1", 5, 9);
  const char* args[39] = {"cnorm", "5", "1", "1", "0", "5", "0", "2", "0", "30", "0", "0", "0",
                          "0",     "0", "none", "1", "none", "0", "0", "0", "0", "0", "0", "0", "0",
                          "0",     "none", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0"};
  kurv::RunSummary reference;
  const int code = kurv::runCommand(host, 39, args, &reference);
  SKIP_UNTIL_ENGINE_FITS(host.errors);
  ASSERT_EQ(code, 0) << host.errors;

  const CliRun cli = runKurv(fitWords(dir.file("ext.csv"), {"--risk", "r", "--weight", "w", "--tcov", "x1-x5",
                                                            "--out", dir.file("out")}));
  ASSERT_EQ(cli.code, 0) << cli.err;
  EXPECT_EQ(cli.out, host.displayed);
  const json fit = readJson(dir.file("out/fit.json"));
  EXPECT_EQ(fit["loglik"].get<double>(), reference.logLikelihood);
  ASSERT_EQ(fit["estimates"].size(), reference.estimates.size());
  for (std::size_t k = 0; k < reference.estimates.size(); ++k)
    EXPECT_EQ(fit["estimates"][k]["estimate"].get<double>(), reference.estimates[k]) << k;
}

TEST(FitEndToEnd, CsvAndDtaVersionsGiveIdenticalResults) {
  TempDir dir;
  const CliRun csv = runKurv(fitWords(fixture("small.csv"), {"--out", dir.file("csv")}));
  const CliRun dta = runKurv(fitWords(fixture("small.dta"), {"--out", dir.file("dta")}));
  SKIP_UNTIL_ENGINE_FITS(csv.err);
  ASSERT_EQ(csv.code, 0) << csv.err;
  ASSERT_EQ(dta.code, 0) << dta.err;
  EXPECT_EQ(csv.out, dta.out);
  json a = readJson(dir.file("csv/fit.json"));
  json b = readJson(dir.file("dta/fit.json"));
  a["options"].erase("data");
  b["options"].erase("data");
  EXPECT_EQ(a, b);
  for (const char* file : {"posteriors.csv", "plot1.csv", "trajectories.svg"})
    EXPECT_EQ(readFile(dir.file(std::string("csv/") + file)), readFile(dir.file(std::string("dta/") + file))) << file;
}

TEST(FitEndToEnd, LogitAndZipRunsFromCsvAndDtaAgree) {
  // Data simulated into both formats; each model fitted from each file.
  TempDir dir;
  struct Case {
    std::vector<std::string> simulate, fit;
  };
  const std::vector<Case> cases = {
      {{"--model", "logit", "--groups", "60:-2,0.3", "40:1,-0.2"}, {"--model", "logit", "--order", "1", "1"}},
      {{"--model", "zip", "--groups", "60:-1,0.2", "40:1.5", "--inflation", "0.2"},
       {"--model", "zip", "--order", "1", "0", "--iorder", "0"}},
      {{"--model", "poisson", "--groups", "50:0.5", "50:2"}, {"--model", "poisson", "--order", "0", "0"}},
  };
  for (const auto& c : cases) {
    for (const char* ext : {"csv", "dta"}) {
      std::vector<std::string> words{"simulate", "--times", "1", "2", "3", "4", "--n", "120", "--seed", "4",
                                     "--missing", "0.05", "--out", dir.file(std::string("d.") + ext)};
      words.insert(words.end(), c.simulate.begin(), c.simulate.end());
      ASSERT_EQ(runKurv(words).code, 0);
    }
    std::vector<CliRun> runs;
    for (const char* ext : {"csv", "dta"}) {
      std::vector<std::string> words{"fit", dir.file(std::string("d.") + ext), "--var", "y1-y4", "--indep", "t1-t4",
                                     "--out", dir.file(std::string("out-") + ext)};
      words.insert(words.end(), c.fit.begin(), c.fit.end());
      runs.push_back(runKurv(words));
    }
    SKIP_UNTIL_ENGINE_FITS(runs[0].err);
    ASSERT_EQ(runs[0].code, 0) << runs[0].err;
    ASSERT_EQ(runs[1].code, 0) << runs[1].err;
    EXPECT_EQ(runs[0].out, runs[1].out) << c.fit[1];
    for (const char* file : {"posteriors.csv", "plot1.csv", "trajectories.svg"})
      EXPECT_EQ(readFile(dir.file(std::string("out-csv/") + file)), readFile(dir.file(std::string("out-dta/") + file)));
    const json fit = readJson(dir.file("out-csv/fit.json"));
    EXPECT_EQ(fit["loglik"], readJson(dir.file("out-dta/fit.json"))["loglik"]);
    EXPECT_EQ(xmlWellFormedError(readFile(dir.file("out-csv/trajectories.svg"))), "");
  }
}

TEST(FitEndToEnd, OutputFilesParseAndHoldWhatIsListed) {
  TempDir dir;
  const CliRun run = runKurv(fitWords(fixture("small.csv"), {"--out", dir.file("out"), "--id", "id"}));
  SKIP_UNTIL_ENGINE_FITS(run.err);
  ASSERT_EQ(run.code, 0) << run.err;

  const json fit = readJson(dir.file("out/fit.json"));
  for (const char* key : {"loglik", "aic", "bic_measurements", "bic_subjects", "n_params", "n_subjects",
                          "n_measurements", "minimizer_code", "estimates", "covariance", "group_pct", "options"})
    EXPECT_TRUE(fit.contains(key)) << key;
  const int n = fit["n_params"].get<int>();
  EXPECT_EQ(n, 7);
  ASSERT_EQ(fit["estimates"].size(), static_cast<std::size_t>(n));
  for (const auto& row : fit["estimates"]) {
    for (const char* key : {"name", "estimate", "se", "t", "p"}) EXPECT_TRUE(row.contains(key)) << key;
    if (!row["t"].is_null()) {
      EXPECT_NEAR(row["t"].get<double>(), row["estimate"].get<double>() / row["se"].get<double>(), 1e-12);
      EXPECT_GE(row["p"].get<double>(), 0.0);
      EXPECT_LE(row["p"].get<double>(), 1.0);
    }
  }
  ASSERT_EQ(fit["covariance"].size(), static_cast<std::size_t>(n));
  for (const auto& row : fit["covariance"]) EXPECT_EQ(row.size(), static_cast<std::size_t>(n));
  ASSERT_EQ(fit["group_pct"].size(), 1u);
  double total = 0;
  for (const auto& p : fit["group_pct"][0]) total += p.get<double>();
  EXPECT_NEAR(total, 100.0, 1e-9);
  total = 0;
  for (const auto& p : fit["group_pct_posterior"][0]) total += p.get<double>();
  EXPECT_NEAR(total, 100.0, 1e-9);
  // The fit statistics follow from L and the counts.
  const double L = fit["loglik"].get<double>();
  EXPECT_DOUBLE_EQ(fit["aic"].get<double>(), L - n);
  EXPECT_DOUBLE_EQ(fit["bic_subjects"].get<double>(), L - 0.5 * n * std::log(fit["n_subjects"].get<double>()));
  EXPECT_EQ(fit["options"]["models"][0]["var"], json({"y1-y5"}));
  EXPECT_EQ(fit["options"]["models"][0]["order"], json({"1", "2"}));

  const DataTable post = readOutputCsv(dir.file("out/posteriors.csv"));
  EXPECT_EQ(post.names, (std::vector<std::string>{"id", "group", "prob1", "prob2"}));
  ASSERT_EQ(post.rowCount(), 150u);
  for (std::size_t i = 0; i < post.rowCount(); ++i) {
    EXPECT_EQ(post.values[0][i], static_cast<double>(i + 1));
    const double p1 = post.values[2][i], p2 = post.values[3][i];
    EXPECT_NEAR(p1 + p2, 1.0, 1e-12);
    EXPECT_EQ(post.values[1][i], p2 > p1 ? 2.0 : 1.0);
  }

  const DataTable plot = readOutputCsv(dir.file("out/plot1.csv"));
  EXPECT_EQ(plot.names, (std::vector<std::string>{"time", "observed1", "observed2", "predicted1", "predicted2",
                                                  "lower1", "upper1", "lower2", "upper2"}));
  ASSERT_EQ(plot.rowCount(), 5u);
  for (std::size_t t = 0; t < 5; ++t) {
    EXPECT_DOUBLE_EQ(plot.values[0][t], static_cast<double>(t + 1));  // every subject measured at 1..5
    for (int g = 0; g < 2; ++g) {
      EXPECT_LE(plot.values[5 + 2 * g][t], plot.values[3 + g][t]);
      EXPECT_GE(plot.values[6 + 2 * g][t], plot.values[3 + g][t]);
    }
  }
  const std::string svg = readFile(dir.file("out/trajectories.svg"));
  EXPECT_EQ(xmlWellFormedError(svg), "");
  EXPECT_NE(svg.find(">y</text>"), std::string::npos);  // axis labels from the column names
  EXPECT_NE(svg.find(">t</text>"), std::string::npos);
  EXPECT_NE(svg.find("Group 2: "), std::string::npos);
  // Nothing but the four files, no temporaries left behind.
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.file("out"))) names.insert(entry.path().filename().string());
  EXPECT_EQ(names, (std::set<std::string>{"fit.json", "plot1.csv", "posteriors.csv", "trajectories.svg"}));
}

TEST(FitEndToEnd, ExcludedRowsHaveEmptyPosteriorsAndIdsAreQuoted) {
  TempDir dir;
  // The fixture with a text identifier and a selection column.
  const DataTable base = parseCsv(readFile(fixture("small.csv")), "small.csv");
  std::string text = "name,sel," + std::string("y1,y2,y3,y4,y5,t1,t2,t3,t4,t5\n");
  for (std::size_t r = 0; r < base.rowCount(); ++r) {
    text += "\"s," + std::to_string(r + 1) + "\"," + (r % 10 == 3 ? "0" : "1");
    for (std::size_t c = 1; c <= 10; ++c) text += "," + base.text[c][r];
    text += "\n";
  }
  writeFile(dir.file("named.csv"), text);
  const CliRun run = runKurv(fitWords(dir.file("named.csv"), {"--if", "sel", "--id", "name", "--out", dir.file("out")}));
  SKIP_UNTIL_ENGINE_FITS(run.err);
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("15 excluded by if condition."), std::string::npos) << run.out;
  const DataTable post = readOutputCsv(dir.file("out/posteriors.csv"));
  ASSERT_EQ(post.rowCount(), 150u);
  for (std::size_t r = 0; r < 150; ++r) {
    EXPECT_EQ(post.text[0][r], "s," + std::to_string(r + 1));
    EXPECT_EQ(kurv::cli::isMissing(post.values[1][r]), r % 10 == 3) << r;
  }
}

TEST(FitEndToEnd, EveryBadInputEndsWithOneLineAndNothingWritten) {
  TempDir dir;
  writeFile(dir.file("bad.csv"), "id,y1,y2,y3,y4,y5,t1,t2,t3,t4,t5\n1,1,2,x,4,5,1,2,3,4,5\n");
  // A .dta file whose outcome is a string variable.
  {
    DataTable t = parseCsv(readFile(fixture("small.csv")), "small.csv");
    t.isString[3] = true;
    kurv::cli::writeDtaFile(t, dir.file("strings.dta"));
  }
  const std::string out = dir.file("out");
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {fitWords(fixture("small.csv"), {"--risk", "age", "--out", out}), "kurv: --risk: unknown column 'age'"},
      {fitWords(dir.file("bad.csv"), {"--out", out}), "kurv: " + dir.file("bad.csv") + ", line 2: 'x' in column 'y3' is not a number (--var needs numbers)"},
      {fitWords(fixture("small.csv"), {"--refgroup", "3", "--out", out}), "kurv: --refgroup 3 is past the last group"},
      {fitWords(fixture("small.csv"), {"--dropout", "0", "0", "0", "--out", out}), "kurv: wrong number of orders: --dropout gives 3"},
      {fitWords(dir.file("missing.csv"), {"--out", out}), "kurv: cannot open " + dir.file("missing.csv")},
      {fitWords(dir.file("strings.dta"), {"--out", out}), "kurv: " + dir.file("strings.dta") + ": column 'y3' is a string variable, but --var needs numbers"},
      {fitWords(fixture("small.csv"), {"--iorder", "0", "--out", out}), "kurv: --iorder (zero-inflation orders) needs --model zip, not cnorm"},
      {fitWords(fixture("small.csv"), {"--dcov", "y1-y5", "--out", out}), "kurv: --dcov needs --dropout"},
      {{"fit", fixture("small.csv"), "--var", "y1-y5", "--out", out}, "kurv: --var needs --indep"},
      {{"fit", "--var", "y1"}, "kurv: DATA is required"},
      {{"fit", fixture("small.csv"), "--nope"}, "kurv: The following argument was not expected: --nope"},
  };
  for (const auto& [words, prefix] : cases) {
    const CliRun run = runKurv(words);
    EXPECT_NE(run.code, 0) << prefix;
    EXPECT_EQ(run.err.rfind(prefix, 0), 0u) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(run.out, "") << prefix;
    EXPECT_FALSE(fs::exists(out)) << prefix;
  }
}

TEST(FitEndToEnd, EngineRefusalsReachStandardErrorWithNonZeroStatus) {
  // The number of start values is the engine's to check: 7 parameters plus
  // one percentage per group are expected, 3 are given.
  TempDir dir;
  const CliRun run = runKurv(fitWords(fixture("small.csv"), {"--start", "1", "2", "3", "--out", dir.file("out")}));
  EXPECT_EQ(run.code, 3);
  EXPECT_NE(run.err.find("Incorrect number of start values, the correct number is 8."), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(dir.file("out")));
}

TEST(FitEndToEnd, HelpDocumentsEveryOptionWithAnExample) {
  const CliRun top = runKurv({"--help"});
  EXPECT_EQ(top.code, 0);
  EXPECT_NE(top.out.find("fit"), std::string::npos);
  EXPECT_NE(top.out.find("simulate"), std::string::npos);
  EXPECT_NE(top.out.find("Example: kurv fit"), std::string::npos);
  const CliRun fit = runKurv({"fit", "--help"});
  EXPECT_EQ(fit.code, 0);
  for (const char* option :
       {"--var", "--indep", "--model", "--order", "--min", "--max", "--iorder", "--risk", "--tcov", "--plottcov",
        "--exposure", "--weight", "--dropout", "--dcov", "--exempt", "--omodel", "--ovar", "--refgroup", "--start",
        "--if", "--trace", "--debug", "--novar", "--var2", "--indep2", "--model2", "--order2", "--min2", "--max2",
        "--iorder2", "--risk2", "--tcov2", "--exposure2", "--refgroup2", "--var3", "--indep3", "--model3", "--order3",
        "--min3", "--max3", "--iorder3", "--multgroups", "--rorder", "--out", "--id"}) {
    const auto at = fit.out.find(std::string("  ") + option + " ");
    ASSERT_NE(at, std::string::npos) << option;
    const std::string line = fit.out.substr(at, fit.out.find('\n', at) - at);
    if (std::string(option) != "--trace" && std::string(option) != "--debug" && std::string(option) != "--novar") {
      EXPECT_NE(line.find("e.g. " + std::string(option)), std::string::npos) << line;
    }
  }
  EXPECT_NE(fit.out.find("Examples:"), std::string::npos);
  EXPECT_EQ(runKurv({"simulate", "--help"}).code, 0);
  EXPECT_EQ(runKurv({}).code, 2);  // a subcommand is required
}
