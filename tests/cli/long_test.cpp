// Long-format data (`--long ID`): the same results as the wide twin of the
// same data, and the reshaping of ragged subjects. The errors of identifiers
// and subject-level columns are in fixtures/cli/user_errors.txt.
#include <gtest/gtest.h>

#include "cli/csv_reader.h"
#include "cli/long_format.h"
#include "cli_support.h"

namespace {

// The long twin of a wide table with columns id, y1..y5, t1..t5, r, x1..x5:
// one row per subject and period (missing outcomes kept, so that periods
// align), the periods of each subject written in a scrambled order, and the
// subjects interleaved, so that only the sort by time restores them.
std::string longTwin(const DataTable& wide) {
  std::string out = "subject,y,t,r,x\n";
  const int order[5] = {3, 0, 4, 2, 1};
  for (int p : order)
    for (std::size_t i = 0; i < wide.rowCount(); ++i) {
      auto cell = [&](const std::string& name) { return wide.text[*wide.find(name)][i]; };
      const std::string j = std::to_string(p + 1);
      out += cell("id") + "," + cell("y" + j) + "," + cell("t" + j) + "," + cell("r") + "," + cell("x" + j) + "\n";
    }
  return out;
}

// fit.json without the options echo and the parameter names (a covariate is
// named by its first column: x1 in the wide file, x in the long one).
json withoutOptionsAndNames(json fit) {
  fit.erase("options");
  for (json& row : fit["estimates"]) row.erase("name");
  return fit;
}

}  // namespace

TEST(LongFormat, GivesTheSameFitAsItsWideTwin) {
  // small_cov.csv: id, y1-y5 (some missing), t1-t5, a risk factor r and a
  // time-varying covariate x1-x5.
  TempDir dir;
  { std::ofstream(dir.file("l.csv")) << longTwin(readCsvFile(fixture("small_cov.csv"))); }
  const std::string model = " --model cnorm --order 1 1 --min 0 --max 30 --risk r --starts 2";
  const CliRun w = runKurv("fit #small_cov.csv --var y1-y5 --indep t1-t5 --tcov x1-x5 --id id" + model + " --out @wide", &dir);
  const CliRun l = runKurv("fit @l.csv --long subject --var y --indep t --tcov x" + model + " --out @long", &dir);
  ASSERT_EQ(w.code + l.code, 0) << w.err << l.err;
  const json wideFit = json::parse(readFile(dir.file("wide/fit.json"))), longFit = json::parse(readFile(dir.file("long/fit.json")));
  EXPECT_EQ(withoutOptionsAndNames(wideFit), withoutOptionsAndNames(longFit));
  EXPECT_EQ(wideFit["estimates"][2]["name"].get<std::string>() + " " + longFit["estimates"][2]["name"].get<std::string>(), "x11 x1");
  EXPECT_EQ(std::regex_replace(w.out, std::regex(" x1  "), " x   "), l.out);
  EXPECT_EQ(readFile(dir.file("wide/plot1.csv")), readFile(dir.file("long/plot1.csv")));
  // posteriors.csv keeps the subject's identifier, under the --long column's name.
  EXPECT_EQ(std::regex_replace(readFile(dir.file("wide/posteriors.csv")), std::regex("^id,"), "subject,"),
            readFile(dir.file("long/posteriors.csv")));
}

TEST(LongFormat, ReshapesRaggedSubjects) {
  const DataTable table = parseCsv("id,t,y,f,x\nb,2,20,1,.\na,3,3,0,7\na,1,1,0,5\nb,1,10,1,6\na,,9,0,8\n", "l.csv");
  const FitData data =
      reshapeLong(table, fitOptions("l.csv --long id --var y --indep t --risk f --model cnorm --order 1 --min 0 --max 9"));
  EXPECT_EQ(data.table.names, words("id f y y_2 y_3 t t_2 t_3"));
  // Subjects in order of first appearance; periods by time, a missing time last.
  EXPECT_EQ(data.table.text[0], words("b a"));
  EXPECT_EQ(data.table.text[2], words("10 1"));
  EXPECT_EQ(data.table.text[3], words("20 3"));
  EXPECT_EQ(data.table.text[4][1] + "|" + data.table.text[4][0], "9|");
  EXPECT_TRUE(isMissing(data.table.values[4][0]));
  EXPECT_EQ(data.options.models[0].var, words("y y_2 y_3"));
  EXPECT_EQ(data.options.id, "id");
}
