#pragma once
// Finite-difference gradient by Stewart's scheme, driven by reverse
// communication.

#include <span>

#include "optim/minimizer.h"

namespace kurv {

// Start with state.component = 0 and f = f(θ). Each call either perturbs one
// component of theta and returns true (the caller puts f(theta) into f and
// calls again), or, after the last component, sets f back to f(θ), restores
// theta, leaves the gradient in g and returns false.
//   alpha: estimates of the Hessian diagonal, used to balance truncation
//          against rounding error in the choice of each step;
//   eta0:  relative error bound of f (funcErrorBound);
//   g:     on entry the previous gradient (zeros at the first point).
bool differenceGradient(std::span<const double> alpha, std::span<const double> d, double eta0,
                        double& f, std::span<double> g, DifferenceGradientState& state,
                        std::span<double> theta);

}  // namespace kurv
