// The plug-in as the host reaches it: the built kurv.plugin is loaded with
// dlopen and driven through a service table laid out independently here, slot
// by slot as the published table describes it (53 members of 8 bytes on a
// 64-bit platform; member 19 an int, member 24 a double, member 29 a pointer).

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <new>
#include <string>
#include <vector>

namespace {

constexpr double kMissing = 8.98846567431158e307;

// The host's side: a tiny data set and the services' records.
struct FakeHost {
  std::vector<std::vector<double>> data;
  std::map<std::string, std::vector<double>> matrices;  // row vectors
  std::map<std::string, std::string> macros;
  std::string displayed, errors;
  std::map<std::pair<int, int>, double> stored;
};
FakeHost* g_host = nullptr;

extern "C" {
int svDisplay(char* s) { g_host->displayed += s; return 0; }
int svError(char* s) { g_host->errors += s; return 0; }
int svMacroSave(char* n, char* t) { g_host->macros[n] = t; return 0; }
int svMacroUse(char* n, char* buf, int cap) {
  std::string t = g_host->macros.count(n) ? g_host->macros[n] : "";
  std::snprintf(buf, static_cast<std::size_t>(cap), "%s", t.c_str());
  return 0;
}
bool g_throwInNobs = false;
int svNobs() {
  if (g_throwInNobs) throw std::bad_alloc();
  return static_cast<int>(g_host->data.size());
}
unsigned char svIsMissing(double x) { return x >= kMissing; }
unsigned char svSelObs(int) { return 1; }
int svVdata(int var, int obs, double* out) {
  if (obs < 1 || obs > svNobs() || var < 1 || var > static_cast<int>(g_host->data[obs - 1].size())) return 1;
  *out = g_host->data[obs - 1][var - 1];
  return 0;
}
int svStore(int var, int obs, double v) { g_host->stored[{var, obs}] = v; return 0; }
int svMatEl(char* name, int row, int col, double* out) {
  auto it = g_host->matrices.find(name);
  if (it == g_host->matrices.end() || row != 1 || col < 1 || col > static_cast<int>(it->second.size())) return 1;
  *out = it->second[col - 1];
  return 0;
}
int svMatStore(char*, int, int, double) { return 0; }
}

union Slot {
  void* fn;
  int i;
  double d;
  int* p;
};
static_assert(sizeof(Slot) == 8);

template <typename F>
void* fn(F f) {
  void* p;
  std::memcpy(&p, &f, sizeof p);
  return p;
}

std::vector<Slot> makeTable() {
  std::vector<Slot> t(53);
  for (auto& s : t) s.fn = nullptr;
  t[0].fn = fn(&svDisplay);       // 1 spoutsml
  t[10].fn = fn(&svMacroSave);    // 11 macresave
  t[11].fn = fn(&svMacroUse);     // 12 macuse
  t[18].i = 400;                  // 19 matsize (int)
  t[21].fn = fn(&svNobs);         // 22 nobs
  t[23].d = kMissing;             // 24 missval (double)
  t[24].fn = fn(&svIsMissing);    // 25 ismissing
  t[36].fn = fn(&svStore);        // 37 safestore
  t[38].fn = fn(&svSelObs);       // 39 selobs
  t[42].fn = fn(&svError);        // 43 spouterr
  t[43].fn = fn(&svMatEl);        // 44 safematel
  t[44].fn = fn(&svMatStore);     // 45 safematstore
  t[47].fn = fn(&svVdata);        // 48 safevdata
  return t;
}

class PluginTable : public ::testing::Test {
 protected:
  void SetUp() override {
    handle_ = dlopen(KURV_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle_, nullptr) << dlerror();
    pginit_ = reinterpret_cast<int (*)(void*)>(dlsym(handle_, "pginit"));
    call_ = reinterpret_cast<int (*)(int, char**)>(dlsym(handle_, "stata_call"));
    ASSERT_NE(pginit_, nullptr);
    ASSERT_NE(call_, nullptr);
    g_host = &host_;
    table_ = makeTable();
  }
  void TearDown() override {
    if (handle_) dlclose(handle_);
    g_host = nullptr;
  }
  int call(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    return call_(static_cast<int>(argv.size()), argv.data());
  }
  static std::vector<std::string> args(const char* model, const char* periods, const char* groups) {
    std::vector<std::string> a(39, "0");
    a[0] = model;
    a[1] = periods;
    a[7] = groups;
    a[8] = "-1e300";
    a[9] = "1e300";
    a[15] = a[17] = a[27] = "none";
    return a;
  }

  void* handle_ = nullptr;
  int (*pginit_)(void*) = nullptr;
  int (*call_)(int, char**) = nullptr;
  FakeHost host_;
  std::vector<Slot> table_;
};

TEST_F(PluginTable, AnswersInterfaceVersionTwo) { EXPECT_EQ(pginit_(table_.data()), 2); }

TEST_F(PluginTable, FitsWithTheReportLinesAndResults) {
  ASSERT_EQ(pginit_(table_.data()), 2);
  host_.data = {{1, 2, 0, 1}, {2, kMissing, 0, 1}, {kMissing, kMissing, 0, 1}};
  host_.matrices["kurv_mat_order1"] = {1};
  EXPECT_EQ(call(args("cnorm", "2", "1")), 0) << host_.errors;
  EXPECT_TRUE(host_.errors.empty());
  // Most likely group (1) of each subject, stored after the input variables.
  EXPECT_EQ((host_.stored[{5, 1}]), 1.0);
  EXPECT_NE(host_.displayed.find("Maximum Likelihood Estimates"), std::string::npos);
  EXPECT_NE(host_.displayed.find(" \n3 observations read.\n1 had no trajectory data.\n"
                                 "2 observations used in trajectory model.\n \n"),
            std::string::npos)
      << host_.displayed;
}

TEST_F(PluginTable, InputErrorsReachTheHostWith198) {
  ASSERT_EQ(pginit_(table_.data()), 2);
  host_.data = {{1, 0}};
  host_.matrices["kurv_mat_order1"] = {0};
  auto a = args("cnorm", "1", "1");
  a[34] = "4";
  EXPECT_EQ(call(a), 198);
  EXPECT_EQ(host_.errors, "Incorrect number of start values, the correct number is 2.\n");
  host_.errors.clear();
  EXPECT_EQ(call(args("gamma", "1", "1")), 198);
  EXPECT_NE(host_.errors.find("cnorm, logit, zip or poisson"), std::string::npos);
  host_.errors.clear();
  EXPECT_EQ(call(args("cnorm", "1", "-3")), 198);
  EXPECT_FALSE(host_.errors.empty());
}

}  // namespace

namespace {
TEST_F(PluginTable, MemoryExhaustionEndsTheRunWith198) {
  ASSERT_EQ(pginit_(table_.data()), 2);
  host_.data = {{1, 0}};
  host_.matrices["kurv_mat_order1"] = {0};
  g_throwInNobs = true;
  const int rc = call(args("cnorm", "1", "1"));
  g_throwInNobs = false;
  EXPECT_EQ(rc, 198);
  EXPECT_EQ(host_.errors, "Not enough memory for this model.\n");
}
}  // namespace
