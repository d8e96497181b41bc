#pragma once
// Helpers shared by the log tests, above all a mutex name of this process so
// that test programs running in parallel do not serialise on one another.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "Base/BaseTypes/VString.h"
#include "Base/Log/Log.h"
#include "Base/System/Platform/NamedMutex.h"
#include "Base/System/Platform/SharedCounter.h"
#include "TestUtil.h"

namespace tvan {
namespace testing {

using testutil::readFile;
using testutil::TempDir;
using testutil::writeFile;

// Gives every log constructed afterwards a mutex of this process's own; the
// mutex object and the rollover counter kept for that name go when the test
// program ends.
inline void useOwnLogMutex(const std::string& tag) {
  static std::vector<std::string> names;
  static const pid_t owner = ::getpid();
  static const bool registered =
      std::atexit([] {
        if (::getpid() != owner) return;  // forked writers leave it alone
        for (const std::string& name : names) {
          platform::SharedCounter::removeName(name);
          ::shm_unlink(platform::sharedObjectName(tvan::VString(name).wide()).c_str());
        }
      }) == 0;
  (void)registered;
  const std::string name = "TVAN_LOG_TEST_" + tag + "_" + std::to_string(::getpid());
  names.push_back(name);
  Log::SetMutexName(name);
}

}  // namespace testing
}  // namespace tvan
