// Stores into a file mapping that another party cut short: inside a guard
// they end the guarded code and are reported; outside one they still end the
// process as before.
#include "Base/System/Platform/BusErrorGuard.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "TestUtil.h"

namespace tvan {
namespace {

using platform::BusErrorGuard;

// Two pages of a file mapped shared, then the file cut to nothing.
class CutMapping {
 public:
  CutMapping() {
    const std::string path = dir_.file("mapped");
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT, 0600);
    EXPECT_EQ(::ftruncate(fd_, 2 * kPage), 0);
    map_ = static_cast<char*>(::mmap(nullptr, 2 * kPage, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0));
    EXPECT_NE(map_, MAP_FAILED);
    map_[0] = 'x';
    EXPECT_EQ(::ftruncate(fd_, 0), 0);
  }
  ~CutMapping() {
    ::munmap(map_, 2 * kPage);
    ::close(fd_);
  }
  char* map() { return map_; }
  static constexpr size_t kPage = 4096;

 private:
  testutil::TempDir dir_;
  int fd_ = -1;
  char* map_ = nullptr;
};

TEST(BusErrorGuard, StoreIntoACutMappingEndsTheGuardedCode) {
  CutMapping cut;
  int reached = 0;
  auto store = [&] {
    ++reached;
    cut.map()[CutMapping::kPage + 1] = 'y';
    ++reached;
  };
  EXPECT_FALSE(BusErrorGuard::run(store));
  EXPECT_EQ(reached, 1);
  // The guard is left as it was: the next faults are caught again, and code
  // that does not fault runs to its end.
  auto read = [&] { reached += cut.map()[0]; };
  EXPECT_FALSE(BusErrorGuard::run(read));
  auto fine = [&] { reached = 42; };
  EXPECT_TRUE(BusErrorGuard::run(fine));
  EXPECT_EQ(reached, 42);
}

TEST(BusErrorGuard, InnerGuardCatchesAndTheOuterGoesOn) {
  CutMapping cut;
  bool innerCaught = false;
  auto outer = [&] {
    auto inner = [&] { cut.map()[0] = 'z'; };
    innerCaught = !BusErrorGuard::run(inner);
    cut.map()[1] = 'z';  // caught by the outer guard
  };
  EXPECT_FALSE(BusErrorGuard::run(outer));
  EXPECT_TRUE(innerCaught);
}

TEST(BusErrorGuard, FaultOutsideAGuardStillEndsTheProcess) {
  const pid_t child = testutil::spawnChild([] {
    auto nothing = [] {};
    BusErrorGuard::run(nothing);  // the handler is installed
    CutMapping cut;
    cut.map()[0] = 'z';
    return 0;
  });
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  // Killed by SIGBUS, or stopped with an error by a sanitizer's handler that
  // was installed before the guard's.
  EXPECT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
}  // namespace tvan
