#pragma once
// Helpers shared by the log tests: a private directory per test, whole-file
// reads, and a mutex name of this process so that test programs running in
// parallel do not serialise on one another.
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "Base/BaseTypes/VString.h"
#include "Base/Log/Log.h"
#include "Base/System/Platform/NamedMutex.h"
#include "Base/System/Platform/SharedCounter.h"

namespace tvan {
namespace testing {

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/tvan_log_test.XXXXXX";
    const char* made = ::mkdtemp(pattern);
    path_ = made ? made : "/tmp";
  }
  ~TempDir() {
    const std::string command = "rm -rf '" + path_ + "'";
    if (std::system(command.c_str()) != 0) {
      // Leftovers in /tmp are harmless.
    }
  }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline std::string readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Gives every log constructed afterwards a mutex of this process's own; the
// mutex object and the rollover counter kept for that name go when the test
// program ends.
inline void useOwnLogMutex(const std::string& tag) {
  static std::vector<std::string>* names = [] {
    static std::vector<std::string> list;
    const pid_t owner = ::getpid();
    static pid_t ownerPid = owner;
    std::atexit([] {
      if (::getpid() != ownerPid) return;  // forked writers leave it alone
      for (const std::string& name : list) {
        platform::SharedCounter::removeName(name);
        ::shm_unlink(platform::sharedObjectName(tvan::VString(name).wide()).c_str());
      }
    });
    return &list;
  }();
  const std::string name = "TVAN_LOG_TEST_" + tag + "_" + std::to_string(::getpid());
  names->push_back(name);
  Log::SetMutexName(name);
}

}  // namespace testing
}  // namespace tvan
