#pragma once
// Derivatives of one measurement's density and of one dropout factor with
// respect to the parameters of the group in hand.
//
// The measurement in hand is taken from the run record's cursors: model
// ctx->currentModel, group cursorGroup, subject cursorSubject, period
// cursorPeriod. Each piece writes d(density)/d(parameter), not the
// derivative of its logarithm, at the parameter's own position in `work`
// (n doubles), and clears the positions of the blocks it owns first: the
// group's trajectory block, the model's log-sigma position (CNORM, where it
// stores the derivative with respect to sigma itself) and the group's
// zero-inflation block (ZIP). Other entries of `work` are left as they were,
// so a piece costs O(block size), not O(n); callers read only those blocks.
// The blocks are placed by groupBlocks() and logSigmaIndex() for model 1,
// model 2 of a joint run or a multi-trajectory component alike.

#include "core/model_context.h"

namespace kurv {

int cnormMeasurementDerivative(int n, const double* x, double* work, const ModelContext* ctx);
int logitMeasurementDerivative(int n, const double* x, double* work, const ModelContext* ctx);
int zipMeasurementDerivative(int n, const double* x, double* work, const ModelContext* ctx);

// The piece of the model kind of ctx->currentModel (CNORM, LOGIT, ZIP);
// other kinds have no density and write nothing. Returns 0.
int measurementDerivative(int n, const double* x, double* work, const ModelContext* ctx);

// Derivative of the dropout factor of (cursorGroup, cursorSubject,
// cursorPeriod), model 1, with respect to the group's dropout block
// (constant, lagged outcomes, dropout covariates). The caller calls it where
// the factor exists. Returns 0.
int dropoutDerivative(int n, const double* x, double* work, const ModelContext* ctx);

}  // namespace kurv
