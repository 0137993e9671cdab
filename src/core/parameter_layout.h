#pragma once
// The description of a run's parameter vector: one entry per parameter, in
// order, with the model and group it belongs to, the kind of block, its place
// in the block, its output name and the transform in which it is held.
//
// The layout is built once per run (models/parameter_layout.h) before any
// value is read; block starts, names and transforms are read from it.

#include <array>
#include <string>
#include <vector>

namespace kurv {

enum class BlockKind {
  Trajectory,        // polynomial coefficients of a group's trajectory
  Covariate,         // time-varying covariate coefficients of a group
  Dropout,           // dropout constant and lagged-outcome coefficients
  DropoutCovariate,  // dropout covariate coefficients
  Scale,             // the censored normal model's sigma
  RandomEffects,     // random-effects scales
  ZeroInflation,     // zero-inflation polynomial
  Membership,        // membership constants (and risk-factor coefficients)
  Outcome,           // outcome-analysis group constants and own parameter
};

// How a parameter is held in the vector: as it is, as the natural logarithm
// of a positive scale (shown exponentiated), or as log-odds against the
// reference group (shown as percentages when no risk factors enter).
enum class Transform { None, Log, LogOdds };

struct ParameterInfo {
  int model = 0;
  int group = -1;   // 0-based group or block it belongs to; -1: shared by all groups
  BlockKind kind = BlockKind::Trajectory;
  int index = 0;    // power, lag, covariate or risk factor within its block
  std::string name; // output name ("interc1", "sigma", "theta2", ...)
  Transform transform = Transform::None;
};

struct ParameterLayout {
  std::vector<ParameterInfo> params;
  // [m][g]: where group g's trajectory, zero-inflation and dropout blocks of
  // model m start (also for a group whose block is empty: where it would be).
  std::array<std::vector<std::array<int, 3>>, 3> groupStarts;

  int size() const { return static_cast<int>(params.size()); }

  // First parameter of a block of `kind` in model m (of group g, or the first
  // such block when g is -1); `fallback` when there is none.
  int start(int m, BlockKind kind, int g = -1, int fallback = -1) const {
    for (int k = 0; k < size(); ++k) {
      const ParameterInfo& p = params[static_cast<std::size_t>(k)];
      if (p.model == m && p.kind == kind && (g < 0 || p.group == g)) return k;
    }
    return fallback;
  }

  // The parameter of `kind` in model m with the given group (-1: shared)
  // and place in its block; -1 when there is none.
  int find(int m, BlockKind kind, int group, int index) const {
    for (int k = 0; k < size(); ++k) {
      const ParameterInfo& p = params[static_cast<std::size_t>(k)];
      if (p.model == m && p.kind == kind && p.group == group && p.index == index) return k;
    }
    return -1;
  }

  // For each group 0..nGroups-1 of model m: the parameter of `kind` at
  // `index` in that group's block, -1 where the group has none (the
  // reference group's membership block, for one).
  std::vector<int> perGroup(int m, BlockKind kind, int index, int nGroups) const {
    std::vector<int> found;
    for (int g = 0; g < nGroups; ++g) found.push_back(find(m, kind, g, index));
    return found;
  }

  // Every parameter held as the logarithm of a scale.
  std::vector<int> logScales() const {
    std::vector<int> found;
    for (int k = 0; k < size(); ++k)
      if (params[static_cast<std::size_t>(k)].transform == Transform::Log) found.push_back(k);
    return found;
  }

  // The output names separated by blanks, each followed by one ("_outvars").
  std::string nameList() const {
    std::string list;
    for (const ParameterInfo& p : params) list += p.name + " ";
    return list;
  }
};

}  // namespace kurv
