#include "report/estimates_table.h"

#include <cmath>
#include <span>
#include <string>

#include "core/text_format.h"
#include "report/estimate_row.h"
#include "report/group_percentages.h"
#include "report/joint_table.h"

namespace kurv {

namespace {


// Walks the parameter vector while printing: the running parameter index, the
// list of output names, and the row helpers that consume parameters.
struct TablePrinter {
  ModelContext& ctx;
  Host& host;
  int i = 0;  // running parameter index
  std::string names;

  double missing() const { return host.missingValue(); }
  double stdError(int k) const {
    return k < static_cast<int>(ctx.stdErrors.size()) ? ctx.stdErrors[k] : missing();
  }
  double param(int k) const {
    return k < static_cast<int>(ctx.params.size()) ? ctx.params[k] : missing();
  }
  void show(const std::string& text) { host.display(text.c_str()); }
  // The output name of the parameter at the running index, from the layout.
  void addName() {
    const auto& params = ctx.layout.params;
    names += (i < static_cast<int>(params.size()) ? params[static_cast<std::size_t>(i)].name : std::string()) + " ";
  }

  void row(int group, const std::string& label, double estimate, double se) {
    printEstimateRow(host, group, ctx.covFailCode, ctx.nMeasurements, estimate, se, label);
  }
  // A row of the parameter at the running index as it stands.
  void plainRow(int group, const std::string& label) {
    row(group, label, param(i), stdError(i));
    addName();
    ++i;
  }
  // A scale held as its logarithm: shown as s = exp(estimate) with standard
  // error s * se (delta method), and its row and column of the covariance
  // multiplied by s so that the covariance refers to s itself.
  void scaleRow(int group, const std::string& label) {
    const double s = std::exp(param(i));
    const double se = stdError(i);
    row(group, label, s, host.isMissing(se) ? se : s * se);
    rescaleCovariance(i, s);
    addName();
    ++i;
  }
  void rescaleCovariance(int k, double s) {
    const std::size_t n = static_cast<std::size_t>(ctx.nParams);
    if (ctx.covariance.size() < n * n || static_cast<std::size_t>(k) >= n) return;
    for (std::size_t c = 0; c < n; ++c) ctx.covariance[k * n + c] *= s;
    for (std::size_t r = 0; r < n; ++r) ctx.covariance[r * n + k] *= s;
  }
};

std::string nameAt(const std::vector<std::string>& list, std::size_t index) {
  return index < list.size() ? list[index] : std::string();
}

void printHeading(TablePrinter& tp) {
  const ModelContext& ctx = tp.ctx;
  tp.show(kBlank);
  tp.show("\t\t\tMaximum Likelihood Estimates\n");
  const int kind = ctx.modelKind[0];
  if (ctx.isJointModel())
    tp.show(jointModelLines(ctx));
  else if (kind == kZip)
    tp.show("\t\t\tModel: Zero Inflated Poisson (ZIP)\n");
  else if (kind == kCnorm && ctx.hasRandomEffects)
    tp.show("\t\tModel: Censored Normal (CNORM) Random Effects\n");
  else if (kind == kCnorm)
    tp.show("\t\t\tModel: Censored Normal (CNORM)\n");
  else if (kind == kLogit)
    tp.show("\t\t\tModel: Logistic (LOGIT)\n");
  printColumnHeadings(tp.host, ctx);
}

// Polynomial coefficients and time-varying covariates of each group.
void printTrajectories(TablePrinter& tp) {
  const ModelContext& ctx = tp.ctx;
  for (int g = 0; g < ctx.nGroups[0]; ++g) {
    const int order = static_cast<int>(ctx.polyOrder[0][g]);
    if (order < 0) {
      tp.show(formatText("\n %d %s %s %s %s %s", g + 1, "N/A", ".", ".", ".", "."));
    } else {
      for (int p = 0; p <= order && p <= kMaxPolyOrder; ++p)
        tp.plainRow(p == 0 ? g + 1 : 0, kCoefficientLabels[p]);
      for (int c = 0; c < ctx.tcovPerPeriod[0]; ++c) {
        tp.plainRow(0, nameAt(ctx.tcovNames, static_cast<std::size_t>(c) * ctx.nPeriods[0]));
      }
    }
    tp.show(kBlank);
  }
}

// Dropout blocks: one shared block, or one per group. A block of order -1
// has no parameters and so no rows.
void printDropout(TablePrinter& tp) {
  const ModelContext& ctx = tp.ctx;
  if (ctx.nDropoutOrder <= 0) return;
  const bool shared = ctx.nDropoutOrder == 1;
  for (int b = 1; b <= ctx.nDropoutOrder; ++b) {
    const int order = static_cast<int>(ctx.dropoutOrder[b - 1]);
    if (order != -1) {
      tp.plainRow(shared ? 0 : b, "Drop0       ");
      for (int p = 1; p <= order; ++p) tp.plainRow(0, formatText("Drop%d       ", p));
      for (int q = 0; q < ctx.dcovPerPeriod; ++q)
        tp.plainRow(0, nameAt(ctx.dcovNames, static_cast<std::size_t>(q) * ctx.nPeriods[0]));
    }
    tp.show(kBlank);
  }
}

// Random-effects scales: one shared block, or one per group; every entry is
// a log-scale shown exponentiated. A per-group block of order -1 has no
// parameters and so no rows.
void printRandomEffects(TablePrinter& tp) {
  const ModelContext& ctx = tp.ctx;
  tp.show(kBlank);
  const bool shared = ctx.nReOrder <= 1;
  const int nBlocks = ctx.nReOrder > 1 ? ctx.nReOrder : 1;
  for (int b = 1; b <= nBlocks; ++b) {
    const int order = b - 1 < static_cast<int>(ctx.reOrder.size()) ? static_cast<int>(ctx.reOrder[b - 1]) : 0;
    if (order == -1) continue;
    tp.scaleRow(shared ? 0 : b, "rSigma0     ");
    for (int p = 1; p <= order; ++p) tp.scaleRow(0, formatText("rSigma%d     ", p));
    tp.show(kBlank);
  }
}

// Zero-inflation blocks: one shared block, or one per group.
void printZeroInflation(TablePrinter& tp) {
  const ModelContext& ctx = tp.ctx;
  const bool shared = ctx.singleInflOrder[0] != 0;
  const int nBlocks = ctx.nInflOrder[0] > 1 ? ctx.nInflOrder[0] : 1;
  for (int b = 1; b <= nBlocks; ++b) {
    const int order = static_cast<int>(ctx.inflOrder[0][b - 1]);
    if (order != -1) {
      tp.plainRow(shared ? 0 : b, "Alpha0      ");
      for (int p = 1; p <= order; ++p) tp.plainRow(0, formatText("Alpha%d      ", p));
    }
    tp.show(kBlank);
  }
}

void printScaleOrInflation(TablePrinter& tp) {
  const ModelContext& ctx = tp.ctx;
  if (ctx.modelKind[0] == kCnorm) {
    tp.scaleRow(0, "Sigma       ");
    if (ctx.hasRandomEffects) printRandomEffects(tp);
  } else if (ctx.modelKind[0] == kZip && ctx.nInflOrder[0] > 0) {
    printZeroInflation(tp);
  }
}

// Group membership: percentages from the constants without risk factors,
// the multinomial-logit coefficients with them.
void printMembership(TablePrinter& tp) {
  ModelContext& ctx = tp.ctx;
  const int nGroups = ctx.nGroups[0];
  const int ref = ctx.hasRefGroup[0] ? ctx.refGroup[0] : 0;
  ctx.groupPct.assign(nGroups, tp.missing());
  ctx.groupPctSe.assign(nGroups, tp.missing());
  tp.show(kBlank);
  tp.show("  Group membership\n");
  tp.show(kBlank);

  if (ctx.nRisk[0] == 0) {
    const int first = tp.i;
    const int nConst = nGroups - 1;
    if (nConst < 0 || static_cast<std::size_t>(first + nConst) > ctx.params.size()) return;
    const bool withSe = ctx.covFailCode == 0 &&
                        ctx.covariance.size() >= static_cast<std::size_t>(ctx.nParams) * ctx.nParams;
    groupPercentages(std::span<double>(ctx.params).subspan(first, nConst), ref,
                     withSe ? ctx.covariance.data() : nullptr, ctx.nParams, first, tp.missing(),
                     ctx.groupPct, ctx.groupPctSe);
    const std::string label = formatText("(%%)         ");
    for (int g = 0; g < nGroups; ++g) {
      tp.row(g + 1, label, ctx.groupPct[g], ctx.groupPctSe[g]);
      if (g != ref) {
        tp.addName();
        ++tp.i;
      }
    }
    return;
  }

  for (int g = 1; g <= nGroups; ++g) {
    tp.show(kBlank);
    if (g - 1 == ref) {
      tp.show(formatText(" %d       Constant         (0.00000)           .               .            . \n", g));
      continue;
    }
    tp.plainRow(g, "Constant    ");
    for (int r = 0; r < ctx.nRisk[0]; ++r) tp.plainRow(0, nameAt(ctx.riskNames[0], r));
  }
}

// Outcome analysis: one constant per group with the 95% interval of the
// group's expected outcome, then the outcome model's own parameter (the
// normal outcome's scale, or the ZIP outcome's zero-inflation constant).
void printOutcomeAnalysis(TablePrinter& tp) {
  const ModelContext& ctx = tp.ctx;
  if (!ctx.hasOutcome) return;
  const int nGroups = ctx.nGroups[0];
  tp.show(kBlank);
  tp.show(formatText("Outcome analysis: %7s model\n", ctx.omodelName.c_str()));
  tp.show(kBlank);
  for (int g = 1; g <= nGroups; ++g) {
    tp.plainRow(0, formatText("GROUP%d      ", g));
    const std::size_t k = static_cast<std::size_t>(g - 1);
    if (ctx.covFailCode == 0 && k < ctx.outcomeGroupMean.size()) {
      tp.show(formatText("95%% CI (Mean): (%12.3f, %12.3f, %12.3f)\n", ctx.outcomeGroupLower[k],
                         ctx.outcomeGroupMean[k], ctx.outcomeGroupUpper[k]));
      tp.show(kBlank);
    }
  }
  if (ctx.nOutcomeParams > nGroups) {
    if (ctx.omodelKind == kCnorm)
      tp.scaleRow(0, "Sigma       ");
    else
      tp.plainRow(0, "Alpha0      ");
    tp.show(kBlank);
  }
}

}  // namespace

std::vector<int> scaleParameterIndexes(const ModelContext& ctx) {
  std::vector<int> indexes;
  const auto& params = ctx.layout.params;
  for (std::size_t k = 0; k < params.size(); ++k)
    if (params[k].transform == Transform::Log) indexes.push_back(static_cast<int>(k));
  return indexes;
}

void printEstimatesTable(ModelContext& ctx) {
  TablePrinter tp{ctx, *ctx.host, 0, std::string()};
  printHeading(tp);
  printTrajectories(tp);
  printDropout(tp);
  printScaleOrInflation(tp);
  printMembership(tp);
  printOutcomeAnalysis(tp);
  if (ctx.isJointModel()) printJointModelSections(ctx, tp.i, tp.names);
  tp.show(kBlank);
  ctx.outVarsText = tp.names;
  ctx.host->macroSave("_outvars", ctx.outVarsText.c_str());
}

}  // namespace kurv
