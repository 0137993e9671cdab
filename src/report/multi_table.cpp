#include "report/multi_table.h"

#include <cmath>
#include <span>
#include <string>

#include "core/text_format.h"
#include "report/estimate_row.h"
#include "report/group_percentages.h"

namespace kurv {

namespace {


struct MultiTablePrinter {
  ModelContext& ctx;
  int i = 0;  // running parameter index

  Host& host() { return *ctx.host; }
  double stdError(int k) const {
    return k < static_cast<int>(ctx.stdErrors.size()) ? ctx.stdErrors[k] : ctx.host->missingValue();
  }
  void show(const char* text) { ctx.host->display(text); }
  void row(int group, const std::string& label, double estimate, double se) {
    printEstimateRow(*ctx.host, group, ctx.covFailCode, ctx.nMeasurements, estimate, se, label);
  }
  void plainRow(int group, const std::string& label) {
    row(group, label, ctx.params[i], stdError(i));
    ++i;
  }
  // Sigma = exp(ln sigma) with standard error sigma * se(ln sigma); its row
  // and column of the covariance are multiplied by sigma so that the matrix
  // passed on refers to sigma itself.
  void scaleRow(const std::string& label) {
    const double s = std::exp(ctx.params[i]);
    const double se = stdError(i);
    row(0, label, s, ctx.host->isMissing(se) ? se : s * se);
    const std::size_t n = static_cast<std::size_t>(ctx.nParams);
    if (ctx.covariance.size() >= n * n) {
      for (std::size_t c = 0; c < n; ++c) ctx.covariance[i * n + c] *= s;
      for (std::size_t r = 0; r < n; ++r) ctx.covariance[r * n + i] *= s;
    }
    ++i;
  }
};

void printComponent(MultiTablePrinter& tp, int m) {
  const ModelContext& ctx = tp.ctx;
  tp.show(kBlank);
  tp.show("\t\t\tMaximum Likelihood Estimates\n");
  const int kind = ctx.modelKind[m];
  if (kind == kZip) tp.show("\t\t\tModel: Zero Inflated Poisson (ZIP)\n");
  if (kind == kCnorm) tp.show("\t\t\tModel: Censored Normal (CNORM)\n");
  if (kind == kLogit) tp.show("\t\t\tModel: Logistic (LOGIT)\n");
  printColumnHeadings(tp.host(), ctx);

  for (int g = 0; g < ctx.nGroups[m]; ++g) {
    const int order = static_cast<int>(ctx.polyOrder[m][g]);
    for (int p = 0; p <= order && p <= kMaxPolyOrder; ++p) tp.plainRow(p == 0 ? g + 1 : 0, kCoefficientLabels[p]);
    // Time-varying covariates follow the group's polynomial, labelled with
    // the covariate's name (model 1) or its number in the component.
    for (int c = 0; order >= 0 && c < ctx.tcovPerPeriod[m]; ++c) {
      const std::size_t column = static_cast<std::size_t>(c) * ctx.nPeriods[m];
      const std::string label = m == 0 && column < ctx.tcovNames.size() ? ctx.tcovNames[column]
                                                                          : formatText("m%dtcov%d", m + 1, c + 1);
      tp.plainRow(0, label);
    }
    tp.show(kBlank);
  }
  if (kind == kCnorm) tp.scaleRow("Sigma       ");
  if (kind == kZip && ctx.nInflOrder[m] > 0) {
    const bool shared = ctx.singleInflOrder[m] != 0;
    const int blocks = shared ? 1 : ctx.nInflOrder[m];
    for (int b = 1; b <= blocks; ++b) {
      const int order = static_cast<int>(ctx.inflOrder[m][b - 1]);
      if (order == -1) continue;
      tp.plainRow(shared ? 0 : b, "Alpha0      ");
      for (int p = 1; p <= order; ++p) tp.plainRow(0, formatText("Alpha%d      ", p));
      tp.show(kBlank);
    }
  }
}

}  // namespace

void printMultiEstimatesTable(ModelContext& ctx) {
  MultiTablePrinter tp{ctx};
  for (int m = 0; m < ctx.nModels; ++m) printComponent(tp, m);

  const int G = ctx.nGroups[0];
  const double missing = ctx.host->missingValue();
  ctx.groupPct.assign(static_cast<std::size_t>(std::max(G, 1)), missing);
  ctx.groupPctSe.assign(ctx.groupPct.size(), missing);
  tp.show(kBlank);
  tp.show("  Group membership\n");
  tp.show(kBlank);
  const int first = ctx.multThetaStart;
  const bool withSe =
      ctx.covFailCode == 0 && ctx.covariance.size() >= static_cast<std::size_t>(ctx.nParams) * ctx.nParams;
  groupPercentages(std::span<double>(ctx.params).subspan(first, G - 1), 0, withSe ? ctx.covariance.data() : nullptr,
                   ctx.nParams, first, missing, std::span<double>(ctx.groupPct).first(G),
                   std::span<double>(ctx.groupPctSe).first(G));
  const std::string label = formatText("(%%)         ");
  for (int g = 0; g < G; ++g) tp.row(g + 1, label, ctx.groupPct[g], ctx.groupPctSe[g]);
  tp.show(kBlank);

  ctx.outVarsText = ctx.layout.nameList();
  ctx.host->macroSave("_outvars", ctx.outVarsText.c_str());
}

}  // namespace kurv
