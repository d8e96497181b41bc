#pragma once
// Bounded text copies with argument checks, for the fixed-size text fields
// of framework records.
//
// The checks describe a failure as an exception object (for diagnostics) but
// never throw it: only the error code reaches the caller, 0 when the check
// passes, EINVAL (22) for a null pointer or a zero size, ERANGE (34) for a
// copy that did not fit.
#include <cerrno>
#include <cstddef>
#include <stdexcept>
#include <string>

class __TQSafetyCheck {
 public:
  static int notNull(const void* pointer, const char* function) {
    if (pointer != nullptr) return 0;
    const std::invalid_argument failure(std::string("null pointer passed to ") + function);
    (void)failure;
    return EINVAL;
  }
  static int nonZero(size_t size, const char* function) {
    if (size != 0) return 0;
    const std::logic_error failure(std::string("zero size passed to ") + function);
    (void)failure;
    return EINVAL;
  }
  static int invalidRange(const char* function) {
    const std::range_error failure(std::string("attempted buffer overflow in ") + function);
    (void)failure;
    return ERANGE;
  }
};

namespace vc8 {

// Copies `source` into `destination` (room for `size` characters) until the
// source's NUL, `maxCount` characters or size - 1 characters, whichever comes
// first, and always ends the copy with a NUL. True when the whole source
// (up to its NUL or maxCount) was copied.
inline bool copyChars(char* destination, size_t size, const char* source, size_t maxCount) {
  if (size == 0) return false;
  size_t i = 0;
  for (; i + 1 < size && i < maxCount && source[i] != '\0'; ++i) destination[i] = source[i];
  destination[i] = '\0';
  return source[i] == '\0' || i == maxCount;
}

// Copies `source` into the array `destination`: 0 when complete; EINVAL for a
// null argument (nothing copied); ERANGE when cut to N - 1 characters (the cut
// copy stays in place).
template <size_t N>
int strcpy_s(char (&destination)[N], const char* source) {
  if (int code = __TQSafetyCheck::notNull(destination, "strcpy_s")) return code;
  if (int code = __TQSafetyCheck::nonZero(N, "strcpy_s")) return code;
  if (int code = __TQSafetyCheck::notNull(source, "strcpy_s")) return code;
  if (!copyChars(destination, N, source, static_cast<size_t>(-1))) {
    return __TQSafetyCheck::invalidRange("strcpy_s");
  }
  return 0;
}

}  // namespace vc8
