#pragma once
// Numbers in output files: the shortest text that reads back as the same
// double, and an empty text for the host's missing value.

#include <string>

namespace kurv::cli {

std::string shortestText(double value);
// As shortestText, but empty for a missing value (a blank CSV cell).
std::string cellText(double value);
// Quotes a CSV field when it holds a comma, quote or line break (RFC 4180).
std::string csvField(const std::string& text);

}  // namespace kurv::cli
