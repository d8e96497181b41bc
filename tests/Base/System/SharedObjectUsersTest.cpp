// System-wide mutexes and shared counters between users: an object made by
// the service user is shared with its group and nobody else, and an object
// planted by another user is refused rather than joined. Each case runs a
// child as `nobody` (root only).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "Base/BaseTypes/Error.h"
#include "Base/System/Mutex.h"
#include "Base/System/OtherUser.h"
#include "Base/System/Platform/NamedMutex.h"
#include "Base/System/Platform/SharedCounter.h"
#include "TestUtil.h"

namespace tvan {
namespace {

using testutil::exitStatus;
using testutil::OtherUser;
using testutil::runAsOtherUser;
using testutil::runInChild;
using testutil::ScopedEnv;

// A name of this test alone (a process keeps what it made of a name, a
// refusal too); its mutex object and counter go at the end.
struct Name {
  explicit Name(const char* tag)
      : text(std::string("KEF_USERS_") + tag + "_" + std::to_string(::getpid()) + "_" +
             std::to_string(++sequence)) {}
  static inline int sequence = 0;
  ~Name() {
    ::shm_unlink(mutexObject().c_str());
    platform::SharedCounter::removeName(text);
  }
  std::string mutexObject() const { return platform::sharedObjectName(VString(text).wide()); }
  std::string text;
};

struct stat shmStatus(const std::string& object) {
  struct stat st {};
  EXPECT_EQ(::stat(("/dev/shm" + object).c_str(), &st), 0) << object;
  return st;
}

// Whether every way to take the mutex fails at once (and none waits).
bool everyLockFails(const std::string& name) {
  Mutex mutex(VString(name), kProcessMutex);
  int failures = 0;
  for (long timeout : {-1L, 1L}) {
    try {
      mutex.lock(kBlock, timeout);
    } catch (const Error&) {
      ++failures;
    }
  }
  try {
    mutex.lock(kNoBlock);
  } catch (const Error&) {
    ++failures;
  }
  return failures == 3;
}

// Makes the shared object of `object` as the other user, with `mode`.
bool plantAsOtherUser(const std::string& object, mode_t mode) {
  return runAsOtherUser([&] {
           const int fd = ::shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
           if (fd < 0 || ::fchmod(fd, mode) != 0 || ::ftruncate(fd, 4096) != 0) return 1;
           ::close(fd);
           return 0;
         }) == 0;
}

TEST(SharedObjectUsers, OutsiderCannotOpenMapOrLockAMutex) {
  SKIP_UNLESS_OTHER_USER();
  for (const char* setting : {"none", "root"}) {
    ScopedEnv env("KEF_SHARED_GROUP", setting);
    Name name(setting);
    // Made in a child, so that this process has no mapping to hand down.
    ASSERT_EQ(runInChild([&] {
                Mutex mutex(VString(name.text), kProcessMutex);
                return mutex.lock(kNoBlock) ? (mutex.unlock(), 0) : 1;
              }),
              0);
    const struct stat st = shmStatus(name.mutexObject());
    EXPECT_EQ(st.st_mode & 0777, std::string(setting) == "none" ? 0600u : 0660u);
    EXPECT_EQ(st.st_gid, 0u);

    EXPECT_EQ(runAsOtherUser([&] {
                const int fd = ::shm_open(name.mutexObject().c_str(), O_RDWR, 0);
                if (fd >= 0 || errno != EACCES) return 1;
                if (::shm_open(name.mutexObject().c_str(), O_RDONLY, 0) >= 0) return 2;
                return everyLockFails(name.text) ? 0 : 3;
              }),
              0)
        << setting;
  }
}

TEST(SharedObjectUsers, GroupMemberSharesTheMutex) {
  SKIP_UNLESS_OTHER_USER();
  const OtherUser& other = OtherUser::get();
  ScopedEnv env("KEF_SHARED_GROUP", "nogroup");
  Name name("group");
  int toChild[2], toParent[2];
  ASSERT_EQ(::pipe(toChild), 0);
  ASSERT_EQ(::pipe(toParent), 0);
  // Forked before this process opens the name: the child maps it itself.
  const pid_t child = testutil::spawnAsOtherUser([&] {
    char step;
    if (::read(toChild[0], &step, 1) != 1) return 1;
    Mutex mutex(VString(name.text), kProcessMutex);
    const char busy = mutex.lock(kNoBlock) ? 'f' : 'b';
    if (::write(toParent[1], &busy, 1) != 1 || ::read(toChild[0], &step, 1) != 1) return 2;
    if (!mutex.lock(kBlock, 5)) return 3;
    mutex.unlock();
    return busy == 'b' ? 0 : 4;
  });
  Mutex mutex(VString(name.text), kProcessMutex);
  ASSERT_TRUE(mutex.lock());
  const struct stat st = shmStatus(name.mutexObject());
  EXPECT_EQ(st.st_mode & 0777, 0660u);
  EXPECT_EQ(st.st_gid, other.group);
  char step = 'x';
  ASSERT_EQ(::write(toChild[1], &step, 1), 1);
  ASSERT_EQ(::read(toParent[0], &step, 1), 1);
  EXPECT_EQ(step, 'b') << "the group member saw the lock free while held here";
  mutex.unlock();
  ASSERT_EQ(::write(toChild[1], &step, 1), 1);
  EXPECT_EQ(exitStatus(child), 0);
  for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]}) ::close(fd);
}

// An object planted by another user fails every lock at once, said once;
// one planted by a member of the shared group is joined unless others may
// write it.
TEST(SharedObjectUsers, PlantedMutexObjectIsRefusedNotJoined) {
  SKIP_UNLESS_OTHER_USER();
  struct Case {
    const char* setting;
    mode_t mode;
    bool joined;
  };
  for (const Case& c : {Case{nullptr, 0666, false}, Case{nullptr, 0600, false}, Case{"none", 0644, false},
                        Case{"nogroup", 0666, false}, Case{"nogroup", 0660, true}}) {
    ScopedEnv env("KEF_SHARED_GROUP", c.setting);
    Name name(c.joined ? "joined" : "planted");
    ASSERT_TRUE(plantAsOtherUser(name.mutexObject(), c.mode));
    const std::string what = std::string(c.setting ? c.setting : "(unset)") + " " + std::to_string(c.mode);
    ::testing::internal::CaptureStderr();
    if (c.joined) {
      Mutex mutex(VString(name.text), kProcessMutex);
      EXPECT_TRUE(mutex.lock(kNoBlock)) << what;
      mutex.unlock();
      EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << what;
    } else {
      const bool failed = everyLockFails(name.text) && everyLockFails(name.text);
      const std::string said = ::testing::internal::GetCapturedStderr();
      EXPECT_TRUE(failed) << what;
      EXPECT_EQ(testutil::countOf(said, "refused"), 1u) << what << ": " << said;
      EXPECT_NE(said.find("uid " + std::to_string(OtherUser::get().uid)), std::string::npos) << said;
    }
  }
}

TEST(SharedObjectUsers, CountersAreSharedWithTheGroupOnly) {
  SKIP_UNLESS_OTHER_USER();
  for (const char* setting : {"nogroup", "root", "none"}) {
    ScopedEnv env("KEF_SHARED_GROUP", setting);
    const bool member = std::string(setting) == "nogroup";
    Name name(setting);
    ASSERT_EQ(runInChild([&] {
                platform::SharedCounter& counter = platform::SharedCounter::forName(name.text);
                counter.increment();
                return counter.isShared() ? 0 : 1;
              }),
              0);
    ::testing::internal::CaptureStderr();
    const int seen = runAsOtherUser([&] {
      platform::SharedCounter& counter = platform::SharedCounter::forName(name.text);
      if (counter.isShared() != member) return 10;
      counter.increment();
      return static_cast<int>(counter.load());
    });
    const std::string said = ::testing::internal::GetCapturedStderr();
    // A member sees the first increment; an outsider counts on its own.
    EXPECT_EQ(seen, member ? 2 : 1) << setting;
    EXPECT_EQ(testutil::countOf(said, "refused"), member ? 0u : 1u) << said;
  }
}

TEST(SharedObjectUsers, PlantedCounterIsRefusedAndTheCounterStaysPrivate) {
  SKIP_UNLESS_OTHER_USER();
  ScopedEnv env("KEF_SHARED_GROUP", nullptr);
  Name name("plantedcounter");
  ASSERT_TRUE(plantAsOtherUser("/tvan_counter." + name.text, 0666));
  ::testing::internal::CaptureStderr();
  platform::SharedCounter& counter = platform::SharedCounter::forName(name.text);
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_FALSE(counter.isShared());
  counter.increment();
  EXPECT_EQ(counter.load(), 1u);
  EXPECT_NE(said.find("owned by uid " + std::to_string(OtherUser::get().uid)), std::string::npos) << said;
}

}  // namespace
}  // namespace tvan
