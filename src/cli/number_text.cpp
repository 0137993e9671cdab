#include "cli/number_text.h"

#include <charconv>

#include "cli/data_table.h"

namespace kurv::cli {

std::string shortestText(double value) {
  char buffer[64];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return ec == std::errc() ? std::string(buffer, end) : std::string();
}

std::string cellText(double value) { return isMissing(value) ? std::string() : shortestText(value); }

std::string csvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

}  // namespace kurv::cli
