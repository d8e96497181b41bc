#include "Base/BaseTypes/Error.h"

#include <cstring>
#include <ostream>
#include <stdexcept>
#include <string>

#include "Base/BaseTypes/TypeName.h"
#include "Base/BaseTypes/VString.h"

namespace tvan {

namespace {

const char kBogus[] = "Bogus error object!";

// Copies at most size - 1 characters and always terminates.
void copyCut(char* dest, size_t size, const char* src) {
  if (src == nullptr) {
    dest[0] = '\0';
    return;
  }
  size_t n = strnlen(src, size - 1);
  std::memcpy(dest, src, n);
  dest[n] = '\0';
}

}  // namespace

Error::Error(const char* file, int line, const char* keystring) : line_(line) {
  copyCut(keystring_, sizeof keystring_, keystring);
  copyCut(file_, sizeof file_, file);
}

Error::Error(const Error& other) : line_(other.line_) {
  std::memcpy(keystring_, other.keystring_, std::strlen(other.keystring_) + 1);
  std::memcpy(file_, other.file_, std::strlen(other.file_) + 1);
}

Error& Error::operator=(const Error& other) {
  if (this != &other) {
    std::memcpy(keystring_, other.keystring_, std::strlen(other.keystring_) + 1);
    std::memcpy(file_, other.file_, std::strlen(other.file_) + 1);
    line_ = other.line_;
  }
  return *this;
}

Error::~Error() {
  std::memcpy(keystring_, kBogus, sizeof kBogus);
  // Keep the store: the compiler may otherwise drop writes to an object whose
  // lifetime is ending.
  __asm__ __volatile__("" : : "r"(keystring_) : "memory");
}

void Error::constructMessage(VString& out) const {
  std::string text;
  text.reserve(std::strlen(keystring_) + std::strlen(file_) + 24);
  text += "Error: ";
  text += keystring_;
  text += " @ ";
  text += file_;
  text += ':';
  text += std::to_string(line_);
  out = text;
}

void Error::constructMessage(const char* file, int line, VString& out) const {
  constructMessage(out);
  out += VString(" Caught at ");
  out += VString(file ? file : "");
  out += VString(":");
  out += VString(line);
}

void Error::debugText(std::ostream& os) const {
  os << (isValid() ? "Object is in a valid state." : "Object is in an INVALID state!") << '\n';
  os << "Keystring : " << keystring_ << '\n';
  os << "File      : " << file_ << '\n';
  os << "Line      : " << line_ << '\n';
}

bool Error::isValid() const {
  return file_[0] != '\0' && line_ >= 1 && std::strcmp(keystring_, kBogus) != 0;
}

boost::shared_ptr<Error> Error::clone() const {
  verifyTypeId(typeid(Error), "clone");
  return boost::shared_ptr<Error>(new Error(*this));
}

void Error::rethrow() const {
  verifyTypeId(typeid(Error), "rethrow");
  throw Error(*this);
}

void Error::verifyTypeId(const std::type_info& type, const char* method) const {
  const std::type_info& dynamicType = typeid(*this);
  if (dynamicType != type) {
    throw std::runtime_error("missing required " + typeName(dynamicType) + "::" + method +
                             " implementation");
  }
}

}  // namespace tvan
