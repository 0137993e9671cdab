#pragma once
// Reading the observations of a multi-trajectory run: two or three
// components (trajectory models) over the same subjects, each with its own
// outcome and time columns, sharing one group membership.
//
// Column layout (1-based), per subject row: component 1's outcomes, times,
// risk columns (never read: multi-trajectory runs have no risk factors), the
// weight column, its exposures and time-varying covariates, then the widths
// of the single model's outcome-analysis, dropout-covariate and exemption
// columns; component 2's outcomes, times, risk columns, exposures and
// covariates; component 3's outcomes and times. The first variable after them
// receives the first posterior result.

#include "core/model_context.h"

namespace kurv {

// First column of each column group of the multi-trajectory layout.
struct MultiDataLayout {
  int outcome[kMaxModels];
  int time[kMaxModels];
  int exposure[kMaxModels];
  int tcov[kMaxModels];
  int weight;  // 0 when absent
  int next;    // first variable after the data
};

MultiDataLayout multiRunLayout(const ModelContext& ctx);

// Reads every observation and every component. A subject is excluded when it
// lies outside the host's selection or its weight is missing or not above 0.
// Per component: measurement counts, mean times per period, the outcome's
// deviation (1.0 when the outcomes do not vary) and its start range of two
// deviations around the mean. Counts as used the subjects that are not
// excluded and have at least one usable measurement in some component;
// scales the weights to average 1 over the subjects not excluded; shows the
// report lines. Returns 0.
int readMultiObservations(ModelContext& ctx);

}  // namespace kurv
