#include "core/text_format.h"

#include <cstdio>
#include <vector>

namespace kurv {

std::string formatTextV(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (needed <= 0) return std::string();
  std::vector<char> buffer(static_cast<std::size_t>(needed) + 1);
  std::vsnprintf(buffer.data(), buffer.size(), format, args);
  return std::string(buffer.data(), static_cast<std::size_t>(needed));
}

std::string formatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = formatTextV(format, args);
  va_end(args);
  return text;
}

}  // namespace kurv
