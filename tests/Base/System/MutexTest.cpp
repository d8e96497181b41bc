#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <tuple>

#include "Base/BaseTypes/Error.h"
#include "Base/System/FunctionMutex.h"
#include "Base/System/Mutex.h"
#include "Base/System/Platform/NamedMutex.h"
#include "Base/System/ScopedGuard.h"
#include "TestUtil.h"

namespace tvan {
namespace {

// A system-wide name private to this test run; its shared object is removed
// afterwards.
struct UniqueName {
  explicit UniqueName(const char* tag)
      : text(std::string("KEF_TEST_") + tag + "_" + std::to_string(getpid())) {}
  ~UniqueName() { shm_unlink(platform::sharedObjectName(VString(text).wide()).c_str()); }
  std::string text;
};

using testutil::runInChild;

// Whether another thread can take the mutex at once (it releases it again).
bool otherThreadGets(const Mutex& m) {
  bool got = false;
  std::thread([&] {
    got = m.lock(kNoBlock);
    if (got) m.unlock();
  }).join();
  return got;
}

TEST(Mutex, ProcessMutexExcludesOtherProcesses) {
  UniqueName name("exclude");
  Mutex mutex(VString(name.text), kProcessMutex);
  ASSERT_TRUE(mutex.lock());
  EXPECT_EQ(0, runInChild([&] {
              Mutex other(VString(name.text), kProcessMutex);
              return other.lock(kNoBlock) ? 1 : 0;
            }));
  mutex.unlock();
  EXPECT_EQ(0, runInChild([&] {
              Mutex other(VString(name.text), kProcessMutex);
              if (!other.lock(kNoBlock)) return 1;
              other.unlock();
              return 0;
            }));
}

TEST(Mutex, ProcessMutexSerialisesReadModifyWriteAcrossProcesses) {
  UniqueName name("counter");
  auto* counter = static_cast<volatile int*>(
      mmap(nullptr, sizeof(int), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(MAP_FAILED, (void*)counter);
  *counter = 0;
  constexpr int kRounds = 2000;
  auto body = [&] {
    Mutex m(VString(name.text), kProcessMutex);
    for (int i = 0; i < kRounds; ++i) {
      FunctionMutex guard(&m);
      const int seen = *counter;
      if (i % 16 == 0) sched_yield();
      *counter = seen + 1;
    }
    return 0;
  };
  const pid_t children[2] = {testutil::spawnChild(body), testutil::spawnChild(body)};
  for (pid_t child : children) EXPECT_EQ(0, testutil::exitStatus(child));
  EXPECT_EQ(2 * kRounds, *counter);
  munmap((void*)counter, sizeof(int));
}

TEST(Mutex, HolderThatDiedCountsAsReleased) {
  UniqueName name("dead");
  ASSERT_EQ(0, runInChild([&] {
              Mutex m(VString(name.text), kProcessMutex);
              m.lock();
              m.lock();
              return 0;  // ends holding it twice
            }));
  Mutex mutex(VString(name.text), kProcessMutex);
  ASSERT_TRUE(mutex.lock(kNoBlock));
  EXPECT_FALSE(otherThreadGets(mutex));
  mutex.unlock();
  EXPECT_TRUE(otherThreadGets(mutex));

  // A thread of this process that ends holding it releases it as well.
  std::thread([&] { mutex.lock(); }).join();
  EXPECT_TRUE(mutex.lock(kNoBlock));
  mutex.unlock();
}

TEST(Mutex, BothKindsAreRecursiveAndNoBlockFailsForOthers) {
  UniqueName name("recursive");
  for (MutexType type : {kThreadMutex, kProcessMutex}) {
    SCOPED_TRACE(type);
    Mutex m(VString(name.text), type);
    ASSERT_TRUE(m.lock());
    ASSERT_TRUE(m.lock(kNoBlock));
    ASSERT_TRUE(m.lock());
    EXPECT_FALSE(otherThreadGets(m));
    m.unlock();
    m.unlock();
    EXPECT_FALSE(otherThreadGets(m));
    m.unlock();
    EXPECT_TRUE(otherThreadGets(m));
  }
}

TEST(Mutex, SharingFollowsKindAndName) {
  UniqueName name("sharing");
  // {name, kind, whether a second object of that name is the same lock}
  const std::tuple<std::string, MutexType, bool> cases[] = {{name.text, kThreadMutex, false},
                                                            {name.text, kProcessMutex, true},
                                                            {"", kProcessMutex, false}};
  for (const auto& c : cases) {
    Mutex a(VString(std::get<0>(c)), std::get<1>(c));
    Mutex b(VString(std::get<0>(c)), std::get<1>(c));
    a.lock();
    EXPECT_EQ(!std::get<2>(c), otherThreadGets(b)) << std::get<0>(c) << " " << std::get<1>(c);
    EXPECT_FALSE(otherThreadGets(a));
    a.unlock();
  }
}

std::string lockError(const Mutex& m, long timeout) {
  try {
    m.lock(kBlock, timeout);
  } catch (const Error& e) {
    return e.keystring();
  }
  return "no error";
}

TEST(Mutex, TimedLocks) {
  UniqueName name("timed");
  Mutex local(VString("local"), kThreadMutex);
  EXPECT_EQ("Mutex: Attempt to acquire lock failed. (Name: local, Process Mutex: False)",
            lockError(local, 1));

  Mutex shared(VString(name.text), kProcessMutex);
  EXPECT_TRUE(shared.lock(kBlock, 1));
  std::string error;
  std::chrono::steady_clock::duration waited{};
  std::thread([&] {
    const auto start = std::chrono::steady_clock::now();
    error = lockError(shared, 1);
    waited = std::chrono::steady_clock::now() - start;
  }).join();
  shared.unlock();
  EXPECT_EQ("Mutex: Attempt to acquire lock failed. (Name: " + name.text + ", Process Mutex: True)",
            error);
  EXPECT_GE(waited, std::chrono::milliseconds(900));
}

TEST(Mutex, ReleaseFailuresAndNamesBeyondLatin1) {
  UniqueName name("release");
  Mutex shared(VString(name.text), kProcessMutex);
  try {
    shared.unlock();
    ADD_FAILURE() << "unlocking a mutex not held must throw";
  } catch (const Error& e) {
    EXPECT_EQ("Mutex: Could not release lock. (Name: " + name.text + ", Process Mutex: True)",
              std::string(e.keystring()));
  }
  Mutex wide(VString(u"wide\u0100"), kThreadMutex);
  EXPECT_TRUE(wide.isValid());
  EXPECT_THROW(wide.getExceptionString("x"), Error);
}

TEST(Mutex, GuardsHoldForTheirScope) {
  Mutex m(VString("guarded"));  // in-process by default
  EXPECT_EQ("x (Name: guarded, Process Mutex: False)", m.getExceptionString("x"));
  {
    FunctionMutex guard(&m);
    EXPECT_FALSE(otherThreadGets(m));
  }
  EXPECT_TRUE(otherThreadGets(m));
  {
    ScopedGuard<Mutex, ResourceTraits<Mutex>> guard(&m);
    EXPECT_FALSE(otherThreadGets(m));
  }
  EXPECT_TRUE(otherThreadGets(m));

  // A guard whose release fails (the lock was given up inside its scope)
  // must not end the process from its destructor.
  UniqueName name("guard");
  Mutex shared(VString(name.text), kProcessMutex);
  {
    FunctionMutex guard(&shared);
    shared.unlock();
  }
  {
    ScopedGuard<Mutex, ResourceTraits<Mutex>> guard(&shared);
    shared.unlock();
  }
  EXPECT_TRUE(otherThreadGets(shared));
}

TEST(Mutex, SharedObjectNamesAreDistinctAndBounded) {
  using platform::sharedObjectName;
  EXPECT_NE(sharedObjectName(u"a/b"), sharedObjectName(u"a_b"));
  EXPECT_NE(sharedObjectName(u"a/b"), sharedObjectName(u"a%002Fb"));
  EXPECT_NE(sharedObjectName(u"\u0100"), sharedObjectName(u"\u0101"));
  const std::u16string longA(300, u'a');
  const std::u16string longB = longA + u'b';
  EXPECT_LT(sharedObjectName(longA).size(), 255u);
  EXPECT_NE(sharedObjectName(longA), sharedObjectName(longB));
  EXPECT_EQ(std::string::npos, sharedObjectName(u"x/y\\z").find('/', 1));
}

}  // namespace
}  // namespace tvan
