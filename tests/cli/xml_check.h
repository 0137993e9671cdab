#pragma once
// A strict check that a text is well-formed XML, for the tests of the SVG
// output: one root element, properly nested and closed tags, quoted
// attributes without duplicates, and only the predefined or numeric
// character references. Returns an empty string or the first problem.

#include <string>

namespace kurv::cli::testing {

std::string xmlWellFormedError(const std::string& text);

}  // namespace kurv::cli::testing
