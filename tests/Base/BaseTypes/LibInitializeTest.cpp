#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "Base/BaseTypes/AppInfo.h"
#include "Base/BaseTypes/LibInitialize.h"
#include "TestUtil.h"

using tvan::AppInfo;
using tvan::LibInitialize;
using tvan::VString;

namespace inittest {

// An initialiser of a given priority that counts its calls.
class Counting : public LibInitialize {
 public:
  explicit Counting(int priority) : priority_(priority) {}
  void init(const VString&) override { ++inits; }
  void fini() override { ++finis; }
  int priority() const override { return priority_; }
  int inits = 0;
  int finis = 0;

 private:
  int priority_;
};

class Early : public Counting {
 public:
  Early() : Counting(0) {}
};

class Late : public Counting {
 public:
  Late() : Counting(50) {}
};

class Never : public Counting {
 public:
  Never() : Counting(101) {}
};

class TestApp : public AppInfo {
 public:
  VString name() const override { return VString("tester"); }
};

// Runs `body` in a forked child, whose library state the test may tear down
// and rebuild freely. Mismatches are reported on standard error.
bool inChild(const std::function<bool()>& body) {
  return testutil::runInChild([&] { return body() ? 0 : 1; }) == 0;
}

bool expectText(const std::string& actual, const std::string& expected) {
  if (actual == expected) return true;
  std::fprintf(stderr, "expected:\n%s\nactual:\n%s\n", expected.c_str(), actual.c_str());
  return false;
}

}  // namespace inittest

using inittest::Counting;

TEST(LibInitialize, RunsByPriorityAndFinalizesInReverse) {
  EXPECT_TRUE(inittest::inChild([] {
    LibInitialize::finalize();  // undo the test program's own initialisation
    inittest::Late late;
    inittest::Never never;
    inittest::Early early;
    testing::internal::CaptureStdout();
    LibInitialize::initialize(VString("KEF_DLL"), true, false);
    std::string up = testing::internal::GetCapturedStdout();
    testing::internal::CaptureStdout();
    LibInitialize::finalize();
    std::string down = testing::internal::GetCapturedStdout();
    // Same priority: the most recently constructed first.
    bool ok = inittest::expectText(up,
                                   "\tInitializing (0): inittest::Early\n"
                                   "\tInitializing (0): tvan::CollectableInit\n"
                                   "\tInitializing (50): inittest::Late\n");
    ok &= inittest::expectText(down,
                               "\tFinalizing: inittest::Late\n"
                               "\tFinalizing: tvan::CollectableInit\n"
                               "\tFinalizing: inittest::Early\n");
    ok &= never.inits == 0 && late.inits == 1 && late.finis == 1;
    ok &= LibInitialize::applicationName() == VString("KEF_DLL");
    return ok;
  }));
}

TEST(LibInitialize, ApplicationNameKeeps99Units) {
  EXPECT_TRUE(inittest::inChild([] {
    std::string longName(150, 'n');
    LibInitialize::initialize(VString(longName));
    return LibInitialize::applicationName() == VString(longName.substr(0, 99));
  }));
}

TEST(LibInitialize, DestroyedInitialiserIsNeverFinalised) {
  EXPECT_EQ(LibInitialize::applicationName(), VString("KEF_TEST"));
  {
    Counting counting(10);
    LibInitialize::initialize(VString("KEF_TEST"));
    EXPECT_EQ(counting.inits, 1);
  }
  // Destroyed while initialised: the program's final finalize() must not
  // reach it (AddressSanitizer would report it).
  EXPECT_TRUE(LibInitialize::isInitialized());
}

TEST(LibInitialize, WarnsWhenDestroyedBeforeFinalize) {
  EXPECT_TRUE(inittest::inChild([] {
    LibInitialize::initialize(VString("KEF_DLL"), false, true);
    testing::internal::CaptureStdout();
    { Counting leaving(20); }
    std::string warned = testing::internal::GetCapturedStdout();
    LibInitialize::finalize();
    LibInitialize::finalize();
    testing::internal::CaptureStdout();
    { Counting quiet(20); }
    std::string silent = testing::internal::GetCapturedStdout();
    return inittest::expectText(
               warned, "LibInitialize object tvan::LibInitialize not finalized properly!\n") &&
           inittest::expectText(silent, "");
  }));
}

TEST(AppInfo, DefaultsUntilTheApplicationReplacesThem) {
  const AppInfo& d = AppInfo::info();
  EXPECT_EQ(d.name() + VString("|") + d.version() + VString("|") + d.status() + VString("|") +
                d.buildStream() + VString("|") + d.buildVersion() + VString("|") + d.buildDate(),
            VString("unknown|unknown|Unreleased|Stream|Build Version|Build Date"));
  EXPECT_EQ(d.majorVersion() + d.patchVersion(), 0);
  {
    inittest::TestApp app;  // replaces (and frees) the library's default
    EXPECT_EQ(&AppInfo::info(), &app);
    EXPECT_EQ(AppInfo::info().name(), VString("tester"));
    EXPECT_EQ(AppInfo::info().status(), VString("Unreleased"));
  }
  EXPECT_EQ(AppInfo::info().name(), VString("unknown"));
}
