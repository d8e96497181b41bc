#pragma once
// OSError: an Error that also carries an operating-system error number
// (errno) and renders the system's text for it.
#include <cstdint>
#include <string>

#include "Base/BaseTypes/Error.h"

namespace tvan {

class OSError : public Error {
 public:
  // The error code is the calling thread's current errno.
  OSError(const char* file, int line, const char* keystring);
  OSError(const char* file, int line, unsigned long errorCode,
          const char* keystring);
  OSError(const OSError&) = default;
  OSError& operator=(const OSError&) = default;
  ~OSError() override;

  using Error::constructMessage;
  // Error's message, then "\nSystem error [0x" + the code as 8 lower-case hex
  // digits + "] (" + systemMessage(code) + ")".
  void constructMessage(VString& out) const override;
  boost::shared_ptr<Error> clone() const override;
  [[noreturn]] void rethrow() const override;

  uint32_t errorCode() const { return errorCode_; }

  // The system's text for `code` without trailing blanks and line ends;
  // empty for a code the system has no text for.
  static std::string systemMessage(unsigned long code);

 private:
  uint32_t errorCode_;
};

}  // namespace tvan
