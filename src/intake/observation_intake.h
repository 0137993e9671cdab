#pragma once
// Reading the observations of a single-trajectory or joint run from the host.

#include "core/model_context.h"

namespace kurv {

// Variable numbers (1-based) of each column group in the data handed to the
// engine; a group of width 0 is absent.
struct DataLayout {
  int outcome[2];    // first outcome column of model 1 / model 2
  int time[2];       // first time column
  int risk[2];       // first risk column
  int weight;        // the weight column (0 when absent)
  int exposure[2];
  int tcov[2];
  int outcomeValue;  // outcome-analysis column (0 when absent)
  int dcov;          // first dropout covariate column
  int exempt;        // dropout-exemption column (0 when absent)
  int next;          // first variable after the data: the first output variable
};

DataLayout singleRunLayout(const ModelContext& ctx);

// Reads every observation, marks exclusions, derives counts, mean times,
// ranges and normalised weights, and shows the report lines. Returns 0.
int readObservations(ModelContext& ctx);

// The closing report lines of an intake: how many of the `remaining`
// (not excluded) observations had no trajectory data, and how many are used.
void reportSubjectsUsed(const ModelContext& ctx, int remaining);

}  // namespace kurv
