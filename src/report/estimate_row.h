#pragma once
// One row of an estimates table and the Student t distribution function
// behind its p-value.

#include <string>

#include "core/host.h"
#include "core/model_context.h"

namespace kurv {

// The blank line between sections of every estimates table, and the row
// labels of the polynomial coefficients by power (12 characters each).
inline constexpr const char* kBlank = " \n";
inline constexpr const char* kCoefficientLabels[kMaxPolyOrder + 1] = {
    "Intercept   ", "Linear      ", "Quadratic   ", "Cubic       ", "Quartic     ", "Quintic     "};

// Standard errors at or below this (half the double epsilon, 2^-53) are
// treated as zero: no t statistic is formed from them.
inline constexpr double kTinyStdError = 1.1102230246251564e-16;

// Standard errors above this are shown as "." (they do not fit the column).
inline constexpr double kHugeStdError = 999999.9999;

// P(T <= t) for Student's t with `degreesOfFreedom` (at least 1) and t >= 0.
double studentTCdf(double t, int degreesOfFreedom);

// Two-sided p-value of a t statistic, 2 * (1 - P(T <= |t|)).
double twoSidedTPValue(double t, int degreesOfFreedom);

// Displays one estimates-table row: group number (0 prints none), label
// (up to 12 characters), estimate, standard-error text, and, unless
// `noTests` is set or the standard error is missing or at most
// kTinyStdError, the t statistic for "parameter = 0" and its p-value.
void printEstimateRow(Host& host, int group, int noTests, int degreesOfFreedom, double estimate,
                      double stdError, const std::string& label);

// Displays what stands between a table's model line and its first row: why
// standard errors are missing, if they are (NOVAR, or a covariance that
// could not be computed), the two column-heading lines and a blank line.
void printColumnHeadings(Host& host, const ModelContext& ctx);

}  // namespace kurv
