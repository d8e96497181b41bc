#pragma once
// printf-style formatting into a std::string.
#include <cstdarg>
#include <string>

namespace tvan {

std::string formatStr(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string vformatStr(const char* format, va_list args)
    __attribute__((format(printf, 1, 0)));
// Formats into `out`, reusing its storage (for callers on hot paths that keep
// one buffer per thread). A null format or an encoding error gives "".
void vformatStrInto(std::string& out, const char* format, va_list args)
    __attribute__((format(printf, 2, 0)));

}  // namespace tvan

// The framework's code calls formatStr unqualified, outside the namespace.
using tvan::formatStr;
