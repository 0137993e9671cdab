// Coverage-guided fuzzing of whole runs: the fuzzer's bytes choose the 39
// arguments (from the values that matter to each position), a small data set
// with missing values, and the host matrices of orders, start values and plot
// covariates. Whatever they are, a run must end with 0 or 198 and never
// touch memory it does not own (scripts/fuzz.sh builds it with the sanitizers).
#include <cstdint>
#include <new>
#include <string>
#include <vector>
#include "plugin/run_command.h"
#include "support/memory_host.h"
using kurv::testing::MemoryHost;
namespace {
// A console host streams the printed text away; the in-memory host would keep
// it, and the traces of a long fit (every evaluation's parameters) run to
// gigabytes. The text is still formatted, only not kept.
struct QuietHost : MemoryHost {
  void display(const char*) override {}
  void standardOutput(const char*) override {}
};
struct Bytes {
  const uint8_t* d; size_t n; size_t i = 0;
  uint8_t next() { return i < n ? d[i++] : 0; }
};
const char* kNames[] = {"cnorm", "logit", "zip", "poisson", "none", "normal", "bad"};
}
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Bytes b{data, size};
  std::vector<std::string> args(39, "0");
  const int namePos[] = {1, 16, 18, 28};
  for (int p = 1; p <= 39; ++p) {
    bool isName = false;
    for (int q : namePos) isName |= q == p;
    const uint8_t v = b.next();
    if (isName) args[p - 1] = kNames[v % 7];
    else if (p == 9 || p == 10 || p == 24 || p == 25) args[p - 1] = std::to_string(static_cast<int>(v) - 128);
    else args[p - 1] = std::to_string(static_cast<int>(v % 8) - 1);
  }
  QuietHost host;
  const int nObs = b.next() % 6;
  const int nVars = b.next() % 24;
  for (int i = 0; i < nObs; ++i) {
    std::vector<double> row;
    for (int v = 0; v < nVars; ++v) {
      const uint8_t x = b.next();
      row.push_back(x == 255 ? kurv::testing::kHostMissing : (x % 16) * 0.5 - 1.0);
    }
    host.data.push_back(row);
  }
  const char* mats[] = {"kurv_mat_order1", "kurv_mat_order2", "kurv_mat_order3", "kurv_mat_iorder1",
                        "kurv_mat_iorder2", "kurv_mat_iorder3", "kurv_mat_dropoutorder1", "kurv_mat_rorder1",
                        "kurv_start", "kurv_plottcov1"};
  for (const char* m : mats) {
    const int len = b.next() % 8;
    std::vector<double> v;
    for (int k = 0; k < len; ++k) v.push_back(static_cast<int>(b.next() % 9) - 2);
    if (len) host.setRowVector(m, v);
  }
  std::vector<const char*> argv;
  for (auto& a : args) argv.push_back(a.c_str());
  try {
    kurv::runCommand(host, 39, argv.data());
  } catch (const std::bad_alloc&) {
  }
  return 0;
}
