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
    double* row = &outer[static_cast<std::size_t>(a) * n];
    for (int b = 0; b < n; ++b) row[b] += score[b] * score[a];
  }
}

// Prefix and suffix products of T factors a_0 .. a_{T-1}:
// prefix[t] = a_0 ... a_{t-1}, suffix[t] = a_t ... a_{T-1}, so that the
// product of every factor but a_t is prefix[t] * suffix[t + 1], without a
// division (a zero factor anywhere stays exact).
inline void periodProducts(const double* a, int T, double* prefix, double* suffix) {
  prefix[0] = 1.0;
  for (int t = 0; t < T; ++t) prefix[t + 1] = prefix[t] * a[t];
  suffix[T] = 1.0;
  for (int t = T - 1; t >= 0; --t) suffix[t] = a[t] * suffix[t + 1];
}

}  // namespace kurv
