#include "engine/start_values.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "core/exp_clamp.h"
#include "engine/prepare_run.h"
#include "core/text_format.h"

namespace kurv {

namespace {

// The exponent clamp of every exponentiated linear predictor.
double clampExponent(double x) {
  static const ExpClamp clamp = makeExpClamp();
  return clamp(x);
}

// Log-odds start of a probability: the logit inside (0, 1), `bound` outside.
double logitStart(double v, double bound) {
  if (v <= 0.0) return -bound;
  if (v >= 1.0) return bound;
  return std::log(v / (1.0 - v));
}

// Log start of a rate, with a fallback for values too small to take the log.
double logStart(double v, double fallback) { return v > DBL_MIN ? std::log(v) : fallback; }

int groupBlockStart(const ModelContext& ctx, int m, int g) { return ctx.layout.groupStarts[m][g][0]; }

std::vector<int> randomEffectsIndices(const ModelContext& ctx) {
  std::vector<int> idx;
  for (int k : ctx.layout.logScales())
    if (ctx.layout.params[k].kind == BlockKind::RandomEffects) idx.push_back(k);
  return idx;
}

// The outcome analysis's own parameter after its group constants (the normal
// outcome's log scale or the ZIP outcome's inflation constant); -1 if none.
int outcomeExtraIndex(const ModelContext& ctx) { return ctx.layout.find(0, BlockKind::Outcome, -1, 0); }

// Parameter indices whose user form is the exponential of the parameter.
std::vector<int> scaleIndices(const ModelContext& ctx) { return ctx.layout.logScales(); }

// A membership block given as percentages: where it starts in the parameter
// vector, how many groups it spans and its reference group.
struct PercentBlock {
  int start;
  int groups;
  int reference;
};

// Membership blocks without risk factors, in parameter order.
std::vector<PercentBlock> percentBlocks(const ModelContext& ctx) {
  std::vector<PercentBlock> blocks;
  if (ctx.isMultModel) {
    if (ctx.nGroups[0] > 1) blocks.push_back({ctx.multThetaStart, ctx.nGroups[0], 0});
    return blocks;
  }
  if (ctx.nGroups[0] > 1 && ctx.nRisk[0] == 0) blocks.push_back({ctx.thetaStart, ctx.nGroups[0], ctx.refGroup[0]});
  if (ctx.nGroups[1] > 0 && ctx.nRisk[1] == 0)
    for (int j = 0; j < ctx.nGroups[0]; ++j)
      blocks.push_back({ctx.layout.find(1, BlockKind::Membership, 1, j), ctx.nGroups[1], 0});
  return blocks;
}

// Group percentages of a multinomial logit whose non-reference groups have
// the log-odds `constants` (in group order, reference skipped).
std::vector<double> percentagesOf(const double* constants, int groups, int reference) {
  std::vector<double> e(static_cast<std::size_t>(groups), 1.0);
  double sum = 1.0;
  int c = 0;
  for (int g = 0; g < groups; ++g) {
    if (g == reference) continue;
    e[g] = std::exp(clampExponent(constants[c++]));
    sum += e[g];
  }
  for (double& v : e) v = 100.0 * v / sum;
  return e;
}

struct PercentMessages {
  const char* invalid;  // with the percentage
  const char* sum;      // with r and the reference share, or none
  bool zeroAllowed;
};

// Converts the percentages at v[start .. start+groups-1] into log-odds
// against the reference group, written from `start` on; later values move one
// position down. False (with the message shown) when a check fails.
bool convertPercentBlock(ModelContext& ctx, std::vector<double>& v, const PercentBlock& block,
                         const PercentMessages& messages) {
  const int G = block.groups;
  for (int g = 0; g < G; ++g) {
    const double p = v[block.start + g];
    const bool valid = messages.zeroAllowed ? (p >= 0.0 && p < 100.0) : (p > 0.0 && p < 100.0);
    if (!valid) {
      ctx.host->standardOutput(formatText(messages.invalid, p).c_str());
      return false;
    }
  }
  // r is the share the other percentages leave to the reference group; the
  // given reference percentage only enters the consistency check.
  double others = 0.0;
  for (int g = 0; g < G; ++g)
    if (g != block.reference) others += v[block.start + g];
  const double r = 1.0 - others / 100.0;
  const double given = v[block.start + block.reference] / 100.0;
  if (!(r - given > -0.01) || !(r > 0.0)) {
    ctx.host->standardOutput(formatText(messages.sum, r, given).c_str());
    return false;
  }
  std::vector<double> logOdds;
  for (int g = 0; g < G; ++g)
    // A share of 0 (allowed in model 2's sets) has log-odds -inf, from which
    // no minimizer step can be taken: it starts at the exponent clamp's
    // lower end, where the group's share is e^-719.78 and its slope nil.
    if (g != block.reference) logOdds.push_back(clampExponent(std::log(v[block.start + g] / 100.0 / r)));
  std::copy(logOdds.begin(), logOdds.end(), v.begin() + block.start);
  v.erase(v.begin() + block.start + G - 1);
  return true;
}

void finishConversion(ModelContext& ctx, std::vector<double>& v) {
  v.resize(static_cast<std::size_t>(ctx.nParams) + 1, 0.0);
}

void convertSingleOrJoint(ModelContext& ctx, std::vector<double>& v) {
  // Model 1's scale (and random-effects scales): logarithms, 0 for a scale
  // too small to take the log.
  if (ctx.scaleIndex[0] >= 0) v[ctx.scaleIndex[0]] = logStart(v[ctx.scaleIndex[0]], 0.0);
  for (int i : randomEffectsIndices(ctx)) v[i] = logStart(v[i], 0.0);

  if (ctx.nGroups[0] > 1 && ctx.nRisk[0] == 0) {
    const PercentMessages messages{"Starting percentage = %12.6f is invalid",
                                   "First set of starting percents add to more than 100. %f %f", false};
    if (!convertPercentBlock(ctx, v, {ctx.thetaStart, ctx.nGroups[0], ctx.refGroup[0]}, messages)) return;
  }
  if (ctx.omodelKind == kCnorm && outcomeExtraIndex(ctx) >= 0) {
    const int i = outcomeExtraIndex(ctx);
    v[i] = logStart(v[i], 0.0);
  }
  if (ctx.isJointModel() && ctx.nRisk[1] == 0) {
    const PercentMessages messages{"Starting percentage = %12.6f is invalid",
                                   "Second set of starting percentages add to more than 100.", true};
    for (int j = 0; j < ctx.nGroups[0]; ++j) {
      const PercentBlock block{ctx.layout.find(1, BlockKind::Membership, 1, j), ctx.nGroups[1], 0};
      if (!convertPercentBlock(ctx, v, block, messages)) return;
    }
  }
  if (ctx.isJointModel() && ctx.scaleIndex[1] >= 0) v[ctx.scaleIndex[1]] = logStart(v[ctx.scaleIndex[1]], -2.0);
}

void convertMulti(ModelContext& ctx, std::vector<double>& v) {
  for (int m = 0; m < ctx.nModels; ++m) {
    const int i = ctx.scaleIndex[m];
    if (i < 0) continue;
    if (!(v[i] > DBL_MIN)) {
      ctx.host->standardOutput(formatText("Invalid start value for sigma (model %d).", m + 1).c_str());
      return;
    }
    v[i] = std::log(v[i]);
  }
  if (ctx.nGroups[0] > 1) {
    const PercentMessages messages{"Starting percentage = %12.6f is invalid (mult model).",
                                   "Starting percents add to more than 100 (mult model).", false};
    convertPercentBlock(ctx, v, {ctx.multThetaStart, ctx.nGroups[0], 0}, messages);
  }
}

}  // namespace

std::vector<double> userFormOf(const ModelContext& ctx, const std::vector<double>& params) {
  std::vector<double> values(params.begin(), params.begin() + ctx.nParams);
  for (int i : scaleIndices(ctx)) values[i] = std::exp(values[i]);
  std::vector<double> out;
  const auto blocks = percentBlocks(ctx);
  std::size_t b = 0;
  for (int i = 0; i <= ctx.nParams;) {
    if (b < blocks.size() && blocks[b].start == i) {
      const auto pct = percentagesOf(values.data() + i, blocks[b].groups, blocks[b].reference);
      out.insert(out.end(), pct.begin(), pct.end());
      i += blocks[b].groups - 1;
      ++b;
      continue;
    }
    if (i == ctx.nParams) break;
    out.push_back(values[i]);
    ++i;
  }
  return out;
}

void buildDefaultStartValues(ModelContext& ctx) {
  const bool mult = ctx.isMultModel;
  std::vector<double>& p = ctx.params;
  p.assign(static_cast<std::size_t>(ctx.nParams) + 1, 0.0);
  const int nTrajectoryModels = mult ? ctx.nModels : (ctx.isJointModel() ? 2 : 1);
  for (int m = 0; m < nTrajectoryModels; ++m) {
    const int G = ctx.nGroups[m];
    for (int g = 0; g < G; ++g) {
      if (orderValue(ctx.polyOrder[m][g]) < 0) continue;  // no coefficients to start
      const double v = ctx.yMin[m] + (ctx.yMax[m] - ctx.yMin[m]) * (g + 1) / (G + 1);
      double start = v;
      if (ctx.modelKind[m] == kLogit) start = logitStart(v, mult ? 2.0 : 3.0);
      if (ctx.modelKind[m] == kZip) start = logStart(v, mult || m == 0 ? -3.0 : -2.0);
      p[groupBlockStart(ctx, m, g)] = start;
    }
    if (ctx.scaleIndex[m] >= 0) p[ctx.scaleIndex[m]] = logStart(ctx.ySd[m], mult ? -1.0 : -2.0);
    if (ctx.nInflOrder[m] > 0) {
      const int blocks = ctx.singleInflOrder[m] ? 1 : G;
      int z = ctx.zipStart[m];
      for (int k = 0; k < blocks; ++k) {
        const int order = orderValue(ctx.inflOrder[m][k]);
        if (order != -1) p[z] = mult ? -2.0 : -3.0;
        z += order + 1;
      }
    }
  }
  if (!mult) {
    if (ctx.nDropoutOrder > 0) {
      const int blocks = ctx.nDropoutOrder > 1 ? ctx.nGroups[0] : 1;
      int d = ctx.dropoutStart;
      for (int k = 0; k < blocks; ++k) {
        if (orderValue(ctx.dropoutOrder[k]) != -1) p[d] = -3.0;
        d += dropoutBlockSize(ctx, k);
      }
    }
    for (int i : randomEffectsIndices(ctx)) p[i] = -2.0;
    if (ctx.hasOutcome) {
      const int G = ctx.nGroups[0];
      for (int g = 0; g < G; ++g) {
        const double v = ctx.outcomeMin + (ctx.outcomeMax - ctx.outcomeMin) * (g + 1) / (G + 1);
        double start = v;
        if (ctx.omodelKind == 2) start = logitStart(v, 3.0);
        if (ctx.omodelKind == 3) start = logStart(v, -3.0);
        p[ctx.layout.find(0, BlockKind::Outcome, g, 0)] = start;
      }
      const int extra = outcomeExtraIndex(ctx);
      if (extra >= 0 && ctx.outcomeHasZeroInflation) p[extra] = -3.0;
      if (extra >= 0 && ctx.omodelKind == kCnorm) p[extra] = logStart(ctx.outcomeSd, -2.0);
    }
  }
  const auto user = userFormOf(ctx, p);
  ctx.startDisplay.assign(ctx.startDisplay.size(), 0.0);
  std::copy(user.begin(), user.end(), ctx.startDisplay.begin());
}

void convertGivenStartValues(ModelContext& ctx) {
  std::vector<double>& v = ctx.params;
  v.resize(static_cast<std::size_t>(std::max(ctx.nStartValues, ctx.nParams)) + 1, 0.0);
  ctx.startDisplay.resize(std::max(ctx.startDisplay.size(), static_cast<std::size_t>(ctx.nStartValues)), 0.0);
  std::copy(v.begin(), v.begin() + ctx.nStartValues, ctx.startDisplay.begin());
  if (ctx.isMultModel)
    convertMulti(ctx, v);
  else
    convertSingleOrJoint(ctx, v);
  finishConversion(ctx, v);
}

void showValueLines(ModelContext& ctx, const double* values, int count) {
  const int lines = count / 6 + 1;
  for (int line = 0; line < lines; ++line) {
    std::string text;
    for (int k = 0; k < 6; ++k) {
      const int i = line * 6 + k;
      if (i < count)
        text += formatText(i == count - 1 ? "%11.5f" : "%11.5f,", values[i]);
      else
        text += " ";
    }
    text += " \n";
    ctx.host->display(text.c_str());
  }
}

void showStartingValues(ModelContext& ctx) {
  Host& host = *ctx.host;
  host.display("Starting Values\n");
  host.display(" \n");
  const int count = expectedStartValueCount(ctx);
  showValueLines(ctx, ctx.startDisplay.data(), std::min<int>(count, static_cast<int>(ctx.startDisplay.size())));
  host.display(" \n");
  host.display("              Neg. Log       Percent\n");
  host.display("              Likelihood     Decrease\n");
  host.display(" \n");
}

void showEstimatesAsStartValues(ModelContext& ctx) {
  Host& host = *ctx.host;
  std::vector<double> values(ctx.params.begin(), ctx.params.begin() + ctx.nParams);
  for (int i : scaleIndices(ctx)) values[i] = std::exp(values[i]);
  if (!percentBlocks(ctx).empty()) {
    host.display(" \n");
    host.display("Parameter estimates for adding risk factors\n");
    host.display(" \n");
    showValueLines(ctx, values.data(), ctx.nParams);
  }
  const auto user = userFormOf(ctx, ctx.params);
  host.display("Parameter estimates\n");
  host.display(" \n");
  showValueLines(ctx, user.data(), static_cast<int>(user.size()));
  host.display(" \n");
}

}  // namespace kurv
