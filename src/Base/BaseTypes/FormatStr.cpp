#include "Base/BaseTypes/FormatStr.h"

#include <cstdio>

namespace tvan {

void vformatStrInto(std::string& out, const char* format, va_list args) {
  out.clear();
  if (format == nullptr) return;
  // Most texts fit the stack buffer; a longer one is formatted a second time
  // into a buffer of the exact size.
  char small[1024];
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (needed <= 0) return;  // empty, or an encoding error in the format
  if (static_cast<size_t>(needed) < sizeof small) {
    out.assign(small, static_cast<size_t>(needed));
    return;
  }
  out.resize(static_cast<size_t>(needed) + 1);
  va_copy(copy, args);
  std::vsnprintf(&out[0], out.size(), format, copy);
  va_end(copy);
  out.resize(static_cast<size_t>(needed));
}

std::string vformatStr(const char* format, va_list args) {
  std::string out;
  vformatStrInto(out, format, args);
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
