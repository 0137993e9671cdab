// For group g at the m occasions with a time the measurement vector is
// N(mu, S), mu_j = beta_g0 + sum_k beta_gk t_j^k + sum_c beta_g,K+1+c x_cj,
// S = Z D_g Z^T + sigma^2 I; with S = L L^T, Y = mu + L z. The censored
// outcome's mean at each occasion is the average over the draws.

#include "randomeffects/expected_trajectory.h"

#include <cmath>

#include "models/group_blocks.h"
#include "models/parameter_layout.h"
#include "randomeffects/normal_deviates.h"
#include "randomeffects/random_effects_covariance.h"

namespace kurv {

int randomEffectsCnormExpectedTrajectory(const double* times, const double* theta,
                                         std::vector<std::vector<double>>& out, ModelContext& ctx) {
  Host& host = *ctx.host;
  const int T = ctx.nPeriods[0];
  const int G = ctx.nGroups[0];
  const double lo = ctx.censorMin[0], hi = ctx.censorMax[0];
  const double sigma = std::exp(theta[logSigmaIndex(ctx, 0)]);
  LehmerGenerator gen{kTrajectorySeed};
  out.assign(static_cast<std::size_t>(G), std::vector<double>(static_cast<std::size_t>(T), host.missingValue()));
  std::vector<int> occasion;
  for (int j = 0; j < T; ++j)
    if (!host.isMissing(times[j])) occasion.push_back(j);
  const int m = static_cast<int>(occasion.size());
  if (m == 0) return 0;
  const std::size_t um = static_cast<std::size_t>(m);
  std::vector<double> mean(um), cov(um * um), sums(um), p(um), x(um), z(um), packed(um * (um + 1) / 2);
  for (int g = 0; g < G; ++g) {
    const int order = trajectoryOrder(ctx, 0, g);
    const int start = layoutGroupBlocks(ctx, 0, g).trajectory;
    const RandomEffectsBlock re = randomEffectsBlock(ctx, g);
    std::vector<double> d(static_cast<std::size_t>(std::max(re.q, 1))), zrows(um * std::max(re.q, 1)),
        zd(zrows.size());
    for (int k = 0; k < re.q; ++k) d[static_cast<std::size_t>(k)] = std::exp(2.0 * theta[re.start + k]);
    for (int a = 0; a < m; ++a) {
      const int j = occasion[static_cast<std::size_t>(a)];
      const double t = times[j];
      double mu = 0.0;
      for (int k = 0; k <= order; ++k) mu += theta[start + k] * std::pow(t, static_cast<double>(k));
      for (int c = 0; c < ctx.tcovPerPeriod[0] && order >= 0; ++c) {
        const std::size_t at = static_cast<std::size_t>(c) * T + j;
        if (at < ctx.plotTcov.size() && !host.isMissing(ctx.plotTcov[at]))
          mu += theta[start + order + 1 + c] * ctx.plotTcov[at];
      }
      mean[static_cast<std::size_t>(a)] = mu;
      for (int k = 0; k < re.q; ++k)
        zrows[static_cast<std::size_t>(k) * m + a] = std::pow(t, static_cast<double>(k));
    }
    // S (symmetric: column-major and row-major are the same matrix).
    randomEffectsCovariance(m, re.q, zrows.data(), d.data(), sigma * sigma, zd.data(), cov.data());
    std::fill(p.begin(), p.end(), 0.0);
    bool failed = false;
    chol(cov.data(), m, p.data(), failed);
    if (failed) host.standardOutput("Problem, chol: randomEffectsCnormExpectedTrajectory\n");
    for (int i = 0, at = 0; i < m; ++i)
      for (int j = 0; j <= i; ++j) packed[static_cast<std::size_t>(at++)] = cov[static_cast<std::size_t>(i) * m + j];
    std::fill(sums.begin(), sums.end(), 0.0);
    for (int draw = 0; draw < kTrajectoryDraws; ++draw) {
      drawMultivariateNormal(m, mean.data(), packed.data(), x.data(), z.data(), gen);
      for (int a = 0; a < m; ++a) {
        const double y = x[static_cast<std::size_t>(a)];
        sums[static_cast<std::size_t>(a)] += y <= lo ? lo : (y >= hi ? hi : y);
      }
    }
    for (int a = 0; a < m; ++a)
      out[static_cast<std::size_t>(g)][static_cast<std::size_t>(occasion[static_cast<std::size_t>(a)])] =
          sums[static_cast<std::size_t>(a)] / kTrajectoryDraws;
  }
  return 0;
}

}  // namespace kurv
