// `kurv select`: the number of groups of well-separated simulated data, the
// files it writes (the best model's the same as `kurv fit` makes with the same
// seed) and the refinement of orders (the ranges of --groups reach the fits
// through the commands here). Its user errors are in fixtures/cli/user_errors.txt.
#include <gtest/gtest.h>

#include "cli/csv_reader.h"
#include "cli/select_command.h"
#include "cli/user_error.h"
#include "cli_support.h"

const std::string kModel = " --var y1-y6 --indep t1-t6 --model cnorm --min 0 --max 60";

TEST(Select, RecommendsThreeGroupsForThreeSeparatedGroupsWritesTheBestFitAndRefinesOrders) {
  // Three well-separated groups (the shape of the bundled example). kurv select
  // reads its data as kurv fit does (the .dta twin of a fit is in fit_test.cpp).
  TempDir dir;
  ASSERT_EQ(runKurv("simulate --model cnorm --groups 30:5,0.5 45:10,4 25:30,6,-0.8 --times 1 2 3 4 5 6 --sigma 4 "
                    "--min 0 --max 60 --missing 0.05 --n 300 --seed 11 --out @d.csv", &dir).code, 0);
  const CliRun run = runKurv("select @d.csv" + kModel + " --groups 1-5 --order 2 --starts 3 --seed 2 --id id --out @sel", &dir);
  ASSERT_EQ(run.code, 0) << run.err;
  const json sel = json::parse(readFile(dir.file("sel/selection.json")));
  EXPECT_EQ(sel["recommended_groups"], 3);
  ASSERT_EQ(sel["models"].size(), 5u);
  EXPECT_NE(run.out.find("Recommended: 3 groups (orders 2 2 2)"), std::string::npos) << run.out;
  EXPECT_EQ(matches(run.err, "kurv: \\d groups? \\(orders [0-9 ]+\\): log-likelihood -?[0-9.]+, BIC -?[0-9.]+; \\d of 3 starts "
                             "reached the best maximum\n"), 5) << run.err;  // one progress line per fit
  // Every other model has a worse BIC or fails a check it names.
  for (const json& m : sel["models"])
    EXPECT_TRUE(m["groups"] == 3 || m["bic_subjects"] < sel["models"][2]["bic_subjects"] || !m["failures"].empty()) << m;
  // The recommended model's outputs are those of kurv fit with its orders and starts.
  ASSERT_EQ(runKurv("fit @d.csv" + kModel + " --order 2 2 2 --starts 3 --seed 2 --id id --out @fit", &dir).code, 0);
  EXPECT_EQ(differingFiles(dir.file("sel/best"), dir.file("fit"), {"posteriors.csv", "plot1.csv", "trajectories.svg"}), "");
  json bestFit = json::parse(readFile(dir.file("sel/best/fit.json"))), fit = json::parse(readFile(dir.file("fit/fit.json")));
  EXPECT_EQ(bestFit["options"]["models"][0]["order"], json({"2", "2", "2"}));
  bestFit.erase("options"), fit.erase("options");
  EXPECT_EQ(bestFit, fit);
  // The table as a file, and the picture.
  const DataTable csv = readCsvFile(dir.file("sel/selection.csv"));
  ASSERT_EQ(csv.rowCount(), 5u);
  EXPECT_EQ(csv.values[*csv.find("recommended")], (std::vector<double>{0, 0, 1, 0, 0}));
  const std::string svg = readFile(dir.file("sel/bic.svg"));
  EXPECT_EQ(xmlError(svg), "");
  EXPECT_EQ(matches(svg, ">recommended</text>"), 1);

  // Refined orders: groups 1 and 2 are straight lines, so fitted as cubics
  // their cubic and quadratic terms are not needed; group 3's quadratic is.
  const CliRun refined = runKurv("select @d.csv" + kModel + " --groups 3 --order 3 --refine-orders --out @ref", &dir);
  ASSERT_EQ(refined.code, 0) << refined.err;
  const json ref = json::parse(readFile(dir.file("ref/selection.json"))), orders = ref["refined_orders"];
  ASSERT_EQ(orders.size(), 3u);
  EXPECT_TRUE(orders[0] <= "1" && orders[1] <= "1" && orders[2] == "2") << orders;
  EXPECT_GE(ref["refinement_steps"].size(), 4u);
  EXPECT_EQ(json::parse(readFile(dir.file("ref/best/fit.json")))["options"]["models"][0]["order"], orders);
  EXPECT_NE(refined.out.find("Refined orders of the 3-group model: "), std::string::npos) << refined.out;
}

TEST(Select, OrderListsPerNumberOfGroups) {
  EXPECT_EQ(ordersByGroups({"3"}, 1, 2), (std::vector<std::vector<std::string>>{{"3"}, {"3", "3"}}));
  EXPECT_EQ(ordersByGroups({"2", "1 2 3"}, 2, 3), (std::vector<std::vector<std::string>>{{"2", "2"}, {"1", "2", "3"}}));
  EXPECT_THROW(ordersByGroups({"1 2"}, 3, 3), UserError);  // the other misfits of --order are among the user errors
}
