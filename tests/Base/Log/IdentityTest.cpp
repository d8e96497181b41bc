#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "Base/System/Platform/Identity.h"

namespace tvan {
namespace platform {
namespace {

// Sets or removes one environment variable for a scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name), had_(::getenv(name) != nullptr) {
    if (had_) old_ = ::getenv(name);
    value ? ::setenv(name, value, 1) : ::unsetenv(name);
  }
  ~ScopedEnv() { had_ ? ::setenv(name_, old_.c_str(), 1) : ::unsetenv(name_); }

 private:
  const char* name_;
  bool had_;
  std::string old_;
};

TEST(Identity, ExpandsVariablesAndFallsBackForUserAndDomain) {
  {
    ScopedEnv domain("USERDOMAIN", "CORP");
    ScopedEnv user("USERNAME", "alice");
    EXPECT_EQ(expandEnvironment("%USERDOMAIN%/%USERNAME%"), "CORP/alice");
  }
  {
    ScopedEnv domain("USERDOMAIN", nullptr);
    ScopedEnv user("USERNAME", nullptr);
    EXPECT_EQ(expandEnvironment("%USERDOMAIN%/%USERNAME%"),
              domainName() + "/" + effectiveUserName());
    EXPECT_FALSE(effectiveUserName().empty());
  }
  ScopedEnv unset("TVAN_SURELY_UNSET_VARIABLE", nullptr);
  ScopedEnv set("TVAN_SET_VARIABLE", "v");
  EXPECT_EQ(expandEnvironment("a%TVAN_SURELY_UNSET_VARIABLE%TVAN_SET_VARIABLE%b"),
            "a%TVAN_SURELY_UNSET_VARIABLEvb");
  EXPECT_EQ(expandEnvironment("100% sure"), "100% sure");
  EXPECT_EQ(expandEnvironment(std::string(300, 'x')).size(), 255u);
}

}  // namespace
}  // namespace platform
}  // namespace tvan
