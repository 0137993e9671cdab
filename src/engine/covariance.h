#pragma once
// Covariance of the maximum-likelihood estimates and their standard errors.

#include "core/evaluation.h"
#include "optim/minimizer.h"

namespace kurv {

// From the estimates θ̂ in ctx.params (n = ctx.nParams):
//   * ctx.stdErrors := the host's missing value, ctx.covFailCode := 0;
//     with ctx.noStdErrors nothing more is done and covFailCode := 1;
//   * the Hessian of f is estimated by central differences of gradients
//     (`gradient`, or, in difference mode — ctx.useDifferenceMode set or
//     `gradient` null — Stewart's difference gradient driven by `likelihood`
//     with the minimizer's final Hessian-diagonal estimates, error bound and
//     gradient taken from `state`), made symmetric and
//     factorised; a singular one is reported by "  iflt %d tp %d" and leaves
//     the standard errors missing;
//   * ctx.covariance (n×n, row by row) := H⁻¹·N/(N − n + 1) with
//     N = ctx.nMeasurements, or, with ctx.hasWeights, the sandwich
//     H⁻¹·B·H⁻¹ with B = ctx.scoreOuterSum filled by `scoreGradient` (the
//     model's analytic gradient; defaults to `gradient`) at θ̂ — without any
//     analytic gradient B cannot be formed and the scaled inverse is used;
//   * the diagonal is made absolute and ctx.stdErrors := its square roots;
//   * ctx.params is restored to θ̂.
// Returns ctx.covFailCode. Empty result vectors are sized as needed.
int computeCovariance(ModelContext& ctx, LikelihoodCallback likelihood,
                      GradientCallback gradient, MinimizerState& state,
                      GradientCallback scoreGradient = nullptr);

}  // namespace kurv
