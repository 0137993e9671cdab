#pragma once
// Memory-safe printf-style formatting for every text the engine shows.
//
// The texts of the system are printf formats; formatting them into a
// std::string sized by a first vsnprintf pass means no fixed buffer can
// overflow, whatever the length of a name or a number.

#include <cstdarg>
#include <string>

namespace kurv {

std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string formatTextV(const char* format, va_list args);

}  // namespace kurv
