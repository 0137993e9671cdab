#pragma once
// Reproducible random data for the likelihood and gradient tests: a 32-bit
// Mersenne Twister (its sequence is fixed by the standard) with the
// conversions done here, so the data are the same on every platform.

#include <cmath>
#include <cstdint>
#include <random>

namespace kurv::modeltest {

class Random {
 public:
  explicit Random(std::uint32_t seed) : gen_(seed) {}
  double uniform(double a = 0.0, double b = 1.0) {
    return a + (b - a) * ((static_cast<double>(gen_()) + 0.5) / 4294967296.0);
  }
  double normal(double mean = 0.0, double sd = 1.0) {  // Box-Muller
    const double u = uniform();
    const double v = uniform();
    return mean + sd * std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * M_PI * v);
  }
  double poisson(double lambda) {  // inversion
    const double u = uniform();
    double p = std::exp(-lambda), cdf = p;
    int k = 0;
    while (u > cdf && k < 1000) {
      ++k;
      p *= lambda / k;
      cdf += p;
    }
    return k;
  }
  bool chance(double p) { return uniform() < p; }

 private:
  std::mt19937 gen_;
};

}  // namespace kurv::modeltest
