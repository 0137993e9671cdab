// The translation of every `kurv fit` option into the engine's 39
// arguments, host matrices, macros and variable order, and the user errors
// found before the engine runs. Table-driven: each row is the words added to
// a base command and what they must change.
#include <gtest/gtest.h>

#include <map>

#include "cli/cli_app.h"
#include "cli/csv_reader.h"
#include "cli/engine_call.h"
#include "cli/fit_options.h"
#include "cli/user_error.h"

using namespace kurv::cli;

namespace {

const DataTable& table() {
  static const DataTable t = parseCsv(
      "id,y1,y2,y3,t1,t2,t3,r1,r2,w,e1,e2,e3,x1,x2,x3,x4,x5,x6,o,d1,d2,d3,ex,c1,c2,c3,u1,u2,u3,"
      "s1,s2,s3,v1,v2,v3,sel,zero,name,q1,q2,q3\n"
      "1,0,1,1,1,2,3,0,1,1,1,1,1,0,0,0,1,1,1,0,0,0,0,0,0,1,0,1,2,3,0,0,0,0,1,1,1,0,ann,0,1,-1\n"
      "2,1,1,0,1,2,3,1,0,2,1,2,1,1,1,1,0,0,0,1,0,1,0,1,1,1,1,1,2,3,1,1,1,1,0,0,0,0,bob,2,0,0\n",
      "d.csv");
  return t;
}

std::vector<std::string> words(const std::string& text) {
  std::vector<std::string> out;
  std::string w;
  for (char c : text) {
    if (c == ' ') {
      if (!w.empty()) out.push_back(w);
      w.clear();
    } else {
      w += c;
    }
  }
  if (!w.empty()) out.push_back(w);
  return out;
}

const std::string kBase = "d.csv --var y1-y3 --indep t1-t3 --order 1 2";
const std::string kCnorm = " --model cnorm --min 0 --max 10";

EngineCall callFor(const std::string& commandLine) {
  FitOptions options;
  std::string error;
  EXPECT_TRUE(parseFitWords(words(commandLine), options, error)) << error;
  return buildEngineCall(options, table());
}

std::string errorFor(const std::string& commandLine) {
  FitOptions options;
  std::string error;
  if (!parseFitWords(words(commandLine), options, error)) return "parse: " + error;
  try {
    buildEngineCall(options, table());
  } catch (const UserError& e) {
    return e.what();
  }
  return "";
}

// The arguments of the base command; a row states only what differs.
std::array<std::string, kArgCount> baseArgs() {
  std::array<std::string, kArgCount> a;
  a.fill("0");
  a[0] = "cnorm";
  a[1] = "3";
  a[7] = "2";
  a[9] = "10";
  a[15] = "none";
  a[16] = "1";
  a[17] = "none";
  a[27] = "none";
  return a;
}

struct MappingCase {
  std::string name;
  std::string options;                       // appended to kBase
  std::map<int, std::string> args;           // 1-based position -> text
  std::map<std::string, std::vector<double>> matrices;  // besides kurv_mat_order1
  std::map<std::string, std::string> macros;
  std::string extraVariables;                // after "y1 y2 y3 t1 t2 t3"
};

// Test names show the case's name, not its bytes.
void PrintTo(const MappingCase& c, std::ostream* os) { *os << c.name; }

const std::vector<MappingCase> kMappingCases = {
    {"base", kCnorm, {}, {}, {}, ""},
    {"risk", kCnorm + " --risk r1 r2", {{3, "2"}}, {}, {{"_risk1", "r1 r2"}}, "r1 r2"},
    {"weight", kCnorm + " --weight w", {{4, "1"}}, {}, {}, "w"},
    {"exposure", " --model zip --exposure e1-e3", {{1, "zip"}, {5, "3"}, {10, "0"}}, {}, {}, "e1 e2 e3"},
    {"tcov", kCnorm + " --tcov x1-x6", {{6, "6"}}, {}, {{"_tcov1", "x1 x2 x3 x4 x5 x6"}}, "x1 x2 x3 x4 x5 x6"},
    {"plottcov", kCnorm + " --tcov x1-x6 --plottcov 0 0 0 1 1 1.5", {{6, "6"}, {7, "6"}},
     {{"kurv_plottcov1", {0, 0, 0, 1, 1, 1.5}}}, {{"_tcov1", "x1 x2 x3 x4 x5 x6"}}, "x1 x2 x3 x4 x5 x6"},
    {"bounds", " --model cnorm --min -2.5 --max 1e3", {{9, "-2.5"}, {10, "1000"}}, {}, {}, ""},
    {"bounds keep every digit", " --model cnorm --min 0.1 --max 10", {{9, "0.10000000000000001"}}, {}, {}, ""},
    {"iorder", " --model zip --iorder 0", {{1, "zip"}, {10, "0"}, {11, "1"}}, {{"kurv_mat_iorder1", {0}}}, {}, ""},
    {"iorder per group", " --model zip --iorder 0 -1", {{1, "zip"}, {10, "0"}, {11, "2"}},
     {{"kurv_mat_iorder1", {0, -1}}}, {}, ""},
    {"poisson", " --model poisson", {{1, "poisson"}, {10, "0"}}, {}, {}, ""},
    {"logit", " --model logit", {{1, "logit"}, {10, "0"}}, {}, {}, ""},
    {"rorder", kCnorm + " --rorder 1", {{12, "1"}}, {{"kurv_mat_rorder1", {1}}}, {}, ""},
    {"dropout", kCnorm + " --dropout 0 1", {{13, "2"}}, {{"kurv_mat_dropoutorder1", {0, 1}}}, {}, ""},
    {"dcov", kCnorm + " --dropout 0 --dcov d1-d3", {{13, "1"}, {14, "3"}}, {{"kurv_mat_dropoutorder1", {0}}},
     {{"_dcov1", "d1 d2 d3"}}, "d1 d2 d3"},
    {"exempt", kCnorm + " --dropout 0 --exempt ex", {{13, "1"}, {15, "1"}}, {{"kurv_mat_dropoutorder1", {0}}},
     {}, "ex"},
    {"outcome", kCnorm + " --omodel logit --ovar o", {{16, "logit"}}, {}, {}, "o"},
    {"refgroup", kCnorm + " --refgroup 2", {{17, "2"}}, {}, {}, ""},
    {"start", kCnorm + " --start 1 -2 3.5", {{35, "3"}}, {{"kurv_start", {1, -2, 3.5}}}, {}, ""},
    {"trace", kCnorm + " --trace", {{36, "1"}}, {}, {}, ""},
    {"debug", kCnorm + " --debug", {{37, "1"}}, {}, {}, ""},
    {"novar", kCnorm + " --novar", {{38, "1"}}, {}, {}, ""},
    {"id and out change nothing", kCnorm + " --id name --out results", {}, {}, {}, ""},
    {"if changes no argument", kCnorm + " --if sel", {}, {}, {}, ""},
    {"every model-1 block in order",
     " --model zip --risk r2 --weight w --exposure e1-e3 --tcov x1-x3 --omodel poisson --ovar o --dropout 0 "
     "--dcov d1-d3 --exempt ex",
     {{1, "zip"}, {10, "0"}, {3, "1"}, {4, "1"}, {5, "3"}, {6, "3"}, {13, "1"}, {14, "3"}, {15, "1"}, {16, "poisson"}},
     {{"kurv_mat_dropoutorder1", {0}}},
     {{"_risk1", "r2"}, {"_tcov1", "x1 x2 x3"}, {"_dcov1", "d1 d2 d3"}},
     "r2 w e1 e2 e3 x1 x2 x3 o d1 d2 d3 ex"},
    {"joint logit", kCnorm + " --var2 c1-c3 --indep2 u1-u3 --model2 logit --order2 0 1 1",
     {{18, "logit"}, {19, "3"}, {23, "3"}}, {{"kurv_mat_order2", {0, 1, 1}}}, {}, "c1 c2 c3 u1 u2 u3"},
    {"joint cnorm with risk and covariates",
     kCnorm + " --var2 c1-c3 --indep2 u1-u3 --model2 cnorm --order2 1 --min2 -1 --max2 5 --risk2 r2 --tcov2 s1-s3",
     {{18, "cnorm"}, {19, "3"}, {20, "1"}, {22, "3"}, {23, "1"}, {24, "-1"}, {25, "5"}},
     {{"kurv_mat_order2", {1}}}, {{"_risk2", "r2"}}, "c1 c2 c3 u1 u2 u3 r2 s1 s2 s3"},
    {"joint zip with exposure, inflation and reference group",
     kCnorm + " --var2 c1-c3 --indep2 u1-u3 --model2 zip --order2 1 1 --iorder2 0 1 --exposure2 e1-e3 --refgroup2 2",
     {{18, "zip"}, {19, "3"}, {21, "3"}, {23, "2"}, {26, "2"}, {27, "2"}},
     {{"kurv_mat_order2", {1, 1}}, {"kurv_mat_iorder2", {0, 1}}}, {}, "c1 c2 c3 u1 u2 u3 e1 e2 e3"},
    {"multi-trajectory of three",
     kCnorm + " --multgroups 2 --var2 c1-c3 --indep2 u1-u3 --model2 logit --order2 1 1 --var3 v1-v3 --indep3 s1-s3 "
              "--model3 poisson --order3 0 0",
     {{18, "logit"}, {19, "3"}, {23, "2"}, {28, "poisson"}, {29, "3"}, {30, "2"}, {34, "2"}},
     {{"kurv_mat_order2", {1, 1}}, {"kurv_mat_order3", {0, 0}}}, {}, "c1 c2 c3 u1 u2 u3 v1 v2 v3 s1 s2 s3"},
    {"multi-trajectory third cnorm component",
     kCnorm + " --multgroups 2 --var2 c1-c3 --indep2 u1-u3 --model2 zip --order2 1 1 --iorder2 0 --tcov2 s1-s3 "
              "--var3 v1-v3 --indep3 s1-s3 --model3 cnorm --order3 2 2 --min3 0 --max3 1",
     {{18, "zip"}, {19, "3"}, {22, "3"}, {23, "2"}, {26, "1"}, {28, "cnorm"}, {29, "3"}, {30, "2"}, {31, "0"},
      {32, "1"}, {34, "2"}},
     {{"kurv_mat_order2", {1, 1}}, {"kurv_mat_iorder2", {0}}, {"kurv_mat_order3", {2, 2}}}, {},
     "c1 c2 c3 u1 u2 u3 s1 s2 s3 v1 v2 v3 s1 s2 s3"},
    {"multi-trajectory third zip component",
     kCnorm + " --multgroups 2 --var2 c1-c3 --indep2 u1-u3 --model2 logit --order2 1 1 --var3 v1-v3 --indep3 s1-s3 "
              "--model3 zip --order3 0 0 --iorder3 1",
     {{18, "logit"}, {19, "3"}, {23, "2"}, {28, "zip"}, {29, "3"}, {30, "2"}, {33, "1"}, {34, "2"}},
     {{"kurv_mat_order2", {1, 1}}, {"kurv_mat_order3", {0, 0}}, {"kurv_mat_iorder3", {1}}}, {},
     "c1 c2 c3 u1 u2 u3 v1 v2 v3 s1 s2 s3"},
};

class OptionMapping : public ::testing::TestWithParam<MappingCase> {};

}  // namespace

TEST_P(OptionMapping, ArgumentsMatricesMacrosAndVariables) {
  const MappingCase& c = GetParam();
  const EngineCall call = callFor(kBase + c.options);
  auto expected = baseArgs();
  for (const auto& [position, text] : c.args) expected[position - 1] = text;
  for (int p = 0; p < kArgCount; ++p) EXPECT_EQ(call.args[p], expected[p]) << "argument " << p + 1;

  auto matrices = c.matrices;
  if (!matrices.count("kurv_mat_order1")) matrices["kurv_mat_order1"] = {1, 2};
  EXPECT_EQ(call.matrices, matrices);
  EXPECT_EQ(call.macros, c.macros);

  std::string variables;
  for (std::size_t column : call.variableColumns) variables += (variables.empty() ? "" : " ") + table().names[column];
  EXPECT_EQ(variables, "y1 y2 y3 t1 t2 t3" + (c.extraVariables.empty() ? "" : " " + c.extraVariables));
}

INSTANTIATE_TEST_SUITE_P(EveryOption, OptionMapping, ::testing::ValuesIn(kMappingCases),
                         [](const ::testing::TestParamInfo<MappingCase>& info) {
                           std::string name;
                           for (char ch : info.param.name) name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                           return name;
                         });

TEST(OptionMapping, ResultShapesAndPosteriorVariables) {
  const EngineCall single = callFor(kBase + kCnorm + " --dropout 0");
  EXPECT_EQ(single.nModels, 1);
  EXPECT_EQ(single.resultShapes.at("groupPct1").columns, 2);
  EXPECT_EQ(single.resultShapes.at("outPlot1").rows, 3);
  EXPECT_EQ(single.resultShapes.at("outPlot1").columns, 1 + 4 * 2 + 2);  // dropout columns
  EXPECT_EQ(single.nPosteriorVariables, 3);

  const EngineCall joint = callFor(kBase + kCnorm + " --var2 c1-c3 --indep2 u1-u3 --model2 logit --order2 0 1 1");
  EXPECT_TRUE(joint.isJoint);
  EXPECT_EQ(joint.nModels, 2);
  EXPECT_EQ(joint.resultShapes.at("outPlot2").columns, 1 + 4 * 3);
  EXPECT_EQ(joint.nPosteriorVariables, 1 + 2 + 1 + 3);

  const EngineCall mult = callFor(kBase + kCnorm + " --multgroups 2 --var2 c1-c3 --indep2 u1-u3 --model2 logit --order2 1 1");
  EXPECT_TRUE(mult.isMult);
  EXPECT_FALSE(mult.isJoint);
  EXPECT_EQ(mult.nPosteriorVariables, 3);  // the shared groups only
}

TEST(OptionMapping, IfColumnSelectsRows) {
  // Single and joint runs hand every row to the engine with the selection
  // as the host's if-test; a multi-trajectory run, whose intake does not
  // consult the selection, is handed only the selected rows.
  const EngineCall single = callFor(kBase + kCnorm + " --if sel");
  EXPECT_EQ(single.rows, (std::vector<std::size_t>{0, 1}));
  EXPECT_EQ(single.selected, (std::vector<bool>{true, false}));
  const EngineCall mult =
      callFor(kBase + kCnorm + " --if sel --multgroups 2 --var2 c1-c3 --indep2 u1-u3 --model2 logit --order2 1 1");
  EXPECT_EQ(mult.rows, (std::vector<std::size_t>{0}));
  EXPECT_TRUE(mult.selected.empty());
}

TEST(OptionErrors, EachUserErrorIsNamed) {
  const std::string mult2 = " --multgroups 2 --var2 c1-c3 --indep2 u1-u3 --model2 logit --order2 1 1";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"d.csv --var y1-y3 --indep t1-t2 --order 1" + kCnorm,
       "--var names 3 columns but --indep names 2 (one time column per outcome column)"},
      {"d.csv --var y1-y4 --indep t1-t3 --order 1" + kCnorm, "--var: unknown column 'y4' in range 'y1-y4' (d.csv)"},
      {"d.csv --var y1-y3 --indep t1-t3 --order 1 6" + kCnorm, "--order: '6' is not a whole number from -1 to 5"},
      {"d.csv --var y1-y3 --indep t1-t3 --order 1.5" + kCnorm, "--order: '1.5' is not a whole number from -1 to 5"},
      {"d.csv --var y1-y3 --model cnorm --min 0 --max 1 --order 1", "--var needs --indep (the time columns)"},
      {"d.csv --var y1-y3 --indep t1-t3 --min 0 --max 1 --order 1", "--var needs --model (cnorm, logit, zip or poisson)"},
      {"d.csv --var y1-y3 --indep t1-t3" + kCnorm, "--var needs --order (one polynomial order per group)"},
      {kBase + " --model cnorm --max 3", "--model cnorm needs --min and --max (the censoring bounds)"},
      {kBase + " --model cnorm --min 5 --max 1", "--min 5 is not below --max 1"},
      {kBase + " --model cnorm --min a --max 1", "--min: 'a' is not a number"},
      {kBase + " --model logit --min 0 --max 1", "--min and --max are censoring bounds of --model cnorm, not logit"},
      {kBase + " --model normal", "--model: 'normal' is not cnorm, logit, zip or poisson"},
      {kBase + kCnorm + " --iorder 0", "--iorder (zero-inflation orders) needs --model zip, not cnorm"},
      {kBase + " --model poisson --iorder 0", "--iorder (zero-inflation orders) needs --model zip, not poisson"},
      {kBase + " --model zip --iorder 0 1 2",
       "wrong number of orders: --iorder gives 3 but needs 1 (shared) or 2 (one per group of --order)"},
      {kBase + kCnorm + " --tcov x1-x4", "--tcov names 4 columns: it needs one column per period (3) for each covariate"},
      {kBase + kCnorm + " --exposure e1-e3", "--exposure needs --model zip or poisson, not cnorm"},
      {kBase + " --model zip --exposure e1-e2",
       "--exposure names 2 columns but --var names 3 (one exposure per period)"},
      {kBase + kCnorm + " --refgroup 3", "--refgroup 3 is past the last group (--order gives 2 groups)"},
      {kBase + kCnorm + " --refgroup 0", "--refgroup: '0' is not a whole number from 1 to 1000000"},
      {kBase + kCnorm + " --dropout 0 1 2", "wrong number of orders: --dropout gives 3 but needs 1 (shared) or 2 (one per group)"},
      {kBase + kCnorm + " --rorder 0 0 0", "wrong number of orders: --rorder gives 3 but needs 1 (shared) or 2 (one per group)"},
      {kBase + kCnorm + " --dcov d1-d3", "--dcov needs --dropout (the dropout model)"},
      {kBase + kCnorm + " --dropout 0 --dcov d1-d2", "--dcov names 2 columns: it needs one column per period (3) for each covariate"},
      {kBase + kCnorm + " --exempt ex", "--exempt needs --dropout (the dropout model)"},
      {kBase + " --model logit --rorder 0", "--rorder (random effects) needs --model cnorm"},
      {kBase + kCnorm + " --omodel logit", "--omodel needs --ovar (the outcome column)"},
      {kBase + kCnorm + " --ovar o", "--ovar needs --omodel (its distribution)"},
      {kBase + kCnorm + " --omodel probit --ovar o", "--omodel: 'probit' is not normal, cnorm, logit, zip or poisson"},
      {kBase + kCnorm + " --plottcov 1", "--plottcov needs --tcov (the covariates it gives values for)"},
      {kBase + kCnorm + " --tcov x1-x3 --plottcov 1 2 3 4", "--plottcov gives 4 values but --tcov names only 3 columns"},
      {kBase + kCnorm + " --start 1 x", "--start: 'x' is not a number"},
      {kBase + kCnorm + " --weight name",
       "d.csv, line 2: 'ann' in column 'name' is not a number (--weight needs numbers)"},
      {kBase + kCnorm + " --weight y1-y3", "--weight takes one column, not 'y1-y3'"},
      {kBase + kCnorm + " --if zero", "--if zero selects no row"},
      {kBase + kCnorm + " --id nosuch", "--id: unknown column 'nosuch' (d.csv)"},
      {"d.csv --var q1-q3 --indep t1-t3 --order 1 --model logit",
       "d.csv: column 'q1', data row 2: 2 is not 0 or 1 (--model logit)"},
      {"d.csv --var q1-q3 --indep t1-t3 --order 1 --model zip",
       "d.csv: column 'q3', data row 1: -1 is a negative count (--model zip)"},
      {kBase + kCnorm + " --var2 c1-c3 --model2 logit --order2 1", "--var2 needs --indep2 (the time columns)"},
      {kBase + kCnorm + " --order2 1", "--order2 needs --var2 (the outcome columns of model 2)"},
      {kBase + kCnorm + " --risk2 r1", "--risk2 needs --var2 (the outcome columns of model 2)"},
      {kBase + kCnorm + " --var3 v1-v3 --indep3 s1-s3 --model3 logit --order3 1",
       "a third model (--var3, --model3, ...) is only for multi-trajectory runs: add --multgroups"},
      {kBase + kCnorm + " --multgroups 2", "--multgroups needs a second model (--var2, --indep2, --model2, --order2)"},
      {kBase + kCnorm + " --multgroups 3 --var2 c1-c3 --indep2 u1-u3 --model2 logit --order2 1 1 1",
       "wrong number of orders: --multgroups 3 but --order gives 2"},
      {kBase + kCnorm + mult2 + " --risk r1",
       "--risk cannot be used with --multgroups (the shared membership of a multi-trajectory model has no risk factors)"},
      {kBase + kCnorm + mult2 + " --dropout 0", "--dropout cannot be used with --multgroups"},
      {kBase + kCnorm + mult2 + " --omodel logit --ovar o", "--omodel cannot be used with --multgroups"},
      {kBase + kCnorm + mult2 + " --var3 v1-v3 --indep3 s1-s3 --model3 logit --order3 1 1 1",
       "wrong number of orders: --multgroups 2 but --order3 gives 3"},
      {kBase + kCnorm + " --bogus", "parse: The following argument was not expected: --bogus"},
  };
  for (const auto& [line, message] : cases) EXPECT_EQ(errorFor(line), message) << line;
}
