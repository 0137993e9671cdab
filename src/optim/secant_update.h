#pragma once
// Factored BFGS secant update of the Hessian approximation H = L·Lᵀ.

#include <span>

namespace kurv {

// Forms the vectors w and z of the update L⁺ = L·(I + z·wᵀ) (then made
// lower-triangular) whose product L⁺L⁺ᵀ is the BFGS update of H for the step
// s and gradient change y. When yᵀs < 0.1·sᵀHs, Powell's damping replaces y
// by a combination with Hs so that H⁺ stays positive definite.
void bfgsUpdateVectors(int n, std::span<const double> packedL, std::span<const double> s,
                       std::span<const double> y, std::span<double> w, std::span<double> z);

// Goldfarb's recurrence 3: overwrites the packed L by the lower-triangular
// L⁺ with L⁺L⁺ᵀ = L(I + zwᵀ)(I + wzᵀ)Lᵀ. w and z are used as scratch;
// `work` holds 3n doubles.
void secantUpdateFactor(int n, std::span<double> packedL, std::span<double> w,
                        std::span<double> z, std::span<double> work);

}  // namespace kurv
