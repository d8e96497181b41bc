#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "Base/BaseTypes/Error.h"
#include "Base/System/FunctionMutex.h"
#include "Base/System/Mutex.h"
#include "Base/System/Platform/LockOwner.h"
#include "Base/System/Platform/NamedMutex.h"
#include "Base/System/Platform/ThreadStop.h"
#include "Base/System/ScopedGuard.h"
#include "TestUtil.h"

namespace tvan {
namespace {

// A system-wide name private to this test run; its shared object is removed
// afterwards. A process keeps its mapping of a name, so a name is never used
// again after its object is gone (--gtest_repeat).
struct UniqueName {
  explicit UniqueName(const char* tag)
      : text(std::string("KEF_TEST_") + tag + "_" + std::to_string(getpid()) + "_" +
             std::to_string(++sequence)) {}
  ~UniqueName() { shm_unlink(platform::sharedObjectName(VString(text).wide()).c_str()); }
  UniqueName(const UniqueName&) = delete;
  UniqueName& operator=(const UniqueName&) = delete;
  std::string text;
  static inline int sequence = 0;
};

using testutil::runInChild;
using namespace std::chrono_literals;

uint32_t threadId() { return static_cast<uint32_t>(::syscall(SYS_gettid)); }

// A child's exit status, or -2 (after killing it) when it has not ended
// within `limit`.
int exitStatusWithin(pid_t pid, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return -2;
    }
    std::this_thread::sleep_for(5ms);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Another mapping of a name's shared object, to see and forge its owner word.
class OwnerWord {
 public:
  explicit OwnerWord(const std::string& name) {
    const int fd = shm_open(platform::sharedObjectName(VString(name).wide()).c_str(), O_RDWR, 0);
    EXPECT_GE(fd, 0);
    map_ = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    EXPECT_NE(MAP_FAILED, map_);
  }
  ~OwnerWord() { munmap(map_, 4096); }
  std::atomic<uint64_t>& operator*() {
    return *reinterpret_cast<std::atomic<uint64_t>*>(static_cast<char*>(map_) + platform::kOwnerWordOffset);
  }

 private:
  void* map_;
};

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

// Read-modify-write of a plain counter under the lock, from several threads
// (and for the system-wide kind several processes), with recursion and
// yields inside to provoke sleeping waiters: no update may be lost.
TEST(Mutex, ContendedCountingLosesNoUpdates) {
  UniqueName name("counter");
  auto* counter = static_cast<volatile int*>(
      mmap(nullptr, sizeof(int), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(MAP_FAILED, (void*)counter);
  constexpr int kRounds = 3000;
  constexpr int kThreads = 3;
  auto count = [&](const Mutex& m) {
    for (int i = 0; i < kRounds; ++i) {
      FunctionMutex outer(m);
      FunctionMutex inner(m);
      const int seen = *counter;
      if (i % 16 == 0) sched_yield();
      *counter = seen + 1;
    }
  };
  auto inThreads = [&](const Mutex& m) {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) threads.emplace_back([&] { count(m); });
    for (std::thread& t : threads) t.join();
  };

  *counter = 0;
  Mutex local(VString(name.text), kThreadMutex);
  inThreads(local);
  EXPECT_EQ(kThreads * kRounds, *counter);

  *counter = 0;
  auto body = [&] {
    Mutex m(VString(name.text), kProcessMutex);
    inThreads(m);
    return 0;
  };
  const pid_t children[2] = {testutil::spawnChild(body), testutil::spawnChild(body)};
  for (pid_t child : children) EXPECT_EQ(0, exitStatusWithin(child, 60s));
  EXPECT_EQ(2 * kThreads * kRounds, *counter);
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
}

// Runs in a thread: takes and releases the lock, waiting at most 10 s (so that
// a failure ends the test instead of hanging it); true when it got it.
bool lockWithinTenSeconds(const Mutex& m) {
  try {
    if (!m.lock(kBlock, 10)) return false;
  } catch (const Error&) {
    return false;
  }
  m.unlock();
  return true;
}

// Waiters already asleep on the lock, one in another process and one in this
// one, get it when the holder process is killed, while it is still an
// unreaped zombie.
TEST(Mutex, BlockedWaitersGetTheLockOfAKilledHolder) {
  UniqueName name("killed");
  Mutex mutex(VString(name.text), kProcessMutex);
  OwnerWord word(name.text);
  const pid_t holder = testutil::spawnChild([&] {
    Mutex m(VString(name.text), kProcessMutex);
    m.lock();
    for (;;) ::pause();
    return 0;
  });
  while ((*word).load() == 0) std::this_thread::sleep_for(1ms);
  const pid_t waiter = testutil::spawnChild([&] {
    Mutex m(VString(name.text), kProcessMutex);
    m.lock();
    m.unlock();
    return 0;
  });
  std::atomic<bool> got{false};
  std::thread local([&] { got = lockWithinTenSeconds(mutex); });
  std::this_thread::sleep_for(300ms);
  EXPECT_FALSE(got);
  EXPECT_EQ(0, ::waitpid(waiter, nullptr, WNOHANG)) << "the other waiter must still wait";

  const auto killed = std::chrono::steady_clock::now();
  ::kill(holder, SIGKILL);
  EXPECT_EQ(0, exitStatusWithin(waiter, 10s));
  local.join();
  EXPECT_TRUE(got);
  EXPECT_LT(std::chrono::steady_clock::now() - killed, 3s);
  EXPECT_EQ(-1, testutil::exitStatus(holder));
  EXPECT_TRUE(otherThreadGets(mutex));
}

// A thread that ends while holding the lock (twice) releases it: to a
// thread already waiting for it, to a try and to a timed lock.
TEST(Mutex, HolderThreadThatEndsReleasesIt) {
  UniqueName name("thread_end");
  Mutex mutex(VString(name.text), kProcessMutex);
  std::promise<void> holding;
  std::promise<void> end;
  std::thread holder([&] {
    mutex.lock();
    mutex.lock();
    holding.set_value();
    end.get_future().wait();
  });
  holding.get_future().wait();
  std::atomic<bool> got{false};
  std::thread waiter([&] { got = lockWithinTenSeconds(mutex); });
  std::this_thread::sleep_for(300ms);
  EXPECT_FALSE(got);
  const auto ended = std::chrono::steady_clock::now();
  end.set_value();
  holder.join();
  waiter.join();
  EXPECT_TRUE(got);
  EXPECT_LT(std::chrono::steady_clock::now() - ended, 3s);

  for (long timeout : {-1L, 5L}) {
    std::thread([&] { mutex.lock(); }).join();
    EXPECT_TRUE(timeout == -1 ? mutex.lock(kNoBlock) : mutex.lock(kBlock, timeout));
    EXPECT_FALSE(otherThreadGets(mutex));
    mutex.unlock();
  }
  EXPECT_TRUE(otherThreadGets(mutex));
}

// Thread ids are reused: an owner word naming a live thread counts as held
// only when that thread is the one that stored it (it started no later than
// the identity's time).
TEST(Mutex, RecordedOwnerWhoseThreadIdWasReusedCountsAsEnded) {
  UniqueName name("reuse");
  Mutex mutex(VString(name.text), kProcessMutex);
  OwnerWord word(name.text);
  std::promise<uint32_t> started;
  std::promise<void> end;
  std::thread live([&] {
    started.set_value(threadId());
    end.get_future().wait();
  });
  const uint32_t liveId = started.get_future().get();
  timespec now;
  clock_gettime(CLOCK_BOOTTIME, &now);
  const uint32_t bootSeconds = static_cast<uint32_t>(now.tv_sec);

  // {recorded owner, whether a try takes the lock}
  const std::tuple<uint64_t, bool> cases[] = {
      {platform::makeLockOwner(liveId, bootSeconds), false},  // the live thread itself
      {platform::makeLockOwner(liveId, 1), true},             // an earlier thread with its id
      {platform::makeLockOwner(threadId(), 1), true},         // an earlier thread with our id
  };
  for (const auto& c : cases) {
    (*word).store(std::get<0>(c));
    const bool got = mutex.lock(kNoBlock);
    EXPECT_EQ(std::get<1>(c), got) << std::hex << std::get<0>(c);
    if (got) mutex.unlock();
    EXPECT_EQ(got ? 0u : std::get<0>(c), (*word).load());
  }
  (*word).store(0);
  end.set_value();
  live.join();
}

// Objects whose set-up never finished (their creator died before sizing
// them, or left garbage) are set up again by the next user.
TEST(Mutex, UnfinishedSharedObjectsAreSetUpAgain) {
  UniqueName name("unfinished");
  const std::string object = platform::sharedObjectName(VString(name.text).wide());
  for (bool garbage : {false, true}) {
    shm_unlink(object.c_str());
    const int fd = shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    if (garbage) {
      const std::string bytes(4096, '\xff');
      ASSERT_EQ(4096, ::write(fd, bytes.data(), bytes.size()));
    }
    ::close(fd);
    // A mapping in another process, as on the next run.
    EXPECT_EQ(0, runInChild([&] {
                Mutex m(VString(name.text), kProcessMutex);
                if (!m.lock(kNoBlock)) return 1;
                m.unlock();
                return 0;
              }))
        << garbage;
  }
}

// Both kinds are recursive; only the holder releases (another thread's
// unlock leaves it held; the system-wide kind says so by throwing). Every
// hold, at every depth and however taken, is a library critical section of
// the holding thread; failed locks and releases change nothing.
TEST(Mutex, RecursiveHoldsAreCriticalSectionsReleasedOnlyByTheHolder) {
  using platform::tlsProtectedDepth;
  UniqueName name("recursive");
  for (MutexType type : {kThreadMutex, kProcessMutex}) {
    SCOPED_TRACE(type);
    Mutex m(VString(name.text), type);
    const int base = tlsProtectedDepth;
    ASSERT_TRUE(m.lock());
    ASSERT_TRUE(m.lock(kNoBlock));
    const int holds = type == kProcessMutex ? 3 : 2;
    if (holds == 3) {
      ASSERT_TRUE(m.lock(kBlock, 1));
    }
    EXPECT_EQ(base + holds, tlsProtectedDepth);

    std::string error = "none";
    int otherDepth = -1;
    std::thread([&] {
      EXPECT_FALSE(m.lock(kNoBlock));
      try {
        m.unlock();
      } catch (const Error& e) {
        error = e.keystring();
      }
      otherDepth = tlsProtectedDepth;
    }).join();
    EXPECT_EQ(type == kProcessMutex
                  ? "Mutex: Could not release lock. (Name: " + name.text + ", Process Mutex: True)"
                  : "none",
              error);
    EXPECT_EQ(0, otherDepth);

    for (int i = 1; i < holds; ++i) m.unlock();
    EXPECT_FALSE(otherThreadGets(m));
    m.unlock();
    EXPECT_EQ(base, tlsProtectedDepth);
    EXPECT_TRUE(otherThreadGets(m));
  }
}

// A thread records its system-wide holds in a small table of its own: it
// may hold eight distinct names at once (each any number of times); a ninth
// fails as any lock failure does.
TEST(Mutex, AThreadHoldsAtMostEightSystemWideNamesAtOnce) {
  std::deque<UniqueName> names;
  std::vector<std::unique_ptr<Mutex>> mutexes;
  for (int i = 0; i < 9; ++i) {
    names.emplace_back("many");
    mutexes.emplace_back(new Mutex(VString(names.back().text), kProcessMutex));
  }
  for (int i = 0; i < 8; ++i) ASSERT_TRUE(mutexes[i]->lock());
  EXPECT_TRUE(mutexes[7]->lock(kNoBlock));
  EXPECT_THROW(mutexes[8]->lock(), Error);
  EXPECT_THROW(mutexes[8]->lock(kNoBlock), Error);
  mutexes[7]->unlock();
  mutexes[3]->unlock();
  EXPECT_TRUE(mutexes[8]->lock());
  for (int i : {0, 1, 2, 4, 5, 6, 7, 8}) mutexes[i]->unlock();
  for (const auto& m : mutexes) EXPECT_TRUE(otherThreadGets(*m));
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
