#include "Base/BaseTypes/FormatStr.h"

#include <cstdio>

namespace tvan {

std::string vformatStr(const char* format, va_list args) {
  if (format == nullptr) return std::string();
  char small[256];
  va_list copy;
  va_copy(copy, args);
  int needed = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (needed < 0) return std::string();  // an encoding error in the format
  if (static_cast<size_t>(needed) < sizeof small) return std::string(small, needed);
  std::string out(static_cast<size_t>(needed) + 1, '\0');
  std::vsnprintf(&out[0], out.size(), format, args);
  out.resize(static_cast<size_t>(needed));
  return out;
}

std::string formatStr(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string out = vformatStr(format, args);
  va_end(args);
  return out;
}

}  // namespace tvan
