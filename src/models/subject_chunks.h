#pragma once
// Sums over subjects taken in fixed chunks on the run's worker pool. Each
// chunk sums into its own slot and the slots are added in chunk order, so a
// likelihood or gradient has the same bits for any number of threads.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "core/model_context.h"
#include "core/parallel_for.h"
#include "models/gradient_sink.h"

namespace kurv {

// One chunk's part of a negative log-likelihood: its partial sum of -w ln L
// and whether some subject's ln L was not finite.
struct ChunkResult {
  double sum = 0.0;
  bool failed = false;
};

// Runs `chunkTask(first, last)` for the subjects [first, last) of each chunk
// of `chunkSize` and returns the sum of the chunks' parts in chunk order, or
// kFailedLikelihood when some chunk failed.
template <class ChunkTask>
double sumSubjectChunks(const ModelContext& ctx, WorkerPool& pool, int nChunks, std::size_t chunkSize,
                        ChunkTask chunkTask) {
  std::vector<ChunkResult> results(static_cast<std::size_t>(nChunks));
  pool.run(nChunks, [&](int chunk) {
    const std::size_t first = static_cast<std::size_t>(chunk) * chunkSize;
    const std::size_t last = std::min<std::size_t>(static_cast<std::size_t>(ctx.nObs), first + chunkSize);
    results[static_cast<std::size_t>(chunk)] = chunkTask(static_cast<int>(first), static_cast<int>(last));
  });
  double sum = 0.0;
  for (const ChunkResult& r : results) {
    if (r.failed) return kFailedLikelihood;
    sum += r.sum;
  }
  return sum;
}

// Sizes a run-record array to `size` elements, keeping what it holds.
template <class T>
void ensureSize(std::vector<T>& v, std::size_t size) {
  if (v.size() != size) v.resize(size);
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
