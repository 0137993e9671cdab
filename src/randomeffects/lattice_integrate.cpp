// Randomized lattice rules for the multivariate normal integrand: Genz, A.
// and F. Bretz (2009), "Computation of Multivariate Normal and t
// Probabilities", Springer, section 4.2.2 (Korobov rules with Cranley-
// Patterson randomization and the baker's (tent) transformation, antithetic
// pairs), with the Richtmyer extension above 20 dimensions.
//
// One randomized rule value for lattice size p and generator vector v:
//   Q = 1/(2p) sum_{t=1..p} [f(z_t) + f(1 - z_t)],
//   z_tj = |2 frac(frac(t v_j) + Delta_j) - 1|,
// with a random shift Delta and the first min(d, 20) generator entries in a
// random order. A pass averages s such values; its mean and variance are
// combined with the earlier passes' by inverse-variance weighting, and the
// error estimate is three standard errors of the combined mean.

#include "randomeffects/lattice_integrate.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace kurv {

const int kLatticeSize[kLatticeSizes] = {31,    47,    73,    113,   173,    263,    397,    593,    907,
                                         1361,  2053,  3079,  4621,  6947,   10427,  15641,  23473,  35221,
                                         52837, 79259, 118891, 178349, 267523, 401287, 601942};

namespace {

// Korobov generators C(k, j) of the lattice sizes above (rows), for
// dimension d taken from column min(d - 1, 19) (columns 1 ... 19).
const int kGenerator[kLatticeSizes][kKorobovDimensions - 1] = {
    {12, 9, 9, 13, 12, 12, 12, 12, 12, 12, 12, 12, 3, 3, 3, 12, 7, 7, 12},  // 31
    {13, 11, 17, 10, 15, 15, 15, 15, 15, 15, 22, 15, 15, 6, 6, 6, 15, 15, 9},  // 47
    {27, 28, 10, 11, 11, 20, 11, 11, 28, 13, 13, 28, 13, 13, 13, 14, 14, 14, 14},  // 73
    {35, 27, 27, 36, 22, 29, 29, 20, 45, 5, 5, 5, 21, 21, 21, 21, 21, 21, 21},  // 113
    {64, 66, 28, 28, 44, 44, 55, 67, 10, 10, 10, 10, 10, 10, 38, 38, 10, 10, 10},  // 173
    {111, 42, 54, 118, 20, 31, 31, 72, 17, 94, 14, 14, 11, 14, 14, 14, 94, 10, 10},  // 263
    {163, 154, 83, 43, 82, 92, 150, 59, 76, 76, 47, 11, 11, 100, 131, 116, 116, 116, 116},  // 397
    {246, 189, 242, 102, 250, 250, 102, 250, 280, 118, 196, 118, 191, 215, 121, 121, 49, 49, 49},  // 593
    {347, 402, 322, 418, 215, 220, 339, 339, 339, 337, 218, 315, 315, 315, 315, 167, 167, 167, 167},  // 907
    {505, 220, 601, 644, 612, 160, 206, 206, 206, 422, 134, 518, 134, 134, 518, 652, 382, 206, 158},  // 1361
    {794, 325, 960, 528, 247, 247, 338, 366, 847, 753, 753, 236, 334, 334, 461, 711, 652, 381, 381},  // 2053
    {1189, 888, 259, 1082, 725, 811, 636, 965, 497, 497, 1490, 1490, 392, 1291, 508, 508, 1291, 1291, 508},  // 3079
    {1763, 1018, 1500, 432, 1332, 2203, 126, 2240, 1719, 1284, 878, 1983, 266, 266, 266, 266, 747, 747, 127},  // 4621
    {2872, 3233, 1534, 2941, 2910, 393, 1796, 919, 446, 919, 919, 1117, 103, 103, 103, 103, 103, 103, 103},  // 6947
    {4309, 3758, 4034, 1963, 730, 642, 1502, 2246, 3834, 1511, 1102, 1102, 1522, 1522, 3427, 3427, 3928, 915, 915},  // 10427
    {6610, 6977, 1686, 3819, 2314, 5647, 3953, 3614, 5115, 423, 423, 5408, 7426, 423, 423, 487, 6227, 2660, 6227},  // 15641
    {9861, 3647, 4073, 2535, 3430, 9865, 2830, 9328, 4320, 5913, 10365, 8272, 3706, 6186, 7806, 7806, 7806, 8610, 2563},  // 23473
    {10327, 7582, 7124, 8214, 9600, 10271, 10193, 10800, 9086, 2365, 4409, 13812, 5661, 9344, 9344, 10362, 9344, 9344, 8585},  // 35221
    {19540, 19926, 11582, 11113, 24585, 8726, 17218, 419, 4918, 4918, 4918, 15701, 17710, 4037, 4037, 15808, 11401, 19398, 25950},  // 52837
    {34566, 9579, 12654, 26856, 37873, 38806, 29501, 17271, 3663, 10763, 18955, 1298, 26560, 17132, 17132, 4753, 4753, 8713, 18624},  // 79259
    {31929, 49367, 10982, 3527, 27066, 13226, 56010, 18911, 40574, 20767, 20767, 9686, 47603, 47603, 11736, 11736, 41601, 12888, 32948},  // 118891
    {40701, 69087, 77576, 64590, 39397, 33179, 10858, 38935, 43129, 35468, 35468, 2196, 61518, 61518, 27945, 70975, 70975, 86478, 86478},  // 178349
    {103650, 125480, 59978, 46875, 77172, 83021, 126904, 14541, 56299, 43636, 11655, 52680, 88549, 29804, 101894, 113675, 48040, 113675, 34987},  // 267523
    {165843, 90647, 59925, 189541, 67647, 74795, 68365, 167485, 143918, 74912, 167289, 75517, 8148, 172106, 126159, 35867, 35867, 35867, 121694},  // 401287
    {130365, 236711, 110235, 125699, 56483, 93735, 234469, 60549, 1291, 93937, 245291, 196061, 258647, 162489, 176631, 204895, 73353, 172319, 28881},  // 601942
};

// The first 80 primes; the Richtmyer points use their square roots.
const int kRichtmyerPrime[kRichtmyerDimensions] = {
    2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37, 41, 43, 47, 53,
    59, 61, 67, 71, 73, 79, 83, 89, 97, 101, 103, 107, 109, 113, 127, 131,
    137, 139, 149, 151, 157, 163, 167, 173, 179, 181, 191, 193, 197, 199, 211, 223,
    227, 229, 233, 239, 241, 251, 257, 263, 269, 271, 277, 281, 283, 293, 307, 311,
    313, 317, 331, 337, 347, 349, 353, 359, 367, 373, 379, 383, 389, 397, 401, 409,
};

// Richtmyer points frac(R sqrt(prime_i)) for R = 1, 2, ...: R is kept as a
// base-2 counter of up to 49 digits (exact in a double), its digit count
// wrapping after 48 as the published rule does. One sequence per integration,
// so that the same integration always uses the same points.
class Richtmyer {
 public:
  explicit Richtmyer(int e) : e_(e) {
    for (int i = 0; i < e_; ++i) root_[i] = std::sqrt(static_cast<double>(kRichtmyerPrime[i]));
  }
  void next(double* out) {
    int i = 0;
    for (; i <= high_; ++i) {
      if (++digit_[i] < 2) break;
      digit_[i] = 0;
    }
    if (i > high_) {
      if (++high_ > kHighestDigit) high_ = 0;
      digit_[high_] = 1;
    }
    double r = 0.0;
    for (int k = high_; k >= 0; --k) r = digit_[k] + 2.0 * r;
    for (int k = 0; k < e_; ++k) {
      const double x = r * root_[k];
      out[k] = x - std::floor(x);
    }
  }

 private:
  static constexpr int kHighestDigit = 48;
  int e_;
  int high_ = 0;
  int digit_[kHighestDigit + 1] = {};
  double root_[kRichtmyerDimensions] = {};
};

double frac(double x) { return x - std::floor(x); }

}  // namespace

long latticeStreamBound(int d, int maxEvaluations) {
  // With minEvaluations 0 every pass draws kMinSamples rule values and moves
  // to the next lattice size until the table's last one; from there the
  // sample count may grow, but the total evaluations stay within
  // maxEvaluations and each sample costs at least 2 p_25 of them. Each rule
  // value draws min(d, 20) - 1 shuffle indexes and d shifts.
  const long perSample = std::max(std::min(d, kKorobovDimensions) - 1, 0) + d;
  long samples = 0;
  long used = 0;
  int k = 0;
  while (k < kLatticeSizes - 1 && used + 2L * kMinSamples * kLatticeSize[k] <= maxEvaluations) {
    used += 2L * kMinSamples * kLatticeSize[k];
    samples += kMinSamples;
    ++k;
  }
  samples += (maxEvaluations - used) / (2L * kLatticeSize[kLatticeSizes - 1]) + kMinSamples;
  return samples * perSample;
}

LatticeResult latticeIntegrate(int d, int minEvaluations, int maxEvaluations, double absTolerance,
                               double relTolerance, const CubeIntegrand& f, UniformStream& stream) {
  LatticeResult result;
  result.status = 1;
  const int q = std::min(d, kKorobovDimensions);
  int samples = kMinSamples;
  int k = kLatticeSizes - 1;
  for (int i = 0; i < kLatticeSizes; ++i) {
    if (minEvaluations < 2 * samples * kLatticeSize[i]) {
      k = i;
      break;
    }
  }
  if (k == kLatticeSizes - 1 && minEvaluations >= 2 * samples * kLatticeSize[k])
    samples = std::max(kMinSamples, minEvaluations / (2 * kLatticeSize[k]));
  Richtmyer richtmyer(std::max(d - q, 0));
  std::vector<std::int64_t> generator(static_cast<std::size_t>(q));
  std::vector<double> shift(static_cast<std::size_t>(d)), x(static_cast<std::size_t>(d)),
      z(static_cast<std::size_t>(d));
  double estimate = 0.0;
  double varianceWeight = 0.0;
  long used = 0;
  while (true) {
    // Generator vector v_j = g_j / p with g_1 = 1, g_j = C g_(j-1) mod p,
    // in exact integer arithmetic.
    const std::int64_t p = kLatticeSize[k];
    const std::int64_t c = kGenerator[k][std::max(std::min(d - 1, kKorobovDimensions - 1), 1) - 1];
    std::int64_t g = 1;
    for (int j = 0; j < q; ++j) {
      generator[static_cast<std::size_t>(j)] = g;
      g = (c * g) % p;
    }
    double mean = 0.0;
    double variance = 0.0;
    for (int sample = 1; sample <= samples; ++sample) {
      for (int j = 0; j + 1 < q; ++j) {
        const int jp = j + static_cast<int>(stream.next() * (q - j));
        std::swap(generator[static_cast<std::size_t>(j)], generator[static_cast<std::size_t>(std::min(jp, q - 1))]);
      }
      for (int j = 0; j < d; ++j) shift[static_cast<std::size_t>(j)] = stream.next();
      double value = 0.0;
      for (std::int64_t t = 1; t <= p; ++t) {
        for (int j = 0; j < q; ++j)
          x[static_cast<std::size_t>(j)] =
              static_cast<double>((t * generator[static_cast<std::size_t>(j)]) % p) / static_cast<double>(p);
        if (d > q) richtmyer.next(&x[static_cast<std::size_t>(q)]);
        for (int j = 0; j < d; ++j)
          z[static_cast<std::size_t>(j)] =
              std::fabs(2.0 * frac(x[static_cast<std::size_t>(j)] + shift[static_cast<std::size_t>(j)]) - 1.0);
        value += (f(z.data()) - value) / static_cast<double>(2 * t - 1);
        for (int j = 0; j < d; ++j) z[static_cast<std::size_t>(j)] = 1.0 - z[static_cast<std::size_t>(j)];
        value += (f(z.data()) - value) / static_cast<double>(2 * t);
      }
      const double step = (value - mean) / sample;
      mean += step;
      variance = (sample - 2) * variance / sample + step * step;
    }
    used += 2L * samples * p;
    const double product = varianceWeight * variance;
    estimate += (mean - estimate) / (1.0 + product);
    if (variance > 0.0) varianceWeight = (1.0 + product) / variance;
    result.error = 3.0 * std::sqrt(variance / (1.0 + product));
    result.value = estimate;
    if (!(result.error > std::max(absTolerance, relTolerance * std::fabs(estimate)))) {
      result.status = 0;
      break;
    }
    if (k < kLatticeSizes - 1) {
      ++k;
    } else {
      const long left = (maxEvaluations - used) / (2L * kLatticeSize[k]);
      samples = static_cast<int>(std::max<long>(kMinSamples, std::min<long>(3L * samples / 2, left)));
    }
    if (used + 2L * samples * kLatticeSize[k] > maxEvaluations) break;
  }
  result.evaluations = static_cast<int>(used);
  return result;
}

}  // namespace kurv
