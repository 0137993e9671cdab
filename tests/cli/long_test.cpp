// Long-format data (`--long ID`): the same results as the wide twin of the
// same data, and the errors of identifiers and subject-level columns.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli/csv_reader.h"
#include "cli/long_format.h"
#include "cli/number_text.h"
#include "cli_support.h"

using namespace kurv::cli;
using namespace kurv::cli::testing;
using nlohmann::json;

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
  TempDir dir;
  ASSERT_EQ(runKurv("simulate --model cnorm --groups 40:5,2 60:20,-1 --times 1 2 3 4 5 --sigma 3 --min 0 --max 40 "
                    "--missing 0.1 --n 120 --seed 3 --out @s.csv", &dir).code, 0);
  // Add a risk factor and a time-varying covariate to the simulated data.
  DataTable wide = readCsvFile(dir.file("s.csv"));
  std::string text = "id,y1,y2,y3,y4,y5,t1,t2,t3,t4,t5,r,x1,x2,x3,x4,x5\n";
  for (std::size_t i = 0; i < wide.rowCount(); ++i) {
    text += wide.text[0][i];
    for (int c = 1; c <= 10; ++c) text += "," + wide.text[c][i];
    text += "," + std::to_string(i % 3 == 0);
    for (int j = 0; j < 5; ++j) text += "," + shortestText(0.1 * ((i * 7 + j * 3) % 5));
    text += "\n";
  }
  { std::ofstream(dir.file("w.csv")) << text; }
  wide = readCsvFile(dir.file("w.csv"));
  { std::ofstream(dir.file("l.csv")) << longTwin(wide); }
  const std::string model = " --model cnorm --order 1 1 --min 0 --max 40 --risk r --starts 2";
  const CliRun w = runKurv("fit @w.csv --var y1-y5 --indep t1-t5 --tcov x1-x5 --id id" + model + " --out @wide", &dir);
  const CliRun l = runKurv("fit @l.csv --long subject --var y --indep t --tcov x" + model + " --out @long", &dir);
  ASSERT_EQ(w.code + l.code, 0) << w.err << l.err;
  const json wideFit = json::parse(readFile(dir.file("wide/fit.json"))), longFit = json::parse(readFile(dir.file("long/fit.json")));
  EXPECT_EQ(withoutOptionsAndNames(wideFit), withoutOptionsAndNames(longFit));
  EXPECT_EQ(wideFit["estimates"][2]["name"].get<std::string>() + " " + longFit["estimates"][2]["name"].get<std::string>(), "x11 x1");
  EXPECT_EQ(std::regex_replace(w.out, std::regex(" x1  "), " x   "), l.out);
  for (const char* file : {"plot1.csv", "trajectories.svg"})
    EXPECT_EQ(readFile(dir.file("wide/") + file), readFile(dir.file("long/") + file)) << file;
  // posteriors.csv keeps the subject's identifier, under the --long column's name.
  const std::string widePost = readFile(dir.file("wide/posteriors.csv")), longPost = readFile(dir.file("long/posteriors.csv"));
  EXPECT_EQ(longPost.substr(0, 8), "subject,");
  EXPECT_EQ(widePost.substr(widePost.find('\n')), longPost.substr(longPost.find('\n')));
  EXPECT_EQ(json::parse(readFile(dir.file("long/fit.json")))["options"]["long"], "subject");
}

TEST(LongFormat, ReshapesRaggedSubjectsAndNamesTheColumnsThatAreNotPerSubject) {
  const DataTable table = parseCsv("id,t,y,f,x\n"
                                   "b,2,20,1,.\n"
                                   "a,3,3,0,7\n"
                                   "a,1,1,0,5\n"
                                   "b,1,10,1,6\n"
                                   "a,,9,0,8\n",
                                   "l.csv");
  FitOptions options;
  std::string error;
  ASSERT_TRUE(parseFitWords(words("l.csv --long id --var y --indep t --risk f --model cnorm --order 1 --min 0 --max 9"),
                            options, error)) << error;
  const FitData data = reshapeLong(table, options);
  EXPECT_EQ(data.table.names, words("id f y y_2 y_3 t t_2 t_3"));
  // Subjects in order of first appearance; periods by time, a missing time last.
  EXPECT_EQ(data.table.text[0], words("b a"));
  EXPECT_EQ(data.table.text[2], words("10 1"));
  EXPECT_EQ(data.table.text[3], words("20 3"));
  EXPECT_EQ(data.table.text[4][1] + "|" + data.table.text[4][0], "9|");
  EXPECT_TRUE(isMissing(data.table.values[4][0]));
  EXPECT_EQ(data.options.models[0].var, words("y y_2 y_3"));
  EXPECT_EQ(data.options.id, "id");

  TempDir dir;
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"id,t,y,f\n1,1,2,0\n1,2,3,1\n", "--long id: subject '1' has different values of 'f' (--risk needs one value per subject): '0' and '1'"},
      {"id,t,y,f\n1,1,2,0\n,2,3,0\n", "--long id: data row 2 has no subject identifier"},
      {"id,t,y,f\n1,1,2,0\nNA,2,3,0\n", "--long id: data row 2 has no subject identifier"},
  };
  for (const auto& [file, message] : cases) {
    { std::ofstream(dir.file("bad.csv")) << file; }
    const CliRun run = runKurv("fit @bad.csv --long id --var y --indep t --risk f --model cnorm --order 1 --min 0 --max 9 "
                               "--out @out", &dir);
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.err, "kurv: " + message + "\n");
    EXPECT_TRUE(run.out.empty());
    const CliRun sel = runKurv("select @bad.csv --long id --var y --indep t --risk f --model cnorm --order 1 --min 0 "
                               "--max 9 --groups 1-2 --out @out", &dir);
    EXPECT_EQ(sel.err, "kurv: " + message + "\n");
  }
  EXPECT_FALSE(std::filesystem::exists(dir.file("out")));
  { std::ofstream(dir.file("two.csv")) << "id,t,y,z\n1,1,2,3\n"; }
  EXPECT_NE(runKurv("fit @two.csv --long id --var y z --indep t --model cnorm --order 1 --min 0 --max 9", &dir)
                .err.find("--var with --long names one column (each row is one measurement), not 2"), std::string::npos);
}
