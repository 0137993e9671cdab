#pragma once
// A mistake in what the user asked for or handed in: a missing column, a
// cell that is not a number, options that contradict each other. The
// program reports its message as one line on standard error and exits with
// a non-zero status; nothing is written.

#include <stdexcept>
#include <string>

namespace kurv::cli {

class UserError : public std::runtime_error {
 public:
  explicit UserError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace kurv::cli
