#pragma once
// Start values of the minimizer, in two forms.
//
// User form (`startDisplay`, and what "kurv_start" holds): scales are
// standard deviations and every membership block without risk factors is a
// list of group percentages, one per group. Parameter form (`params`): scales
// are natural logarithms and membership blocks are log-odds against the
// reference group, one fewer than the groups.

#include <vector>

#include "core/model_context.h"

namespace kurv {

// Default start values built from the intake's ranges, in `params` and
// `startDisplay`.
void buildDefaultStartValues(ModelContext& ctx);
// Converts the user's values (already read into `params`) to the parameter
// form, after copying them into `startDisplay`. A failed check prints its
// message on standard output and ends the conversion there.
void convertGivenStartValues(ModelContext& ctx);

// The user form of a parameter vector: scales exponentiated, membership
// blocks without risk factors widened into percentages.
std::vector<double> userFormOf(const ModelContext& ctx, const std::vector<double>& params);

// Shows `count` values six to a line, as start values are given back.
void showValueLines(ModelContext& ctx, const double* values, int count);
// The trace's "Starting Values" display and the iteration-log header.
void showStartingValues(ModelContext& ctx);
// After the fit: the estimates in the forms that can be given as start values.
void showEstimatesAsStartValues(ModelContext& ctx);

}  // namespace kurv
