#pragma once
// Start values guessed from the data, for the command-line program's
// single-trajectory runs given no start values.
//
// The defaults (zero slopes, intercepts spread evenly over the outcome's
// range) ignore where the data lie: the minimizer then spends most of its
// iterations finding the groups, and a group started above every early
// measurement can be left with no subjects at all. Here the subjects are
// ranked by their mean outcome and split into groups of equal size in that
// order (the lowest means in the first group); each group's polynomial (and
// covariate coefficients) is fitted to its subjects' measurements by least
// squares (CNORM) or by a few iteratively reweighted least-squares steps
// (LOGIT: logit link; ZIP and Poisson: log link with the exposure as
// offset), and the CNORM scale is the root mean square of the pooled
// residuals. Every other parameter keeps its default (equal group shares,
// the defaults of zero inflation and dropout). The guess is deterministic:
// ties of the mean go by the subject's position.

#include "core/model_context.h"

namespace kurv {

// Replaces the trajectory coefficients and the CNORM scale of the default
// start values in `params` and `startDisplay` by the guess above. Returns
// false, changing nothing, when the run is not a single-trajectory run or
// fewer subjects have data than there are groups.
bool guessStartValuesFromData(ModelContext& ctx);

}  // namespace kurv
