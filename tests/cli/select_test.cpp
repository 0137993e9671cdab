// `kurv select`: the number of groups of well-separated simulated data, the
// files it writes (the best model's the same as `kurv fit` makes), the same
// files from the same command, the reasons given, and its user errors.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli/csv_reader.h"
#include "cli/select_command.h"
#include "cli/user_error.h"
#include "cli_support.h"

using namespace kurv::cli;
using namespace kurv::cli::testing;
using nlohmann::json;

namespace {

const std::string kModel = " --var y1-y6 --indep t1-t6 --model cnorm --min 0 --max 60";

// Three well-separated groups (the shape of the bundled example), in both formats.
void simulateThreeGroups(const TempDir& dir) {
  for (const char* ext : {"csv", "dta"})
    ASSERT_EQ(runKurv(std::string("simulate --model cnorm --groups 30:5,0.5 45:10,4 25:30,6,-0.8 --times 1 2 3 4 5 6 "
                                  "--sigma 4 --min 0 --max 60 --missing 0.05 --n 300 --seed 11 --out @d.") + ext, &dir).code, 0);
}

std::size_t fileCount(const std::string& folder) {
  using std::filesystem::recursive_directory_iterator;
  return static_cast<std::size_t>(std::distance(recursive_directory_iterator(folder), recursive_directory_iterator()));
}

}  // namespace

TEST(Select, RecommendsThreeGroupsForThreeSeparatedGroupsAndWritesTheBestFit) {
  TempDir dir;
  simulateThreeGroups(dir);
  const std::string command = "select @d.csv" + kModel + " --groups 1-5 --order 2 --starts 3 --seed 2 --id id --out @sel";
  const CliRun run = runKurv(command, &dir);
  ASSERT_EQ(run.code, 0) << run.err;
  const json sel = json::parse(readFile(dir.file("sel/selection.json")));
  EXPECT_EQ(sel["recommended_groups"], 3);
  ASSERT_EQ(sel["models"].size(), 5u);
  // One progress line per fit with its start count, then the files.
  EXPECT_EQ(matches(run.err, "kurv: \\d groups? \\(orders [0-9 ]+\\): log-likelihood -?[0-9.]+, BIC -?[0-9.]+; \\d of 3 starts "
                             "reached the best maximum\n"), 5) << run.err;
  EXPECT_NE(run.out.find("Recommended: 3 groups (orders 2 2 2)"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("  1 group: BIC (N) "), std::string::npos) << run.out;
  double best = sel["models"][2]["bic_subjects"];
  for (const json& m : sel["models"]) {
    // Every other model has a worse BIC or fails a check it names.
    const bool recommended = m["groups"] == 3;
    EXPECT_EQ(m["recommended"], recommended);
    EXPECT_TRUE(recommended || m["bic_subjects"].get<double>() < best || !m["failures"].empty()) << m;
    EXPECT_EQ(m["adequate"], m["failures"].empty());
    EXPECT_EQ(m["orders"].size(), m["groups"].get<std::size_t>());
  }
  // The recommended model's outputs are those of kurv fit with its orders and starts.
  ASSERT_EQ(runKurv("fit @d.csv" + kModel + " --order 2 2 2 --starts 3 --seed 2 --id id --out @fit", &dir).code, 0);
  for (const char* file : {"posteriors.csv", "plot1.csv", "trajectories.svg"})
    EXPECT_EQ(readFile(dir.file("sel/best/") + file), readFile(dir.file("fit/") + file)) << file;
  json bestFit = json::parse(readFile(dir.file("sel/best/fit.json"))), fit = json::parse(readFile(dir.file("fit/fit.json")));
  EXPECT_EQ(bestFit["options"]["models"][0]["order"], json({"2", "2", "2"}));
  bestFit.erase("options"), fit.erase("options");
  EXPECT_EQ(bestFit, fit);
  // The table as a file, and the picture.
  const DataTable csv = readCsvFile(dir.file("sel/selection.csv"));
  ASSERT_EQ(csv.rowCount(), 5u);
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(csv.values[*csv.find("bic_subjects")][i], sel["models"][i]["bic_subjects"].get<double>());
    EXPECT_EQ(csv.values[*csv.find("recommended")][i], i == 2 ? 1.0 : 0.0);
  }
  const std::string svg = readFile(dir.file("sel/bic.svg"));
  EXPECT_EQ(xmlError(svg), "");
  EXPECT_EQ(matches(svg, "r=\"5\""), 5);
  EXPECT_EQ(matches(svg, ">recommended</text>"), 1);
  EXPECT_EQ(fileCount(dir.file("sel")), 3u + 1 + 4);

  // The same command gives the same files; the .dta twin the same selection.
  ASSERT_EQ(runKurv(command.substr(0, command.size() - 3) + "again", &dir).code, 0);
  for (const char* file : {"selection.json", "selection.csv", "bic.svg", "best/fit.json", "best/posteriors.csv"})
    EXPECT_EQ(readFile(dir.file("sel/") + file), readFile(dir.file("again/") + file)) << file;
  ASSERT_EQ(runKurv(std::regex_replace(command, std::regex("d\\.csv|@sel"), "$&x"), &dir).code, 1);  // no such file
  const CliRun dta = runKurv(std::regex_replace(command, std::regex("@d\\.csv(.*)@sel"), "@d.dta$1@dta"), &dir);
  ASSERT_EQ(dta.code, 0) << dta.err;
  EXPECT_EQ(std::regex_replace(readFile(dir.file("dta/selection.json")), std::regex("d\\.dta\""), "d.csv\""),
            readFile(dir.file("sel/selection.json")));
}

TEST(Select, OrderListsPerNumberOfGroups) {
  EXPECT_EQ(ordersByGroups({"3"}, 1, 2), (std::vector<std::vector<std::string>>{{"3"}, {"3", "3"}}));
  EXPECT_EQ(ordersByGroups({"2", "1 2 3"}, 2, 3), (std::vector<std::vector<std::string>>{{"2", "2"}, {"1", "2", "3"}}));
  EXPECT_THROW(ordersByGroups({"1 2"}, 3, 3), UserError);
  EXPECT_THROW(ordersByGroups({"1", "2", "3"}, 1, 2), UserError);
  EXPECT_EQ(parseGroupRange("2-5"), std::pair(2, 5));
  EXPECT_EQ(parseGroupRange("4"), std::pair(4, 4));
}

TEST(Select, RefineOrdersLowersTermsThatAreNotNeeded) {
  // Groups 1 and 2 are straight lines: fitted as cubics, their cubic and
  // quadratic terms are not needed; group 3's quadratic is.
  TempDir dir;
  simulateThreeGroups(dir);
  const CliRun run = runKurv("select @d.csv" + kModel + " --groups 3 --order 3 --refine-orders --out @sel", &dir);
  ASSERT_EQ(run.code, 0) << run.err;
  const json sel = json::parse(readFile(dir.file("sel/selection.json")));
  const json orders = sel["refined_orders"];
  ASSERT_EQ(orders.size(), 3u);
  EXPECT_TRUE(orders[0] <= "1" && orders[1] <= "1" && orders[2] == "2") << orders;
  EXPECT_GE(sel["refinement_steps"].size(), 4u);
  EXPECT_EQ(json::parse(readFile(dir.file("sel/best/fit.json")))["options"]["models"][0]["order"], orders);
  EXPECT_NE(run.out.find("Refined orders of the 3-group model: "), std::string::npos) << run.out;
}

TEST(Select, BadInputOneLineNonZeroExitNothingWritten) {
  TempDir dir;
  simulateThreeGroups(dir);
  const std::string base = "select @d.csv" + kModel + " --out @out";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {" --groups 0 --order 1", "--groups: '0' is not a number of groups from 1 to 20 or a range such as 1-6"},
      {" --groups 7-3 --order 1", "--groups: the range '7-3' runs backwards"},
      {" --groups 1-x --order 1", "--groups: '1-x' is not a number of groups"},
      {" --groups 1-3 --order 1 --starts 0", "--starts: '0' is not a whole number from 1 to 1000"},
      {" --groups 1-3 --order 1 --seed 3", "--seed needs --starts"},
      {" --groups 1-3 --order 1 2", "--order gives 2 lists but needs 1 (for every number of groups) or 3"},
      {" --groups 2-3 --order 1 6", "--order: '6' is not a whole number from -1 to 5"},
      {" --groups 1-2 --order 1 --start 1 2", "kurv select takes no --start"},
      {" --groups 1-2 --order 1 --var2 y1-y6", "kurv select chooses the groups of one trajectory model"},
      {" --groups 1-2 --order 1 --min-avepp x", "--min-avepp: 'x' is not a number"},
      {" --groups 1-2 --order 1 --bic both", "--bic: 'both' is not subjects or measurements"},
      {" --groups 1-2 --order 1 --refgroup 2", "--refgroup 2 is past the last group"},
  };
  for (const auto& [options, message] : cases) {
    const CliRun run = runKurv(base + options, &dir);
    EXPECT_EQ(run.code, 1) << options;
    EXPECT_EQ(run.err.rfind("kurv: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(message), std::string::npos) << options << "\n" << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_TRUE(run.out.empty()) << options;
  }
  const CliRun fit = runKurv("fit @d.csv" + kModel + " --order 1 --starts 0 --out @out", &dir);
  EXPECT_TRUE(fit.code == 1 && fit.err == "kurv: --starts: '0' is not a whole number from 1 to 1000\n") << fit.err;
  EXPECT_FALSE(std::filesystem::exists(dir.file("out")));
}
