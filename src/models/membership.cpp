// Multinomial-logit membership probabilities.
//
// With eta_g the linear predictor of group g (0 for the reference group),
// pi_g = exp(eta_g) / sum_h exp(eta_h). Every eta is clamped before exp()
// (models/exp_clamp.h), so each exponential is finite and positive and the
// sum lies in [1, G e^{ln DBL_MAX - 10}]: it can neither overflow for any
// practical number of groups nor fall below the reference group's 1.

#include "models/membership.h"

#include <cmath>

namespace kurv {

namespace {

// Turns the linear predictors in `eta` (reference entry 0) into
// probabilities, in place. The running sum starts with the reference group's
// exp(0) = 1 and adds the others in group order.
void normaliseLogits(std::vector<double>& eta, int nGroups, int ref, const ExpClamp& clamp) {
  double sum = 1.0;
  for (int g = 0; g < nGroups; ++g) {
    if (g == ref) continue;
    eta[g] = clamp(eta[g]);
    sum += std::exp(eta[g]);
  }
  for (int g = 0; g < nGroups; ++g) eta[g] = std::exp(eta[g]) / sum;
}

// Model 1 and the multi-trajectory form: per non-reference group in group
// order, a constant followed by one coefficient per risk variable.
// A missing risk value (only an excluded subject has one) adds nothing: every
// data value passes the host's missing-value test before use, and the code's
// product with a coefficient could overflow to +-inf and sum to NaN.
double riskTerm(Host& host, double coefficient, double value) {
  return host.isMissing(value) ? 0.0 : coefficient * value;
}

void unconditionalLogits(Host& host, int i, int s, const Matrix& risk, int nRisk, const double* x,
                         int nGroups, int ref, std::vector<double>& eta) {
  int next = s;
  for (int g = 0; g < nGroups; ++g) {
    if (g == ref) {
      eta[g] = 0.0;
      continue;
    }
    eta[g] = x[next++];
    for (int r = 0; r < nRisk; ++r) eta[g] += riskTerm(host, x[next++], risk[r][i]);
  }
}

// Model 2 of a joint model: the constants of the model-1 group in hand start
// at s, one per non-reference model-2 group; the risk coefficients are shared
// by every model-1 group and are placed by the parameter layout (the block of
// model-2 group g holds its nRisk[1] coefficients, whatever the reference
// group).
void conditionalLogits(int i, int s, const double* x, const ModelContext& ctx, int ref,
                       std::vector<double>& eta) {
  Host& host = *ctx.host;
  const int nGroups2 = ctx.nGroups[1];
  const int nRisk2 = ctx.nRisk[1];
  int next = s;
  for (int g = 0; g < nGroups2; ++g) {
    if (g == ref) {
      eta[g] = 0.0;
      continue;
    }
    eta[g] = x[next++];
    if (nRisk2 == 0) continue;
    const int coefficients = conditionalRiskStart(ctx, g);
    for (int r = 0; r < nRisk2; ++r) eta[g] += riskTerm(host, x[coefficients + r], ctx.risk[1][r][i]);
  }
}

}  // namespace

int conditionalRiskStart(const ModelContext& ctx, int g) {
  // The layout numbers model 2's risk coefficients after the nGroups[0]
  // blocks of conditional constants: coefficient r of group g has index
  // nGroups[0] + r within the group's membership entries.
  return ctx.layout.find(1, BlockKind::Membership, g, ctx.nGroups[0]);
}

int referenceGroup(const ModelContext& ctx, int m) {
  return ctx.hasRefGroup[m] ? ctx.refGroup[m] : 0;
}

int computeMembershipProbabilities(int i, int s, const Matrix& risk, const double* x,
                                   ModelContext* ctx) {
  ModelContext& c = *ctx;
  if (c.isMultModel) {
    const int nGroups = c.multNGroups;
    if (nGroups < 1) return 0;
    if (static_cast<int>(c.multMembershipProb.size()) < nGroups) c.multMembershipProb.resize(nGroups);
    unconditionalLogits(*c.host, i, s, risk, c.multNRisk, x, nGroups, c.multRefGroup, c.multMembershipProb);
    normaliseLogits(c.multMembershipProb, nGroups, c.multRefGroup, c.expClamp);
    return 0;
  }
  const int m = c.currentModel == 1 ? 1 : 0;
  const int nGroups = c.nGroups[m];
  if (nGroups < 1) return 0;
  std::vector<double>& prob = c.membershipProb[m];
  if (static_cast<int>(prob.size()) < nGroups) prob.resize(nGroups);
  const int ref = referenceGroup(c, m);
  if (m == 0) {
    unconditionalLogits(*c.host, i, s, risk, c.nRisk[0], x, nGroups, ref, prob);
  } else {
    conditionalLogits(i, s, x, c, ref, prob);
  }
  normaliseLogits(prob, nGroups, ref, c.expClamp);
  return 0;
}

}  // namespace kurv
