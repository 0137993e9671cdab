#pragma once
// Hand-built run records for the report tests: a fitted single-trajectory
// model with parameters, standard errors and covariance as the driver leaves
// them before the results are printed.

#include <cmath>
#include <string>
#include <vector>

#include "core/model_context.h"
#include "support/memory_host.h"

namespace kurv::testing {

// Splits displayed text into lines (each keeps its "\n").
inline std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start + 1));
    start = end + 1;
  }
  return lines;
}

// Splits a blank-separated name list.
inline std::vector<std::string> splitNames(const std::string& text) {
  std::vector<std::string> names;
  std::string word;
  for (char c : text) {
    if (c == ' ') {
      if (!word.empty()) names.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) names.push_back(word);
  return names;
}

// Sets the parameters and a covariance with the given standard errors on
// its diagonal (and zeros elsewhere).
inline void setFit(ModelContext& ctx, std::vector<double> params, std::vector<double> se) {
  ctx.nParams = static_cast<int>(params.size());
  ctx.params = std::move(params);
  ctx.stdErrors = std::move(se);
  const std::size_t n = ctx.params.size();
  ctx.covariance.assign(n * n, 0.0);
  for (std::size_t k = 0; k < n; ++k) ctx.covariance[k * n + k] = ctx.stdErrors[k] * ctx.stdErrors[k];
}

// A hand-built model 1 of the given kind with one group per order.
inline ModelContext handBuiltModel(MemoryHost& host, int kind, std::vector<double> orders) {
  ModelContext ctx;
  ctx.host = &host;
  ctx.modelKind[0] = kind;
  ctx.nGroups[0] = static_cast<int>(orders.size());
  ctx.polyOrder[0] = std::move(orders);
  return ctx;
}

// Two-group CNORM model, linear and quadratic trajectories, no risk factors:
// parameters interc1 linear1 interc2 linear2 quadra2 log(sigma) theta2.
inline ModelContext twoGroupCnorm(MemoryHost& host) {
  ModelContext ctx;
  ctx.host = &host;
  ctx.modelKind[0] = kCnorm;
  ctx.nGroups[0] = 2;
  ctx.polyOrder[0] = {1, 2};
  ctx.nPeriods[0] = 3;
  ctx.censorMin[0] = -1e10;
  ctx.censorMax[0] = 1e10;
  ctx.scaleIndex[0] = 5;
  ctx.thetaStart = 6;
  ctx.nMeasurements = 100;
  setFit(ctx, {10.0, 0.5, 20.0, -1.0, 0.05, std::log(2.0), 0.0},
         {2.0, 0.25, 2e6, 0.5, 0.025, 0.1, 0.2});
  // Correlations of the scale with an intercept and with the constant.
  const int n = ctx.nParams;
  ctx.covariance[5 * n + 0] = ctx.covariance[0 * n + 5] = 0.01;
  ctx.covariance[5 * n + 6] = ctx.covariance[6 * n + 5] = 0.003;
  return ctx;
}

}  // namespace kurv::testing
