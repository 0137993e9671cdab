#include "randomeffects/random_effects_covariance.h"

#include <cblas.h>

#include <vector>

#include "models/parameter_layout.h"

namespace kurv {

RandomEffectsBlock randomEffectsBlock(const ModelContext& ctx, int g) {
  RandomEffectsBlock b;
  if (!ctx.hasRandomEffects || ctx.reOrder.empty()) return b;
  const bool shared = ctx.nReOrder <= 1;
  const int order = orderValue(ctx.reOrder[shared ? 0 : static_cast<std::size_t>(g)]);
  if (order < 0) return b;
  b.q = order + 1;
  b.start = ctx.layout.start(0, BlockKind::RandomEffects, shared ? -1 : g, 0);
  return b;
}

void randomEffectsCovariance(int m, int q, const double* z, const double* d, double sigma2, double* zd,
                             double* cov) {
  if (m < 1) return;
  if (q < 1) {
    for (int k = 0; k < m * m; ++k) cov[k] = 0.0;
  } else {
    // D is diagonal; it is still applied as a q x q matrix product.
    std::vector<double> dm(static_cast<std::size_t>(q) * q, 0.0);
    for (int k = 0; k < q; ++k) dm[static_cast<std::size_t>(k) * q + k] = d[k];
    cblas_dgemm(CblasColMajor, CblasNoTrans, CblasNoTrans, m, q, q, 1.0, z, m, dm.data(), q, 0.0, zd, m);
    cblas_dgemm(CblasColMajor, CblasNoTrans, CblasTrans, m, m, q, 1.0, zd, m, z, m, 0.0, cov, m);
  }
  for (int k = 0; k < m; ++k) cov[static_cast<std::size_t>(k) * m + k] += sigma2;
}

}  // namespace kurv
