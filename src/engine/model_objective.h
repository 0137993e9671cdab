#pragma once
// A model family's likelihood and gradient as the minimizer's objective: the
// largest-double failure of a likelihood becomes "no value", a gradient's
// zeroed evaluation index becomes false.

#include <optional>
#include <span>

#include "core/evaluation.h"
#include "core/model_context.h"
#include "optim/objective.h"

namespace kurv {

class ModelObjective : public Objective {
 public:
  ModelObjective(ModelContext& ctx, LikelihoodCallback likelihood, GradientCallback gradient)
      : ctx_(ctx), likelihood_(likelihood), gradient_(gradient) {}

  std::optional<double> value(std::span<const double> x) override {
    double f = 0.0;
    likelihood_(static_cast<int>(x.size()), x.data(), &f, &ctx_);
    if (f == kFailedLikelihood) return std::nullopt;
    return f;
  }

  bool gradient(std::span<const double> x, std::span<double> g) override {
    if (gradient_ == nullptr) return false;
    int evalIndex = 1;
    gradient_(static_cast<int>(x.size()), x.data(), &evalIndex, g.data(), &ctx_);
    return evalIndex != 0;
  }

 private:
  ModelContext& ctx_;
  LikelihoodCallback likelihood_;
  GradientCallback gradient_;
};

}  // namespace kurv
