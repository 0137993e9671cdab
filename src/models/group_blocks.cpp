#include "models/group_blocks.h"

namespace kurv {

namespace {

// Per-group orders are read at the group's index; a list shorter than the
// number of groups falls back on its first entry rather than reading past
// its end.
int orderAt(const std::vector<double>& orders, int k) {
  if (orders.empty()) return -1;
  return static_cast<int>(orders[k < static_cast<int>(orders.size()) ? k : 0]);
}

}  // namespace

int zeroInflationOrder(const ModelContext& ctx, int m, int k) {
  if (ctx.nInflOrder[m] <= 0) return -1;
  return orderAt(ctx.inflOrder[m], ctx.singleInflOrder[m] ? 0 : k);
}

int dropoutOrderOf(const ModelContext& ctx, int k) {
  if (ctx.nDropoutOrder <= 0) return -1;
  return orderAt(ctx.dropoutOrder, ctx.nDropoutOrder == 1 ? 0 : k);
}

GroupBlocks groupBlocks(const ModelContext& ctx, int m, int k) {
  const MeasurementTables& tables = ctx.measurementTables;
  if (tables.ready && k < static_cast<int>(tables.groupStarts[m].size())) {
    const std::array<int, 3>& starts = tables.groupStarts[m][k];
    return GroupBlocks{starts[0], starts[1], starts[2]};
  }
  return layoutGroupBlocks(ctx, m, k);
}

GroupBlocks layoutGroupBlocks(const ModelContext& ctx, int m, int k) {
  const auto& starts = ctx.layout.groupStarts[m];
  if (k < 0 || k >= static_cast<int>(starts.size())) return GroupBlocks{};
  return GroupBlocks{starts[k][0], starts[k][1], starts[k][2]};
}

int logSigmaIndex(const ModelContext& ctx, int m) { return ctx.scaleIndex[m]; }

}  // namespace kurv
