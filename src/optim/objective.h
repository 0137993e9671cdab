#pragma once
// What the minimizer minimises: a function of the parameter vector whose
// value (and, in gradient mode, gradient) it asks for.
//
// Failure is a return value: `value` returns no value where f cannot be
// computed (the minimizer then shortens the step, or ends with code 63 at the
// start), and `gradient` returns false where the gradient cannot be computed
// (code 65). The minimizer always asks for the gradient at the point of the
// last value it asked for, so an implementation may reuse what `value` left.

#include <optional>
#include <span>

namespace kurv {

class Objective {
 public:
  virtual ~Objective() = default;

  // f(x), or nothing when it cannot be computed at x.
  virtual std::optional<double> value(std::span<const double> x) = 0;

  // The gradient of f at x into g; false when it cannot be computed. Only
  // gradient mode asks for it.
  virtual bool gradient(std::span<const double> x, std::span<double> g) {
    (void)x, (void)g;
    return false;
  }

  // Called at every accepted point whose gradient is about to be formed
  // (analytically or by differences), with its function value: the
  // iterates of the minimization, for logs and traces.
  virtual void atIterate(std::span<const double> x, double f) { (void)x, (void)f; }
};

}  // namespace kurv
