#include "Base/BaseTypes/OSError.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Base/BaseTypes/VString.h"

namespace tvan {

OSError::OSError(const char* file, int line, const char* keystring)
    : Error(file, line, keystring), errorCode_(static_cast<uint32_t>(errno)) {}

OSError::OSError(const char* file, int line, unsigned long errorCode, const char* keystring)
    : Error(file, line, keystring), errorCode_(static_cast<uint32_t>(errorCode)) {}

OSError::~OSError() = default;

void OSError::constructMessage(VString& out) const {
  Error::constructMessage(out);
  char code[16];
  std::snprintf(code, sizeof code, "%08x", static_cast<unsigned>(errorCode_));
  out += VString("\nSystem error [0x");
  out += VString(code);
  out += VString("] (");
  out += VString(systemMessage(errorCode_));
  out += VString(")");
}

boost::shared_ptr<Error> OSError::clone() const {
  verifyTypeId(typeid(OSError), "clone");
  return boost::shared_ptr<Error>(new OSError(*this));
}

void OSError::rethrow() const {
  verifyTypeId(typeid(OSError), "rethrow");
  throw OSError(*this);
}

std::string OSError::systemMessage(unsigned long code) {
  // Codes the system has no text for give the empty text rather than a
  // made-up "Unknown error" line.
  if (code > 0x7fffffffUL || strerrordesc_np(static_cast<int>(code)) == nullptr) {
    return std::string();
  }
  char buffer[1000] = {};
  const char* text = strerror_r(static_cast<int>(code), buffer, sizeof buffer);
  std::string message(text ? text : "");
  while (!message.empty() &&
         (message.back() == ' ' || message.back() == '\r' || message.back() == '\n')) {
    message.pop_back();
  }
  return message;
}

}  // namespace tvan
