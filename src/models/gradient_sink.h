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

// Adds score * score^T to the n x n row-major `outer`.
inline void addScoreOuterProduct(const double* score, int n, std::vector<double>& outer) {
  for (int a = 0; a < n; ++a) {
    if (score[a] == 0.0) continue;  // a zero row adds nothing
    double* row = outer.data() + static_cast<std::size_t>(a) * n;
    for (int b = 0; b < n; ++b) row[b] += score[b] * score[a];
  }
}

}  // namespace kurv
