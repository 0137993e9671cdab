// `kurv fit` and `kurv simulate` options: what each fit option becomes among
// the engine's 39 arguments, host matrices, macros and variables, and every
// user error with its message and exit status.
#include <gtest/gtest.h>

#include "cli/csv_reader.h"
#include "cli/engine_call.h"
#include "cli_support.h"

using namespace kurv::cli;
using namespace kurv::cli::testing;

namespace {

const std::string kTable =
    "id,y1,y2,y3,t1,t2,t3,r1,r2,w,e1,e2,e3,x1,x2,x3,x4,x5,x6,o,d1,d2,d3,ex,c1,c2,c3,u1,u2,u3,"
    "s1,s2,s3,v1,v2,v3,sel,zero,name,q1,q2,q3\n"
    "1,0,1,1,1,2,3,0,1,1,1,1,1,0,0,0,1,1,1,0,0,0,0,0,0,1,0,1,2,3,0,0,0,0,1,1,1,0,ann,0,1,-1\n"
    "2,1,1,0,1,2,3,1,0,2,1,2,1,1,1,1,0,0,0,1,0,1,0,1,1,1,1,1,2,3,1,1,1,1,0,0,0,0,bob,2,0,0\n";
const std::string kBase = " --var y1-y3 --indep t1-t3 --order 1 2";
const std::string kCnorm = " --model cnorm --min 0 --max 10";
const std::string kMult = " --multgroups 2 --var2 c1-c3 --indep2 u1-u3 --order2 1 1 --var3 v1-v3 --indep3 s1-s3";

struct Mapping {
  std::string options;                                  // after kBase
  std::map<int, std::string> args;                      // 1-based position -> text, where not the base's
  std::map<std::string, std::vector<double>> matrices;  // besides kurv_mat_order1 = {1, 2}
  std::map<std::string, std::string> macros;
  std::string variables;  // after "y1 y2 y3 t1 t2 t3"
};

// Each option at least once; rows combine options that do not interact.
const std::vector<Mapping> kMappings = {
    {" --model cnorm --min 0.1 --max 1e3 --risk r1 r2 --weight w --tcov x1-x6 --plottcov 0 0 0 1 1 1.5 --rorder 1 "
     "--dropout 0 1 --dcov d1-d3 --exempt ex --omodel logit --ovar o --refgroup 2 --start 1 -2 3.5 --trace --debug "
     "--novar --if sel --id name --out results",
     {{3, "2"}, {4, "1"}, {6, "6"}, {7, "6"}, {9, "0.10000000000000001"}, {10, "1000"}, {12, "1"}, {13, "2"},
      {14, "3"}, {15, "1"}, {16, "logit"}, {17, "2"}, {35, "3"}, {36, "1"}, {37, "1"}, {38, "1"}},
     {{"kurv_plottcov1", {0, 0, 0, 1, 1, 1.5}}, {"kurv_mat_rorder1", {1}}, {"kurv_mat_dropoutorder1", {0, 1}},
      {"kurv_start", {1, -2, 3.5}}},
     {{"_risk1", "r1 r2"}, {"_tcov1", "x1 x2 x3 x4 x5 x6"}, {"_dcov1", "d1 d2 d3"}},
     "r1 r2 w x1 x2 x3 x4 x5 x6 o d1 d2 d3 ex"},
    {" --model zip --weight w --exposure e1-e3 --tcov x1-x3 --iorder 0 -1",
     {{1, "zip"}, {4, "1"}, {5, "3"}, {6, "3"}, {10, "0"}, {11, "2"}}, {{"kurv_mat_iorder1", {0, -1}}},
     {{"_tcov1", "x1 x2 x3"}}, "w e1 e2 e3 x1 x2 x3"},
    {" --model poisson", {{1, "poisson"}, {10, "0"}}, {}, {}, ""},
    {" --model logit", {{1, "logit"}, {10, "0"}}, {}, {}, ""},
    {kCnorm + " --var2 c1-c3 --indep2 u1-u3 --model2 cnorm --order2 1 --min2 -1 --max2 5 --risk2 r2 --tcov2 s1-s3",
     {{18, "cnorm"}, {19, "3"}, {20, "1"}, {22, "3"}, {23, "1"}, {24, "-1"}, {25, "5"}}, {{"kurv_mat_order2", {1}}},
     {{"_risk2", "r2"}}, "c1 c2 c3 u1 u2 u3 r2 s1 s2 s3"},
    {kCnorm + " --var2 c1-c3 --indep2 u1-u3 --model2 zip --order2 1 1 --iorder2 0 1 --exposure2 e1-e3 --tcov2 s1-s3 "
              "--refgroup2 2",
     {{18, "zip"}, {19, "3"}, {21, "3"}, {22, "3"}, {23, "2"}, {26, "2"}, {27, "2"}},
     {{"kurv_mat_order2", {1, 1}}, {"kurv_mat_iorder2", {0, 1}}}, {}, "c1 c2 c3 u1 u2 u3 e1 e2 e3 s1 s2 s3"},
    {kCnorm + kMult + " --model2 logit --model3 cnorm --order3 2 2 --min3 0 --max3 1",
     {{18, "logit"}, {19, "3"}, {23, "2"}, {28, "cnorm"}, {29, "3"}, {30, "2"}, {31, "0"}, {32, "1"}, {34, "2"}},
     {{"kurv_mat_order2", {1, 1}}, {"kurv_mat_order3", {2, 2}}}, {}, "c1 c2 c3 u1 u2 u3 v1 v2 v3 s1 s2 s3"},
    {kCnorm + kMult + " --model2 poisson --model3 zip --order3 0 0 --iorder3 1",
     {{18, "poisson"}, {19, "3"}, {23, "2"}, {28, "zip"}, {29, "3"}, {30, "2"}, {33, "1"}, {34, "2"}},
     {{"kurv_mat_order2", {1, 1}}, {"kurv_mat_order3", {0, 0}}, {"kurv_mat_iorder3", {1}}}, {},
     "c1 c2 c3 u1 u2 u3 v1 v2 v3 s1 s2 s3"},
};

}  // namespace

TEST(OptionMapping, EachOptionReachesItsArgumentMatrixMacroAndVariables) {
  const DataTable table = parseCsv(kTable, "d.csv");
  for (const auto& row : kMappings) {
    SCOPED_TRACE(row.options);
    FitOptions options;
    std::string error;
    ASSERT_TRUE(parseFitWords(words("d.csv" + kBase + row.options), options, error)) << error;
    const EngineCall call = buildEngineCall(options, table);
    std::map<int, std::string> args = {{1, "cnorm"}, {2, "3"},    {8, "2"},     {10, "10"},
                                       {16, "none"}, {17, "1"},    {18, "none"}, {28, "none"}};
    for (const auto& [position, text] : row.args) args[position] = text;
    for (int p = 1; p <= kArgCount; ++p) EXPECT_EQ(call.args[p - 1], args.count(p) ? args[p] : "0") << "argument " << p;
    auto matrices = row.matrices;
    matrices["kurv_mat_order1"] = {1, 2};
    EXPECT_EQ(call.matrices, matrices);
    EXPECT_EQ(call.macros, row.macros);
    std::string variables;
    for (std::size_t column : call.variableColumns) variables += table.names[column] + " ";
    EXPECT_EQ(variables, "y1 y2 y3 t1 t2 t3 " + row.variables + (row.variables.empty() ? "" : " "));
  }
}

TEST(UserErrors, OneLineOnStandardErrorWithItsExitStatusAndNothingWritten) {
  // '@name' is a file of the temporary folder, '#name' a fixture; every fit
  // is given an output folder, which must not appear.
  const std::string F = "fit @d.csv" + kBase, C = kCnorm, M2 = kMult.substr(0, kMult.find(" --var3")) + " --model2 logit";
  const std::string S = "simulate --times 1 --seed 1 --out @e.csv";
  const std::vector<std::tuple<std::string, std::string, int>> cases = {
      {"fit @d.csv --var y1-y3 --indep t1-t2 --order 1" + C, "--var names 3 columns but --indep names 2", 1},
      {"fit @d.csv --var y1-y4 --indep t1-t3 --order 1" + C, "--var: unknown column 'y4' in range 'y1-y4'", 1},
      {F + C + " --id nosuch", "--id: unknown column 'nosuch'", 1},
      {"fit @d.csv --var y1-y3 --indep t1-t3 --order 1 6" + C, "--order: '6' is not a whole number from -1 to 5", 1},
      {"fit @d.csv --var y1-y3 --order 1" + C, "--var needs --indep (the time columns)", 1},
      {"fit @d.csv --var y1-y3 --indep t1-t3 --order 1 --min 0 --max 1", "--var needs --model", 1},
      {"fit @d.csv --var y1-y3 --indep t1-t3" + C, "--var needs --order", 1},
      {"fit @d.csv", "kurv fit needs --var, --indep, --model and --order", 1},
      {F + " --model cnorm --max 3", "--model cnorm needs --min and --max", 1},
      {F + " --model cnorm --min 5 --max 1", "--min 5 is not below --max 1", 1},
      {F + " --model cnorm --min a --max 1", "--min: 'a' is not a number", 1},
      {F + " --model logit --min 0 --max 1", "--min and --max are censoring bounds of --model cnorm, not logit", 1},
      {F + " --model normal", "--model: 'normal' is not cnorm, logit, zip or poisson", 1},
      {F + C + " --iorder 0", "--iorder (zero-inflation orders) needs --model zip, not cnorm", 1},
      {F + " --model zip --iorder 0 1 2", "--iorder gives 3 but needs 1 (shared) or 2", 1},
      {F + C + " --tcov x1-x4", "--tcov names 4 columns: it needs one column per period (3)", 1},
      {F + C + " --exposure e1-e3", "--exposure needs --model zip or poisson, not cnorm", 1},
      {F + " --model zip --exposure e1-e2", "--exposure names 2 columns but --var names 3", 1},
      {F + C + " --refgroup 3", "--refgroup 3 is past the last group", 1},
      {F + C + " --refgroup 0", "--refgroup: '0' is not a whole number from 1 to 1000000", 1},
      {F + C + " --dropout 0 1 2", "--dropout gives 3 but needs 1 (shared) or 2", 1},
      {F + C + " --rorder 0 0 0", "--rorder gives 3 but needs 1 (shared) or 2", 1},
      {F + " --model logit --rorder 0", "--rorder (random effects) needs --model cnorm", 1},
      {F + C + " --dcov d1-d3", "--dcov needs --dropout", 1},
      {F + C + " --dropout 0 --dcov d1-d2", "--dcov names 2 columns: it needs one column per period (3)", 1},
      {F + C + " --exempt ex", "--exempt needs --dropout", 1},
      {F + C + " --omodel logit", "--omodel needs --ovar", 1},
      {F + C + " --ovar o", "--ovar needs --omodel", 1},
      {F + C + " --omodel probit --ovar o", "--omodel: 'probit' is not normal, cnorm, logit, zip or poisson", 1},
      {F + C + " --plottcov 1", "--plottcov needs --tcov", 1},
      {F + C + " --tcov x1-x3 --plottcov 1 2 3 4", "--plottcov gives 4 values but --tcov names only 3 columns", 1},
      {F + C + " --start 1 x", "--start: 'x' is not a number", 1},
      {F + C + " --weight y1-y3", "--weight takes one column, not 'y1-y3'", 1},
      {F + C + " --weight name", "line 2: 'ann' in column 'name' is not a number (--weight needs numbers)", 1},
      {F + C + " --if zero", "--if zero selects no row", 1},
      {"fit @d.csv --var q1-q3 --indep t1-t3 --order 1 --model logit", "column 'q1', data row 2: 2 is not 0 or 1", 1},
      {"fit @d.csv --var q1-q3 --indep t1-t3 --order 1 --model zip", "column 'q3', data row 1: -1 is a negative count", 1},
      {F + C + " --risk2 r1", "--risk2 needs --var2 (the outcome columns of model 2)", 1},
      {F + C + " --var3 v1-v3 --indep3 s1-s3 --model3 logit --order3 1", "third model (--var3, --model3, ...) is only", 1},
      {F + C + " --multgroups 2", "--multgroups needs a second model", 1},
      {F + C + " --multgroups 3 --var2 c1-c3 --indep2 u1-u3 --model2 logit --order2 1 1 1", "--multgroups 3 but --order gives 2", 1},
      {F + C + M2 + " --var3 v1-v3 --indep3 s1-s3 --model3 logit --order3 1", "--multgroups 2 but --order3 gives 1", 1},
      {F + C + M2 + " --risk r1", "--risk cannot be used with --multgroups", 1},
      {F + C + M2 + " --refgroup 2", "--refgroup cannot be used with --multgroups", 1},
      {F + C + M2 + " --dropout 0", "--dropout cannot be used with --multgroups", 1},
      {"fit @head.csv" + kBase + C, "@head.csv has no data rows", 1},
      {"fit @none.csv --var y1", "cannot open @none.csv: No such file or directory", 1},
      {"fit @d.txt --var y1", "DATA must be a .csv or .dta file", 1},
      {"fit @fake.dta --var y1", "@fake.dta: not a readable Stata .dta file", 1},
      {"fit #mixed.dta --var name --indep b --model logit --order 1", "'name' is a string variable, but --var needs", 1},
      {F + C + " --bogus", "The following argument was not expected: --bogus", 2},
      {"fit --var y1", "DATA is required", 2},
      {"", "A subcommand is required", 2},
      {F + C + " --start 1 2 3", "Incorrect number of start values, the correct number is 8.", 3},
      {S + " --model probit --groups 1:0 --n 5", "--model: 'probit' is not cnorm, logit, zip or poisson", 1},
      {S + " --model logit --groups 50 --n 5", "--groups: '50' is not SHARE:b0,b1,...", 1},
      {S + " --model logit --groups 0:1 --n 5", "--groups: the share in '0:1' is not above 0", 1},
      {S + " --model logit --groups 1:1,2,3,4,5,6,7 --n 5", "needs 1 to 6 coefficients", 1},
      {S + " --model logit --groups 1:0 --n 2.5", "--n: '2.5' is not a whole number of subjects", 1},
      {S + " --model logit --groups 1:0 --n 5 --min 0", "--min and --max are censoring bounds of --model cnorm", 1},
      {S + " --model logit --groups 1:0 --n 5 --inflation 0.2", "--inflation needs --model zip", 1},
      {S + " --model logit --groups 1:0 --n 5 --missing 1", "--missing must be from 0 to below 1", 1},
      {"simulate --times 1 --seed 1 --model logit --groups 1:0 --n 5 --out @e.xlsx", "--out must name a .csv or .dta", 1},
  };
  TempDir dir;
  writeFile(dir.file("d.csv"), kTable);
  writeFile(dir.file("head.csv"), kTable.substr(0, kTable.find('\n') + 1));
  writeFile(dir.file("fake.dta"), kTable);
  for (const auto& [command, message, code] : cases) {
    const CliRun run = runKurv(command + (command.rfind("fit", 0) == 0 ? " --out @out" : ""), &dir);
    const std::string expected = std::regex_replace(message, std::regex("@"), dir.file(""));
    EXPECT_EQ(run.code, code) << command;
    EXPECT_NE(run.err.find(expected), std::string::npos) << command << "\n" << run.err;
    EXPECT_TRUE(code == 3 || run.err.rfind("kurv: ", 0) == 0) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_TRUE(code == 3 || run.out.empty()) << command;  // the engine shows its banner before refusing
  }
  EXPECT_FALSE(std::filesystem::exists(dir.file("out")) || std::filesystem::exists(dir.file("e.csv")));
}

TEST(Help, EveryFitOptionThatTakesAValueShowsAnExample) {
  const CliRun fit = runKurv("fit --help");
  EXPECT_EQ(fit.code, 0);
  std::istringstream lines(fit.out);
  int options = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("  --", 0) != 0) continue;
    const std::string option = line.substr(2, line.find(' ', 2) - 2);
    const bool flag = line[3 + option.size()] == ' ';  // --trace, --debug, --novar: no value
    EXPECT_TRUE(flag || line.find("e.g. " + option + " ") != std::string::npos) << line;
    ++options;
  }
  EXPECT_EQ(options, 45);
  EXPECT_EQ(runKurv("--help").code + runKurv("simulate --help").code, 0);
}
