// Standard normal deviates by the exact method of Forsythe and von Neumann
// in the form of Ahrens and Dieter (1973), "Extensions of Forsythe's method
// for random sampling from the normal distribution", Mathematics of
// Computation 27, 927-937.
//
// The half-line is cut at a_k = Phi^-1(1 - 2^-(k+1)), so that interval k,
// [a_k, a_(k+1)) of width d_k, holds half-normal mass 2^-(k+1): the leading
// bits of a uniform choose it. Within it x = a_k + w, w uniform on [0, d_k),
// is accepted with probability exp(-c), c = (x^2 - a_k^2)/2 = w (w/2 + a_k),
// by Forsythe's comparison chain c > u_1 > v_1 > u_2 > ...: the first rise
// after an even number of steps accepts, after an odd number rejects. The
// unused part of the deciding uniform gives the sign. No function is
// evaluated, so the deviates are the same on every platform.

#include "randomeffects/normal_deviates.h"

#include <cmath>

namespace kurv {

namespace {

constexpr double kModulus = 2147483647.0;  // 2^31 - 1
constexpr double kMultiplier = 16807.0;    // 7^5

// d_k = Phi^-1(1 - 2^-(k+2)) - Phi^-1(1 - 2^-(k+1)), k = 0 ... 59, to 9
// significant digits.
constexpr int kIntervals = 60;
constexpr double kWidth[kIntervals] = {
    0.674489750, 0.475859630, 0.383771164, 0.328611323, 0.291142827, 0.263684322, 0.242508452,
    0.225567444, 0.211634166, 0.199924267, 0.189910758, 0.181225181, 0.173601400, 0.166841909,
    0.160796729, 0.155349717, 0.150409384, 0.145902577, 0.141770033, 0.137963174, 0.134441762,
    0.131172150, 0.128125965, 0.125279090, 0.122610883, 0.120103560, 0.117741707, 0.115511892,
    0.113402349, 0.111402720, 0.109503852, 0.107697617, 0.105976772, 0.104334841, 0.102766012,
    0.101265052, 0.0998272345, 0.0984482820, 0.0971243087, 0.0958517777, 0.0946274612, 0.0934484071,
    0.0923119093, 0.0912154822, 0.0901568378, 0.0891338665, 0.0881446194, 0.0871872928, 0.0862602149,
    0.0853618336, 0.0844907056, 0.0836454869, 0.0828249242, 0.0820278473, 0.0812531618, 0.0804998435,
    0.0797669322, 0.0790535270, 0.0783587814, 0.0776818994};

}  // namespace

double LehmerGenerator::uniform() {
  // 16807 seed < 2^46 is exact, and so is fmod.
  seed = std::fmod(kMultiplier * seed, kModulus);
  return seed / kModulus;
}

double drawStandardNormal(LehmerGenerator& gen) {
  double u = gen.uniform();
  double a = 0.0;
  int k = 0;
  while (true) {
    if (u == 1.0) u = gen.uniform();
    u += u;
    if (u < 1.0) break;
    u -= 1.0;
    if (k + 1 >= kIntervals) break;  // beyond the table (not reached by 31-bit uniforms)
    a += kWidth[k];
    ++k;
  }
  while (true) {
    const double w = u * kWidth[k];
    double c = w * (w / 2.0 + a);
    while (true) {
      const double ustar = gen.uniform();
      if (ustar >= c) {
        const double s = 2.0 * (ustar - c) / (1.0 - c);
        return s < 1.0 ? -(a + w) : a + w;
      }
      const double v = gen.uniform();
      if (ustar > v) {
        c = v;
        continue;
      }
      u = (v - ustar) / (1.0 - ustar);
      break;
    }
  }
}

void drawMultivariateNormal(int m, const double* mean, const double* packedFactor, double* out, double* z,
                            LehmerGenerator& gen) {
  for (int i = 0; i < m; ++i) z[i] = drawStandardNormal(gen);
  const double* row = packedFactor;
  for (int i = 0; i < m; ++i) {
    double x = mean[i];
    for (int j = 0; j <= i; ++j) x += row[j] * z[j];
    out[i] = x;
    row += i + 1;
  }
}

void chol(double* a, int m, double* p, bool& failed) {
  failed = false;
  for (int i = 0; i < m && !failed; ++i) {
    for (int j = i; j < m; ++j) {
      double s = a[i * m + j];
      for (int k = 0; k < i; ++k) s -= a[i * m + k] * a[j * m + k];
      if (j == i) {
        if (s <= 0.0) {
          failed = true;
          break;
        }
        p[i] = std::sqrt(s);
      } else {
        a[j * m + i] = s / p[i];
      }
    }
  }
  for (int i = 0; i < m; ++i) {
    a[i * m + i] = p[i];
    for (int j = i + 1; j < m; ++j) a[i * m + j] = a[j * m + i];
  }
}

}  // namespace kurv
