#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <sstream>
#include <stdexcept>
#include <string>

#include "Base/BaseTypes/Error.h"
#include "Base/BaseTypes/OSError.h"
#include "Base/BaseTypes/VString.h"

using tvan::Error;
using tvan::OSError;
using tvan::VString;

namespace errortest {

// Derived errors that forget to override clone and rethrow.
class Incomplete : public Error {
 public:
  using Error::Error;
};

class IncompleteOS : public OSError {
 public:
  using OSError::OSError;
};

}  // namespace errortest

TEST(Error, TextsAreCutToTheirStorage) {
  std::string longKey(3000, 'k');
  std::string longFile(400, 'f');
  Error e(longFile.c_str(), 7, longKey.c_str());
  EXPECT_EQ(std::string(e.keystring()), longKey.substr(0, 2047));
  EXPECT_EQ(std::string(e.file()), longFile.substr(0, 259));
  Error empty(nullptr, 1, nullptr);
  EXPECT_STREQ(empty.keystring(), "");
  EXPECT_STREQ(empty.file(), "");
}

TEST(Error, ValidityNeedsFileAndPositiveLineAndDestroyedErrorReadsBogus) {
  EXPECT_TRUE(Error("a.cpp", 1, "x").isValid());
  EXPECT_FALSE(Error("a.cpp", 0, "x").isValid() || Error("", 5, "x").isValid() ||
               Error("a.cpp", 5, "Bogus error object!").isValid());

  alignas(Error) unsigned char storage[sizeof(Error)];
  Error* e = new (storage) Error("a.cpp", 3, "real message");
  e->~Error();
  const char bogus[] = "Bogus error object!";
  EXPECT_NE(memmem(storage, sizeof storage, bogus, sizeof bogus), nullptr);
  EXPECT_EQ(memmem(storage, sizeof storage, "real message", 12), nullptr);
}

TEST(Error, CopyAndSelfAssignmentKeepTheRecord) {
  Error a("a.cpp", 3, "first");
  Error b("b.cpp", 4, "second");
  b = a;
  Error& self = b;
  b = self;
  EXPECT_EQ(std::string(b.keystring()) + " " + b.file() + ":" + std::to_string(b.line()),
            "first a.cpp:3");
}

TEST(Error, MessagesNameTextFileAndLine) {
  Error e("src/Mutex.cpp", 42, "Mutex: Could not release lock.");
  VString out;
  e.constructMessage(out);
  EXPECT_EQ(out, VString("Error: Mutex: Could not release lock. @ src/Mutex.cpp:42"));
  e.constructMessage("catch.cpp", 9, out);
  EXPECT_EQ(out, VString("Error: Mutex: Could not release lock. @ src/Mutex.cpp:42"
                         " Caught at catch.cpp:9"));
  std::ostringstream os;
  Error("f.cpp", 0, "k").debugText(os);
  EXPECT_EQ(os.str(),
            "Object is in an INVALID state!\nKeystring : k\nFile      : f.cpp\nLine      : 0\n");
}

TEST(OSError, MessageCarriesCodeAndSystemText) {
  OSError e("io.cpp", 10, 5, "FileUtil: read failed");
  VString out;
  e.constructMessage(out);
  const std::string text = OSError::systemMessage(5);
  EXPECT_EQ(text, std::strerror(5));
  ASSERT_FALSE(text.empty());
  EXPECT_NE(text.back(), '\n');
  EXPECT_EQ(out.narrow(),
            "Error: FileUtil: read failed @ io.cpp:10\nSystem error [0x00000005] (" + text + ")");
  // The base rendering through a base reference still reaches the override.
  const Error& base = e;
  base.constructMessage("c.cpp", 1, out);
  EXPECT_NE(out.narrow().find("[0x00000005]"), std::string::npos);
  EXPECT_NE(out.narrow().find(" Caught at c.cpp:1"), std::string::npos);
  EXPECT_EQ(OSError::systemMessage(0x7ffffff0UL), "");
  OSError unknown("x.cpp", 1, 0xdeadbeefUL, "k");
  unknown.constructMessage(out);
  EXPECT_NE(out.narrow().find("[0xdeadbeef] ()"), std::string::npos);
}

TEST(OSError, TakesCurrentErrno) {
  errno = ENOENT;
  OSError e("x.cpp", 1, "FileUtil: open");
  EXPECT_EQ(e.errorCode(), static_cast<uint32_t>(ENOENT));
}

TEST(Error, CloneAndRethrowKeepDynamicType) {
  OSError original("x.cpp", 12, 13, "access");
  const Error& base = original;
  boost::shared_ptr<Error> copy = base.clone();
  auto* os = dynamic_cast<OSError*>(copy.get());
  ASSERT_NE(os, nullptr);
  EXPECT_EQ(os->errorCode(), 13u);
  EXPECT_STREQ(os->keystring(), "access");
  try {
    copy->rethrow();
  } catch (const OSError& caught) {
    EXPECT_EQ(caught.errorCode(), 13u);
    EXPECT_EQ(caught.line(), 12);
  } catch (...) {
    FAIL() << "rethrow lost the dynamic type";
  }
  Error plain("p.cpp", 1, "plain");
  EXPECT_THROW(plain.rethrow(), Error);
  EXPECT_EQ(dynamic_cast<OSError*>(plain.clone().get()), nullptr);
}

TEST(Error, DerivedWithoutOverridesFailsLoudly) {
  errortest::Incomplete e("x.cpp", 1, "k");
  try {
    e.clone();
    FAIL() << "clone sliced the derived error";
  } catch (const std::runtime_error& r) {
    EXPECT_STREQ(r.what(), "missing required errortest::Incomplete::clone implementation");
  }
  try {
    e.rethrow();
    FAIL() << "rethrow sliced the derived error";
  } catch (const std::runtime_error& r) {
    EXPECT_STREQ(r.what(), "missing required errortest::Incomplete::rethrow implementation");
  }
  errortest::IncompleteOS os("x.cpp", 1, 2UL, "k");
  EXPECT_THROW(os.clone(), std::runtime_error);
  EXPECT_THROW(os.rethrow(), std::runtime_error);
}
