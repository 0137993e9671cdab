#pragma once
// Where a gradient's contributions go: the gradient itself and, in a weighted
// run, the score of the subject in hand (the sandwich covariance needs the
// sum of the scores' outer products).

#include <cstddef>
#include <vector>

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

}  // namespace kurv
