#pragma once
// The probability that a multivariate normal vector with a given correlation
// matrix lies in a rectangle: preparation, then by dimension the exact
// value, the bivariate routine or the randomized lattice rule.

#include "core/uniform_stream.h"
#include "randomeffects/mvn_prepare.h"

namespace kurv {

struct MvnResult {
  double value = 0.0;
  double error = 0.0;
  // 0: accuracy reached; 1: the evaluation limit came first (value is the
  // best estimate); 2: dimension outside 1 ... kMvnMaxDimension (value 0,
  // error 1).
  int status = 0;
  int evaluations = 0;
};

// Limits and codes as mvnPrepare reads them (codes 0: X <= upper; 1:
// X >= lower; 2: both; negative: none), correlations the strictly lower
// triangle by rows. The lattice rule reads `stream` from its current
// position (the caller restarts it for every probability). `work` is
// reused between calls to avoid allocations.
MvnResult mvnProbability(int m, const double* lower, const double* upper, const int* codes,
                         const double* correlations, int maxEvaluations, double absTolerance,
                         double relTolerance, UniformStream& stream, MvnPrepared& work);

}  // namespace kurv
