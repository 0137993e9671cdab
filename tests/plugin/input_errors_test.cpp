// Every input error ends the run with its message and code 198, before the
// data are read.

#include <gtest/gtest.h>

#include <functional>

#include "support/run_builder.h"

namespace kurv {
namespace {

using testing::defaultArgs;
using testing::MemoryHost;
using testing::runWithArgs;
using testing::setArg;

struct ErrorCase {
  const char* title;
  std::function<void(std::vector<std::string>&, MemoryHost&)> setup;
  const char* message;
};

std::vector<ErrorCase> errorCases() {
  using Args = std::vector<std::string>;
  return {
      {"negative periods", [](Args& a, MemoryHost&) { setArg(a, 2, "-2"); },
       "The number of periods of model 1 (argument 2) must not be negative; -2 was given.\n"},
      {"zero groups", [](Args& a, MemoryHost&) { setArg(a, 8, "0"); },
       "Model 1 needs at least one group; 0 were given.\n"},
      {"zero periods", [](Args& a, MemoryHost&) { setArg(a, 2, "0"); },
       "Model 1 needs at least one period; 0 were given.\n"},
      {"negative start count", [](Args& a, MemoryHost&) { setArg(a, 35, "-1"); },
       "The number of start values (argument 35) must not be negative; -1 was given.\n"},
      {"unknown model", [](Args& a, MemoryHost&) { setArg(a, 1, "CNORM"); },
       "Model 1 is \"CNORM\": the trajectory model must be cnorm, logit, zip or poisson.\n"},
      {"unknown model 2",
       [](Args& a, MemoryHost& h) {
         setArg(a, 18, "probit");
         setArg(a, 19, "1");
         setArg(a, 23, "1");
         h.setRowVector("kurv_mat_order2", {0});
       },
       "Model 2 is \"probit\": the trajectory model must be cnorm, logit, zip or poisson.\n"},
      {"missing order matrix", [](Args&, MemoryHost& h) { h.matrices.erase("kurv_mat_order1"); },
       "Host matrix kurv_mat_order1 is missing or holds fewer than 1 values.\n"},
      {"short order matrix", [](Args& a, MemoryHost&) { setArg(a, 8, "3"); },
       "Host matrix kurv_mat_order1 is missing or holds fewer than 3 values.\n"},
      {"order too high", [](Args&, MemoryHost& h) { h.setRowVector("kurv_mat_order1", {6}); },
       "The polynomial order of group 1 of model 1 is 6; orders must be whole numbers from -1 to 5.\n"},
      {"order too low", [](Args&, MemoryHost& h) { h.setRowVector("kurv_mat_order1", {-2}); },
       "The polynomial order of group 1 of model 1 is -2; orders must be whole numbers from -1 to 5.\n"},
      {"inflation order",
       [](Args& a, MemoryHost& h) {
         setArg(a, 1, "zip");
         setArg(a, 11, "1");
         h.setRowVector("kurv_mat_iorder1", {9});
       },
       "The zero-inflation order 1 of model 1 is 9; orders must be whole numbers from -1 to 5.\n"},
      {"dropout order",
       [](Args& a, MemoryHost& h) {
         setArg(a, 13, "1");
         h.setRowVector("kurv_mat_dropoutorder1", {-3});
       },
       "The dropout order 1 of model 1 is -3; orders must be whole numbers from -1 to 5.\n"},
      {"inflation for cnorm",
       [](Args& a, MemoryHost& h) {
         setArg(a, 11, "1");
         h.setRowVector("kurv_mat_iorder1", {0});
       },
       "Zero-inflation orders were given for model 1, which is not a zip or poisson model.\n"},
      {"tcov not a multiple",
       [](Args& a, MemoryHost&) {
         setArg(a, 2, "3");
         setArg(a, 6, "4");
       },
       "The 4 time-varying covariate columns are not a multiple of the 3 periods of model 1.\n"},
      {"dcov not a multiple",
       [](Args& a, MemoryHost&) {
         setArg(a, 2, "2");
         setArg(a, 14, "3");
       },
       "The 3 dropout covariate columns are not a multiple of the 2 periods of model 1.\n"},
      {"exposure count",
       [](Args& a, MemoryHost&) {
         setArg(a, 2, "3");
         setArg(a, 5, "2");
       },
       "Model 1 has 2 exposure columns; give none or one per period (3).\n"},
      {"plot covariates",
       [](Args& a, MemoryHost&) { setArg(a, 7, "2"); },
       "2 plot covariate values were given but model 1 has only 0 covariate columns.\n"},
      {"inflation order count",
       [](Args& a, MemoryHost& h) {
         setArg(a, 1, "zip");
         setArg(a, 8, "3");
         setArg(a, 11, "2");
         h.setRowVector("kurv_mat_order1", {0, 0, 0});
         h.setRowVector("kurv_mat_iorder1", {0, 0});
       },
       "2 zero-inflation orders were given for the 3 groups of model 1; give one shared order or one per group.\n"},
      {"reference group",
       [](Args& a, MemoryHost&) { setArg(a, 17, "2"); },
       "The reference group 2 does not exist: model 1 has 1 groups.\n"},
      {"third model without mult",
       [](Args& a, MemoryHost&) { setArg(a, 28, "cnorm"); },
       "A third trajectory model is only possible in a multi-trajectory run.\n"},
      {"mult with one component", [](Args& a, MemoryHost&) { setArg(a, 34, "1"); },
       "A multi-trajectory model needs at least two components.\n"},
      {"mult groups differ",
       [](Args& a, MemoryHost& h) {
         setArg(a, 34, "1");
         setArg(a, 18, "cnorm");
         setArg(a, 19, "1");
         setArg(a, 23, "2");
         h.setRowVector("kurv_mat_order2", {0, 0});
       },
       "The components of a multi-trajectory model must have the same number of groups: model 1 has 1, "
       "model 2 has 2.\n"},
      {"outcome model name",
       [](Args& a, MemoryHost& h) {
         setArg(a, 16, "probit");
         for (auto& row : h.data) row.push_back(1.0);
       },
       "OMODEL is not CNORM, ZIP, POISSON, LOGIT or NORMAL.\n"},
      {"periods beyond the data", [](Args& a, MemoryHost&) { setArg(a, 2, "100000000"); },
       "The data hold fewer than the 200000000 variables the arguments describe.\n"},
      {"start value count", [](Args& a, MemoryHost&) { setArg(a, 35, "3"); },
       "Incorrect number of start values, the correct number is 2.\n"},
      {"start matrix short",
       [](Args& a, MemoryHost& h) {
         setArg(a, 35, "2");
         h.setRowVector("kurv_start", {1});
       },
       "Host matrix kurv_start is missing or holds fewer than 2 values.\n"},
      {"no trajectory data",
       [](Args&, MemoryHost& h) {
         for (auto& row : h.data) row[0] = testing::kHostMissing;
       },
       "No observations with trajectory data.\n"},
  };
}

TEST(InputErrors, EachHasItsMessageAndCode198) {
  for (const ErrorCase& c : errorCases()) {
    MemoryHost host;
    host.data = {{1.0, 0.0}, {2.0, 1.0}};
    host.setRowVector("kurv_mat_order1", {0});
    auto args = defaultArgs();
    c.setup(args, host);
    EXPECT_EQ(runWithArgs(host, args), 198) << c.title;
    EXPECT_EQ(host.errors, c.message) << c.title;
    EXPECT_TRUE(host.matrices.count("parmData") == 0) << c.title;
  }
}

// A host that claims far more observations than memory can describe.
class HugeHost : public MemoryHost {
 public:
  int observationCount() override { return 2000000000; }
};

TEST(InputErrors, RunTooLargeForMemoryIsRefusedBeforeAllocation) {
  HugeHost host;
  host.data = {std::vector<double>(400, 1.0)};
  host.setRowVector("kurv_mat_order1", std::vector<double>(50, 5.0));
  auto args = defaultArgs();
  setArg(args, 2, "200");
  setArg(args, 8, "50");
  EXPECT_EQ(runWithArgs(host, args), 198);
  EXPECT_EQ(host.errors, "Not enough memory for this model.\n");
}

TEST(InputErrors, ErrorsComeBeforeTheDataAreRead) {
  MemoryHost host;
  host.data = {{1.0, 0.0}};
  host.setRowVector("kurv_mat_order1", {0});
  auto args = defaultArgs();
  setArg(args, 35, "5");
  EXPECT_EQ(runWithArgs(host, args), 198);
  EXPECT_EQ(host.displayed.find("observations read"), std::string::npos);
}

}  // namespace
}  // namespace kurv
