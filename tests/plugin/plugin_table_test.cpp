// The plug-in as the host reaches it: the built kurv.plugin is loaded with
// dlopen and driven through a service table laid out independently here, slot
// by slot as the published table describes it (53 members of 8 bytes on a
// 64-bit platform; member 19 an int, member 24 a double, the others pointers).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <new>

#include "support/run_builder.h"

namespace {

kurv::testing::MemoryHost host;  // what the services read and record
bool throwInNobs = false;

union Slot {
  void* fn;
  int i;
  double d;
};
static_assert(sizeof(Slot) == 8);

template <typename R, typename... A>
void* fn(R (*f)(A...)) { void* p; std::memcpy(&p, &f, sizeof p); return p; }

std::vector<Slot> makeTable() {
  std::vector<Slot> t(53, Slot{nullptr});
  t[0].fn = fn(+[](char* s) { return host.display(s), 0; });                             // 1 spoutsml
  t[10].fn = fn(+[](char* n, char* s) { return host.macroSave(n, s); });                  // 11 macresave
  t[11].fn = fn(+[](char* n, char* b, int c) { return host.macroUse(n, b, c), 0; });      // 12 macuse
  t[18].i = 400;                                                                         // 19 matsize
  t[21].fn = fn(+[]() { return throwInNobs ? throw std::bad_alloc() : host.observationCount(); });  // 22 nobs
  t[23].d = kurv::testing::kHostMissing;                                                 // 24 missval
  t[24].fn = fn(+[](double x) -> unsigned char { return host.isMissing(x); });           // 25 ismissing
  t[36].fn = fn(+[](int v, int o, double x) { return host.storeVariable(v, o, x); });    // 37 safestore
  t[38].fn = fn(+[](int) -> unsigned char { return 1; });                                // 39 selobs
  t[42].fn = fn(+[](char* s) { return host.error(s), 0; });                              // 43 spouterr
  t[43].fn = fn(+[](char* n, int r, int c, double* x) { return host.matrixElement(n, r, c, x); });  // 44 safematel
  t[44].fn = fn(+[](char*, int, int, double) { return 0; });                             // 45 safematstore
  t[47].fn = fn(+[](int v, int o, double* x) { return host.readVariable(v, o, x); });    // 48 safevdata
  return t;
}

TEST(PluginTable, FitsRefusesBadInputAndReportsMemoryExhaustion) {
  void* handle = dlopen(KURV_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(handle, nullptr) << dlerror();
  auto pginit = reinterpret_cast<int (*)(void*)>(dlsym(handle, "pginit"));
  auto call = reinterpret_cast<int (*)(int, char**)>(dlsym(handle, "stata_call"));
  ASSERT_TRUE(pginit != nullptr && call != nullptr);
  std::vector<Slot> table = makeTable();
  EXPECT_EQ(pginit(table.data()), 2);  // interface version 2
  // The 39 arguments: one group of model 1 on two periods, open censoring bounds.
  auto run = [&](const char* startValues) {
    auto a = kurv::testing::defaultArgs();
    kurv::testing::setArg(a, 2, "2");
    kurv::testing::setArg(a, 35, startValues);
    std::vector<char*> argv;
    for (auto& s : a) argv.push_back(s.data());
    host.errors.clear();
    return call(39, argv.data());
  };

  // y1 y2 t1 t2 of three subjects, the third without any measurement.
  const double miss = kurv::testing::kHostMissing;
  host.data = {{1, 2, 0, 1}, {2, miss, 0, 1}, {miss, miss, 0, 1}};
  host.setRowVector("kurv_mat_order1", {1});
  EXPECT_EQ(run("0"), 0) << host.errors;
  EXPECT_EQ(host.value(5, 1), 1.0);  // most likely group, after the input variables
  EXPECT_NE(host.displayed.find("3 observations read.\n1 had no trajectory data.\n2 observations used in "
                                "trajectory model.\n \n \n\t\t\tMaximum Likelihood Estimates"), std::string::npos)
      << host.displayed;

  EXPECT_EQ(run("4"), 198);
  EXPECT_EQ(host.errors, "Incorrect number of start values, the correct number is 3.\n");
  // A service that throws: no exception crosses into the host.
  throwInNobs = true;
  EXPECT_EQ(run("0"), 198);
  throwInNobs = false;
  EXPECT_EQ(host.errors, "Not enough memory for this model.\n");
  dlclose(handle);
}

}  // namespace
