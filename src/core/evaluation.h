#pragma once
// The evaluation contract of every model family's likelihood and gradient.
//
// A likelihood stores the negative log-likelihood at x into *f, or the
// largest finite double (kFailedLikelihood) when it cannot be computed, and
// leaves its per-subject and per-group terms in the run record. A gradient,
// asked for right after the likelihood at the same x, stores df/dx into g
// and may set *gradEvalIndex to 0 to report failure. Neither result is used.

namespace kurv {

struct ModelContext;

using LikelihoodCallback = int (*)(int n, const double* x, double* f, ModelContext* ctx);
using GradientCallback = int (*)(int n, const double* x, int* gradEvalIndex, double* g, ModelContext* ctx);

}  // namespace kurv
