#pragma once
// Error: the utility library's exception. A fixed-size, copyable record of a
// message (the keystring), the source file and the line where it was raised.
// Raising one allocates no memory. Throw by value, catch by reference:
//
//   throw tvan::Error(__FILE__, __LINE__, "Mutex: Could not release lock.");
//   ...
//   catch (const tvan::Error& e) { VString text; e.constructMessage(text); }
//
// clone() and rethrow() keep the dynamic type, so an error caught through a
// base reference can be stored and thrown again as what it was. Every class
// derived from Error must override both; one that does not gets a
// std::runtime_error from them instead of a silently sliced copy.
#include <iosfwd>
#include <typeinfo>

#include <boost/shared_ptr.hpp>

namespace tvan {

class VString;

class Error {
 public:
  static constexpr int kKeystringSize = 2048;  // message, zero included
  static constexpr int kFileSize = 260;        // file name, zero included

  // Copies both texts, cutting the keystring after 2,047 and the file name
  // after 259 characters. A null text is stored empty.
  Error(const char* file, int line, const char* keystring);
  Error(const Error& other);
  Error& operator=(const Error& other);
  // Overwrites the keystring with "Bogus error object!", so that a destroyed
  // error is recognisably invalid.
  virtual ~Error();

  // out = "Error: " + keystring + " @ " + file + ":" + line.
  virtual void constructMessage(VString& out) const;
  // The message above followed by " Caught at " + file + ":" + line of the
  // catch site.
  void constructMessage(const char* file, int line, VString& out) const;
  // Four lines: validity, "Keystring : ...", "File      : ...",
  // "Line      : ...".
  virtual void debugText(std::ostream& os) const;
  // True when the file is non-empty, the line at least 1 and the object has
  // not been destroyed.
  virtual bool isValid() const;
  // A heap copy with the object's dynamic type.
  virtual boost::shared_ptr<Error> clone() const;
  // Throws a copy of the object with its dynamic type.
  [[noreturn]] virtual void rethrow() const;

  const char* keystring() const { return keystring_; }
  const char* file() const { return file_; }
  int line() const { return line_; }

 protected:
  // Throws std::runtime_error("missing required <dynamic type>::<method>
  // implementation") when the dynamic type of the object is not `type`.
  void verifyTypeId(const std::type_info& type, const char* method) const;

 private:
  char keystring_[kKeystringSize];
  char file_[kFileSize];
  int line_;
};

}  // namespace tvan
