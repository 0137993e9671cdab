#pragma once
// Where a gradient's contributions go: the gradient itself and, in a weighted
// run, the score of the subject in hand (the sandwich covariance needs the
// sum of the scores' outer products).

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "core/model_context.h"
#include "core/parallel_for.h"

namespace kurv {

class GradientSink {
 public:
  GradientSink(double* g, double* score) : g_(g), score_(score) {}
  void subtract(int p, double v) {
    g_[p] -= v;
    if (score_) score_[p] -= v;
  }
  void add(int p, double v) {
    g_[p] += v;
    if (score_) score_[p] += v;
  }

 private:
  double* g_;
  double* score_;
};

// Adds score * score^T to the n x n row-major `outer`.
inline void addScoreOuterProduct(const double* score, int n, std::vector<double>& outer) {
  for (int a = 0; a < n; ++a) {
    if (score[a] == 0.0) continue;  // a zero row adds nothing
    double* row = outer.data() + (static_cast<std::size_t>(a) * n);
    for (int b = 0; b < n; ++b) row[b] += score[b] * score[a];
  }
}

// The gradient of a mixture's negative log-likelihood as the sum over
// subjects: `subject(i, scratch, sink)` adds subject i's share. Subjects are
// taken in fixed chunks of `chunkSize` on `pool`; each chunk sums into its own
// row and the rows are added in chunk order, so the result has the same bits
// for any number of threads. Excluded subjects and subjects whose likelihood
// failed (not finite) add nothing. In a weighted run the subjects' scores are
// kept apart too, and the sum of their outer products goes to
// ctx.scoreOuterSum (the middle of the sandwich covariance).
template <class Scratch, class MakeScratch, class Subject>
void sumSubjectGradients(ModelContext& ctx, WorkerPool& pool, int n, int nChunks, std::size_t chunkSize, double* g,
                         MakeScratch makeScratch, Subject subject) {
  const std::size_t un = static_cast<std::size_t>(n);
  const bool weighted = ctx.hasWeights;
  std::vector<double> partial(static_cast<std::size_t>(nChunks) * un, 0.0);
  std::vector<double> outer(weighted ? static_cast<std::size_t>(nChunks) * un * un : 0, 0.0);
  const auto task = [&](int chunk) {
    const std::size_t first = static_cast<std::size_t>(chunk) * chunkSize;
    const std::size_t last = std::min<std::size_t>(static_cast<std::size_t>(ctx.nObs), first + chunkSize);
    Scratch scratch = makeScratch();
    std::vector<double> score(weighted ? un : 0);
    double* gc = partial.data() + static_cast<std::size_t>(chunk) * un;
    double* oc = outer.data() + (weighted ? static_cast<std::size_t>(chunk) * un * un : 0);
    for (std::size_t s = first; s < last; ++s) {
      const int i = static_cast<int>(s);
      if (ctx.excluded[i] != 0 || !std::isfinite(ctx.subjectLogLik[i])) continue;
      if (weighted) std::fill(score.begin(), score.end(), 0.0);
      GradientSink sink(gc, weighted ? score.data() : nullptr);
      subject(i, scratch, sink);
      if (!weighted) continue;
      for (std::size_t r = 0; r < un; ++r) {
        if (score[r] == 0.0) continue;  // a zero row adds nothing
        double* row = oc + r * un;
        for (std::size_t q = 0; q < un; ++q) row[q] += score[q] * score[r];
      }
    }
  };
  pool.run(nChunks, task);

  std::fill(g, g + n, 0.0);
  for (int chunk = 0; chunk < nChunks; ++chunk) {
    const double* gc = partial.data() + static_cast<std::size_t>(chunk) * un;
    for (std::size_t p = 0; p < un; ++p) g[p] += gc[p];
  }
  if (weighted) {
    if (ctx.scoreOuterSum.size() < un * un) ctx.scoreOuterSum.resize(un * un);
    if (ctx.subjectScore.size() < un) ctx.subjectScore.resize(un);
    std::fill(ctx.scoreOuterSum.begin(), ctx.scoreOuterSum.begin() + static_cast<std::ptrdiff_t>(un * un), 0.0);
    for (int chunk = 0; chunk < nChunks; ++chunk) {
      const double* oc = outer.data() + static_cast<std::size_t>(chunk) * un * un;
      for (std::size_t e = 0; e < un * un; ++e) ctx.scoreOuterSum[e] += oc[e];
    }
  }
}

}  // namespace kurv
