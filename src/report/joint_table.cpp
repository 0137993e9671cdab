#include "report/joint_table.h"

#include <cmath>
#include <span>

#include "core/text_format.h"
#include "report/estimate_row.h"
#include "report/group_percentages.h"

namespace kurv {

namespace {


const char* kindName(int kind) {
  switch (kind) {
    case kCnorm: return "Censored Normal (CNORM)";
    case kZip: return "Zero Inflated Poisson (ZIP)";
    case kLogit: return "Logistic (LOGIT)";
    default: return "";
  }
}

// Walks model 2's parameters: the running index and the name list.
struct JointPrinter {
  ModelContext& ctx;
  Host& host;
  int& i;
  std::string& names;

  double missing() const { return host.missingValue(); }
  double param(int k) const { return k < static_cast<int>(ctx.params.size()) ? ctx.params[k] : missing(); }
  double stdError(int k) const {
    return k < static_cast<int>(ctx.stdErrors.size()) ? ctx.stdErrors[k] : missing();
  }
  void show(const std::string& text) { host.display(text.c_str()); }
  void addName() {
    const auto& params = ctx.layout.params;
    names += (i < static_cast<int>(params.size()) ? params[static_cast<std::size_t>(i)].name : std::string()) + " ";
    ++i;
  }
  void plainRow(int group, const std::string& label) {
    printEstimateRow(host, group, ctx.covFailCode, ctx.nMeasurements, param(i), stdError(i), label);
    addName();
  }
  // The standard error, t statistic and p-value texts of the lines formatted
  // here ("%11.5f", "%12.3f", "%8.4f"), each "." when it does not exist: no
  // tests after a singular Hessian, none from a standard error at or below
  // 2^-53.
  struct Texts {
    std::string se, t, p;
  };
  Texts texts(double estimate, double se) const {
    Texts out{".", ".", "."};
    if (host.isMissing(se)) return out;
    out.se = formatText("%11.5f", se);
    if (ctx.covFailCode != 0 || se <= kTinyStdError) return out;
    const double t = estimate / se;
    out.t = formatText("%12.3f", t);
    out.p = formatText("%8.4f", twoSidedTPValue(t, ctx.nMeasurements));
    return out;
  }
  void rescaleCovariance(int k, double s) {
    const std::size_t n = static_cast<std::size_t>(ctx.nParams);
    if (ctx.covariance.size() < n * n || static_cast<std::size_t>(k) >= n) return;
    for (std::size_t c = 0; c < n; ++c) ctx.covariance[k * n + c] *= s;
    for (std::size_t r = 0; r < n; ++r) ctx.covariance[r * n + k] *= s;
  }
};

void printTrajectories(JointPrinter& jp) {
  const ModelContext& ctx = jp.ctx;
  for (int k = 0; k < ctx.nGroups[1]; ++k) {
    const int order = static_cast<int>(ctx.polyOrder[1][k]);
    for (int p = 0; p <= order && p <= kMaxPolyOrder; ++p) jp.plainRow(p == 0 ? k + 1 : 0, kCoefficientLabels[p]);
    for (int c = 0; order >= 0 && c < ctx.tcovPerPeriod[1]; ++c) jp.plainRow(0, "Tcov2       ");
    jp.show(kBlank);
  }
}

// The scale (shown exponentiated, with the covariance rescaled by the delta
// method) or the zero-inflation blocks.
void printScaleOrInflation(JointPrinter& jp) {
  const ModelContext& ctx = jp.ctx;
  if (ctx.modelKind[1] == kCnorm) {
    const double s = std::exp(jp.param(jp.i));
    const double se = jp.stdError(jp.i);
    const double scaledSe = jp.host.isMissing(se) ? se : s * se;
    // The t statistic is that of ln sigma = 0 against its own error.
    auto t = jp.texts(1.0, se);
    t.se = jp.host.isMissing(se) ? "." : formatText("%11.5f", scaledSe);
    jp.show(formatText(" %12s        %12.5f  %s    %s     %s\n", "Sigma", s, t.se.c_str(), t.t.c_str(), t.p.c_str()));
    jp.rescaleCovariance(jp.i, s);
    jp.addName();
    return;
  }
  if (ctx.modelKind[1] != kZip || ctx.nInflOrder[1] <= 0) return;
  const bool shared = ctx.singleInflOrder[1] != 0;
  const int nBlocks = shared ? 1 : ctx.nInflOrder[1];
  for (int b = 1; b <= nBlocks; ++b) {
    const int order = static_cast<int>(ctx.inflOrder[1][b - 1]);
    if (order == -1) continue;
    jp.plainRow(shared ? 0 : b, "Alpha0      ");
    for (int p = 1; p <= order; ++p) jp.plainRow(shared ? 0 : b, formatText("Alpha%d      ", p));
  }
  jp.show(kBlank);
}

// Model 2's membership conditional on each model-1 group, and the
// percentages derived from it.
void printConditionalMembership(JointPrinter& jp) {
  ModelContext& ctx = jp.ctx;
  const int G1 = ctx.nGroups[0];
  const int G2 = ctx.nGroups[1];
  const bool risk2 = ctx.nRisk[1] > 0;
  const double missing = jp.missing();
  jp.show(kBlank);
  jp.show("  Group membership (model 2 group | model 1 group) \n");
  jp.show(kBlank);
  ctx.condPct.assign(static_cast<std::size_t>(G1), std::vector<double>(static_cast<std::size_t>(G2), 0.0));
  // Model 2's marginal shares exist only when neither membership model has
  // risk factors (model 1's shares are missing otherwise).
  const bool marginal = !risk2 && ctx.nRisk[0] == 0;
  ctx.model2Pct.assign(static_cast<std::size_t>(G2), marginal ? 0.0 : missing);
  const bool withSe = ctx.covFailCode == 0 && ctx.covariance.size() >= static_cast<std::size_t>(ctx.nParams) * ctx.nParams;
  for (int j = 0; j < G1; ++j) {
    const int first = jp.i;
    const double model1Pct = j < static_cast<int>(ctx.groupPct.size()) ? ctx.groupPct[j] : missing;
    if (!risk2) {
      std::vector<double> pct(static_cast<std::size_t>(G2)), se(static_cast<std::size_t>(G2));
      groupPercentages(std::span<double>(ctx.params).subspan(first, G2 - 1), 0, withSe ? ctx.covariance.data() : nullptr,
                       ctx.nParams, first, missing, pct, se);
      for (int k = 0; k < G2; ++k) {
        ctx.condPct[j][k] = pct[k];
        // The marginal share of model-2 group k: sum_j P(k | j) P(j).
        if (marginal) ctx.model2Pct[k] += pct[k] * model1Pct / 100.0;
        const auto t = jp.texts(pct[k], se[k]);
        jp.show(formatText(" %d|%d     (%%)            %10.5f  %s    %s     %s\n", k + 1, j + 1, pct[k], t.se.c_str(),
                           t.t.c_str(), t.p.c_str()));
        if (k > 0) jp.addName();
      }
      continue;
    }
    // With model-2 risk factors the constants are shown as they are; the
    // shares depend on each subject's risk values and have no one value.
    for (int k = 0; k < G2; ++k) ctx.condPct[j][k] = missing;
    jp.show(formatText(" %d|%d     Constant         (0.00000)           .               .            . \n", 1, j + 1));
    for (int k = 1; k < G2; ++k) {
      const double c = jp.param(jp.i);
      const auto t = jp.texts(c, jp.stdError(jp.i));
      jp.show(formatText(" %d|%d     Constant       %10.5f  %s    %s     %s\n", k + 1, j + 1, c, t.se.c_str(), t.t.c_str(),
                         t.p.c_str()));
      jp.addName();
    }
    jp.show(kBlank);
  }
  if (!marginal) return;
  // Neither model has risk factors: model 1's group given model 2's, the
  // joint shares and model 2's marginal shares.
  jp.show(kBlank);
  jp.show("  Group membership (model 1 group | model 2 group) \n");
  jp.show(kBlank);
  for (int k = 0; k < G2; ++k)
    for (int j = 0; j < G1; ++j)
      jp.show(formatText(" %d|%d    (%4.1f%%)\n", j + 1, k + 1, ctx.condPct[j][k] * ctx.groupPct[j] / ctx.model2Pct[k]));
  jp.show(kBlank);
  jp.show("  Group membership (model 1 group and model 2 group) \n");
  jp.show(kBlank);
  for (int k = 0; k < G2; ++k)
    for (int j = 0; j < G1; ++j)
      jp.show(formatText(" %d %d    (%4.1f%%) \n", j + 1, k + 1, ctx.condPct[j][k] * ctx.groupPct[j] / 100.0));
  jp.show(kBlank);
  jp.show("  Group membership (model 2 group) \n");
  jp.show(kBlank);
  for (int k = 0; k < G2; ++k) jp.show(formatText(" %d (%4.1f%%) \n", k + 1, ctx.model2Pct[k]));
}

void printRiskFactors(JointPrinter& jp) {
  const ModelContext& ctx = jp.ctx;
  for (int h = 0; h + 1 < ctx.nGroups[1] && ctx.nRisk[1] > 0; ++h) {
    jp.show(kBlank);
    for (int r = 0; r < ctx.nRisk[1]; ++r)
      jp.plainRow(h + 2, r < static_cast<int>(ctx.riskNames[1].size()) ? ctx.riskNames[1][r] : std::string());
  }
}

}  // namespace

std::string jointModelLines(const ModelContext& ctx) {
  return formatText("\tModel 1: %s  Model 2: %s\n", kindName(ctx.modelKind[0]), kindName(ctx.modelKind[1])) +
         formatText("Model 1: %s\n", kindName(ctx.modelKind[0]));
}

void printJointModelSections(ModelContext& ctx, int& i, std::string& names) {
  JointPrinter jp{ctx, *ctx.host, i, names};
  jp.show(kBlank);
  jp.show(formatText("Model 2: %s\n", kindName(ctx.modelKind[1])));
  jp.show(kBlank);
  printTrajectories(jp);
  printScaleOrInflation(jp);
  printConditionalMembership(jp);
  printRiskFactors(jp);
}

}  // namespace kurv
