#include "models/parameter_layout.h"

#include <algorithm>
#include <string>

#include "core/text_format.h"

namespace kurv {

int trajectoryBlockSize(const ModelContext& ctx, int m, int g) {
  const int order = orderValue(ctx.polyOrder[m][g]);
  return order + 1 + (order + 1 > 0 ? ctx.tcovPerPeriod[m] : 0);
}

int dropoutBlockSize(const ModelContext& ctx, int b) {
  const int order = orderValue(ctx.dropoutOrder[b]);
  return order + 1 + (ctx.nDcov > 0 && order != -1 ? ctx.dcovPerPeriod : 0);
}

int trajectoryParamCount(const ModelContext& ctx, int m) {
  int count = 0;
  for (int g = 0; g < ctx.nGroups[m]; ++g) count += trajectoryBlockSize(ctx, m, g);
  return count;
}

int dropoutParamCount(const ModelContext& ctx) {
  if (ctx.nDropoutOrder <= 0) return 0;
  const int blocks = ctx.nDropoutOrder > 1 ? ctx.nGroups[0] : 1;
  int count = 0;
  for (int b = 0; b < blocks; ++b) count += dropoutBlockSize(ctx, b);
  return count;
}

int zeroInflationParamCount(const ModelContext& ctx, int m) {
  if (ctx.nInflOrder[m] <= 0) return 0;
  if (ctx.singleInflOrder[m]) return orderValue(ctx.inflOrder[m][0]) + 1;
  int count = 0;
  for (int g = 0; g < ctx.nGroups[m]; ++g) count += orderValue(ctx.inflOrder[m][g]) + 1;
  return count;
}

int randomEffectsParamCount(const ModelContext& ctx) {
  if (!ctx.hasRandomEffects || ctx.modelKind[0] != kCnorm) return 0;
  int count = orderValue(ctx.reOrder[0]) + 1;
  if (ctx.nReOrder > 1)
    for (int g = 1; g < ctx.nGroups[0]; ++g) count += orderValue(ctx.reOrder[g]) + 1;
  return count;
}

namespace {

constexpr const char* kModel1Names[kMaxPolyOrder + 1] = {"interc%d", "linear%d", "quadra%d",
                                                         "cubic%d",  "quarti%d", "quinti%d"};
constexpr const char* kModel2Names[kMaxPolyOrder + 1] = {"m2intr%d", "m2linr%d", "m2quad%d",
                                                         "m2cubc%d", "m2quart%d", "m2quint%d"};

std::string nameAt(const std::vector<std::string>& list, std::size_t index) {
  return index < list.size() ? list[index] : std::string();
}

// Order of block b from a list of one shared order or one per group.
int orderOf(const std::vector<double>& orders, int b) {
  if (orders.empty()) return -1;
  return orderValue(orders[static_cast<std::size_t>(b) < orders.size() ? b : 0]);
}

// Appends the parameters of one model in order; `here` is the next index.
struct LayoutBuilder {
  ModelContext& ctx;
  int model = 0;
  int here() const { return ctx.layout.size(); }
  void add(int group, BlockKind kind, int index, std::string name, Transform transform = Transform::None) {
    ctx.layout.params.push_back({model, group, kind, index, std::move(name), transform});
  }
  // Names of model 1, of model 2 of a joint run ("m2" names), or of a
  // multi-trajectory component (model 1's names, the scale numbered).
  bool secondJointModel() const { return model == 1 && !ctx.isMultModel; }
  // The second and third components of a multi-trajectory run carry their
  // number in front of model 1's names ("m2interc1", "m3alpha0"), so that
  // every parameter of the run has a name of its own.
  std::string componentPrefix() const { return ctx.isMultModel && model > 0 ? formatText("m%d", model + 1) : ""; }

  // Group by group: the polynomial coefficients, then (for a group with a
  // trajectory) one coefficient per time-varying covariate.
  void trajectories() {
    const int m = model;
    auto& starts = ctx.layout.groupStarts[m];
    starts.assign(static_cast<std::size_t>(std::max(ctx.nGroups[m], 0)), {0, 0, 0});
    for (int g = 0; g < ctx.nGroups[m]; ++g) {
      starts[g][0] = here();
      const int order = std::min(orderValue(ctx.polyOrder[m][g]), kMaxPolyOrder);
      for (int p = 0; p <= order; ++p)
        add(g, BlockKind::Trajectory, p,
            componentPrefix() + formatText((secondJointModel() ? kModel2Names : kModel1Names)[p], g + 1));
      if (order + 1 <= 0) continue;
      for (int c = 0; c < ctx.tcovPerPeriod[m]; ++c) {
        const std::string covariate = m == 0 ? nameAt(ctx.tcovNames, static_cast<std::size_t>(c) * ctx.nPeriods[0])
                                             : formatText("m%dtcov%d_", m + 1, c + 1);
        add(g, BlockKind::Covariate, c, formatText("%s%d", covariate.c_str(), g + 1));
      }
    }
  }

  // One shared dropout block or one per group: constant, lagged outcomes,
  // then the dropout covariates (none for a block of order -1).
  void dropout() {
    auto& starts = ctx.layout.groupStarts[0];
    const int start = here();
    for (auto& s : starts) s[2] = start;
    if (ctx.nDropoutOrder <= 0) return;
    const bool shared = ctx.nDropoutOrder == 1;
    const int blocks = shared ? 1 : ctx.nGroups[0];
    for (int b = 0; b < blocks; ++b) {
      if (!shared && b < static_cast<int>(starts.size())) starts[b][2] = here();
      const int order = orderOf(ctx.dropoutOrder, b);
      if (order == -1) continue;
      add(shared ? -1 : b, BlockKind::Dropout, 0, shared ? std::string("drop0") : formatText("drop0g%d", b + 1));
      for (int p = 1; p <= order; ++p)
        add(shared ? -1 : b, BlockKind::Dropout, p, formatText("drop%dg%d", p, b + 1));
      if (ctx.nDcov <= 0) continue;
      for (int q = 0; q < ctx.dcovPerPeriod; ++q) {
        const std::string covariate = nameAt(ctx.dcovNames, static_cast<std::size_t>(q) * ctx.nPeriods[0]);
        add(shared ? -1 : b, BlockKind::DropoutCovariate, q, formatText("%s%d", covariate.c_str(), b + 1));
      }
    }
  }

  void scale() {
    if (ctx.modelKind[model] != kCnorm) return;
    ctx.scaleIndex[model] = here();
    const std::string name = ctx.isMultModel ? formatText("sigma%d", model + 1)
                             : model == 0     ? std::string("sigma")
                                              : std::string("m2sigma");
    add(-1, BlockKind::Scale, 0, name, Transform::Log);
  }

  // Random-effects scales of the censored normal model: one shared block or
  // one per group, each entry the logarithm of a scale.
  void randomEffects() {
    ctx.reStart = here();
    if (!ctx.hasRandomEffects || ctx.modelKind[0] != kCnorm) return;
    const bool shared = ctx.nReOrder <= 1;
    const int blocks = shared ? 1 : ctx.nGroups[0];
    for (int b = 0; b < blocks; ++b) {
      const int order = orderOf(ctx.reOrder, b);
      for (int p = 0; p <= order; ++p) {
        const std::string name = shared ? (p == 0 ? std::string("rSigma") : formatText("rSigma%d", p))
                                        : (p == 0 ? formatText("rSigmag%d", b + 1) : formatText("rSigma%dg%d", p, b + 1));
        add(shared ? -1 : b, BlockKind::RandomEffects, p, name, Transform::Log);
      }
    }
  }

  // Zero inflation: one shared polynomial or one per group.
  void zeroInflation() {
    const int m = model;
    ctx.zipStart[m] = here();
    auto& starts = ctx.layout.groupStarts[m];
    for (auto& s : starts) s[1] = here();
    if (ctx.nInflOrder[m] <= 0) return;
    const bool shared = ctx.singleInflOrder[m] != 0;
    const std::string prefix = secondJointModel() ? "m2alpha" : componentPrefix() + "alpha";
    const int blocks = shared ? 1 : ctx.nGroups[m];
    for (int b = 0; b < blocks; ++b) {
      if (!shared && b < static_cast<int>(starts.size())) starts[b][1] = here();
      const int order = orderOf(ctx.inflOrder[m], b);
      for (int p = 0; p <= order; ++p) {
        std::string name;
        if (shared)
          name = p == 0 ? prefix + "0" : formatText("%s%d", prefix.c_str(), p);
        else if (p == 0)
          name = secondJointModel() ? formatText("m2alpha0%d", b + 1) : formatText("%s0g%d", prefix.c_str(), b + 1);
        else
          name = formatText("%s%dg%d", prefix.c_str(), p, b + 1);
        add(shared ? -1 : b, BlockKind::ZeroInflation, p, name);
      }
    }
  }

  // Model 1's membership: for every group but the reference one, its
  // log-odds constant and its risk-factor coefficients.
  void membership() {
    ctx.thetaStart = here();
    const int ref = ctx.hasRefGroup[0] ? ctx.refGroup[0] : 0;
    for (int g = 0; g < ctx.nGroups[0]; ++g) {
      if (g == ref) continue;
      if (ctx.nRisk[0] == 0) {
        add(g, BlockKind::Membership, 0, formatText("theta%d", g + 1), Transform::LogOdds);
        continue;
      }
      add(g, BlockKind::Membership, 0, formatText("const%d", g + 1));
      for (int r = 0; r < ctx.nRisk[0]; ++r)
        add(g, BlockKind::Membership, r + 1, formatText("%s%d", nameAt(ctx.riskNames[0], r).c_str(), g + 1));
    }
  }

  // Outcome analysis: one constant per group, then the outcome model's own
  // parameter (the normal outcome's log scale or the ZIP outcome's
  // zero-inflation constant), then any outcome covariates.
  void outcome() {
    ctx.outcomeStart = here();
    if (!ctx.hasOutcome) return;
    const int G = ctx.nGroups[0];
    for (int g = 0; g < G; ++g) add(g, BlockKind::Outcome, 0, formatText("GROUP%d", g + 1));
    // Shared entries: the own parameter at place 0, covariate c at 1 + c.
    int k = G;
    if (ctx.nOutcomeParams - ctx.nOutcomeCovariates * G > G) {
      if (ctx.omodelKind == kCnorm)
        add(-1, BlockKind::Outcome, 0, "osigma", Transform::Log);
      else
        add(-1, BlockKind::Outcome, 0, "oalpha0");
      ++k;
    }
    for (int c = 0; k < ctx.nOutcomeParams; ++k, ++c) add(-1, BlockKind::Outcome, 1 + c, formatText("ocov%d", k - G));
  }

  // Model 2's membership in a joint run: per model-1 group j the constants
  // of the model-2 groups after the first, then per model-2 group after the
  // first its risk-factor coefficients.
  void conditionalMembership() {
    ctx.jointThetaStart = here();
    for (int j = 0; j < ctx.nGroups[0]; ++j)
      for (int k = 1; k < ctx.nGroups[1]; ++k)
        add(k, BlockKind::Membership, j,
            formatText(ctx.nRisk[1] == 0 ? "m2theta%dg%d" : "m2const%dg%d", k + 1, j + 1),
            ctx.nRisk[1] == 0 ? Transform::LogOdds : Transform::None);
    for (int k = 1; k < ctx.nGroups[1]; ++k)
      for (int r = 0; r < ctx.nRisk[1]; ++r)
        add(k, BlockKind::Membership, ctx.nGroups[0] + r,
            formatText("%s%d", nameAt(ctx.riskNames[1], r).c_str(), k + 1));
  }
};

}  // namespace

void layoutParameters(ModelContext& ctx) {
  ctx.scaleIndex = {-1, -1, -1};
  ctx.layout = ParameterLayout{};
  LayoutBuilder b{ctx};
  if (ctx.isMultModel) {
    for (int m = 0; m < ctx.nModels; ++m) {
      b.model = m;
      ctx.paramStart[m] = b.here();
      b.trajectories();
      b.scale();
      b.zeroInflation();
      ctx.paramEnd[m] = b.here();
    }
    // The shared membership constants of every group but the first.
    b.model = 0;
    ctx.multThetaStart = b.here();
    for (int g = 1; g < ctx.nGroups[0]; ++g)
      b.add(g, BlockKind::Membership, 0, formatText("mtheta%d", g + 1), Transform::LogOdds);
    ctx.nParams = b.here();
    return;
  }
  ctx.paramStart[0] = 0;
  b.trajectories();
  ctx.dropoutStart = b.here();
  b.dropout();
  b.scale();
  b.randomEffects();
  b.zeroInflation();
  b.membership();
  b.outcome();
  ctx.paramEnd[0] = b.here();
  if (ctx.nModels > 1 && ctx.nGroups[1] > 0) {
    b.model = 1;
    ctx.paramStart[1] = b.here();
    b.trajectories();
    b.scale();
    b.zeroInflation();
    b.conditionalMembership();
    ctx.paramEnd[1] = b.here();
  }
}

int expectedStartValueCount(const ModelContext& ctx) {
  int count = ctx.nParams;
  if (ctx.nGroups[0] > 1 && ctx.nRisk[0] == 0) count += 1;
  if (!ctx.isMultModel && ctx.nGroups[1] > 0 && ctx.nRisk[1] == 0) count += ctx.nGroups[0];
  return count;
}

}  // namespace kurv
