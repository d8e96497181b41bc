#pragma once
// printf-style formatting into a std::string.
#include <cstdarg>
#include <string>

namespace tvan {

std::string formatStr(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string vformatStr(const char* format, va_list args)
    __attribute__((format(printf, 1, 0)));

}  // namespace tvan

// The framework's code calls formatStr unqualified, outside the namespace.
using tvan::formatStr;
