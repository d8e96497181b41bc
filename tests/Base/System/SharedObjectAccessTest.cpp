// The trust rules for objects shared between processes, as one user sees
// them: the settings, the modes objects are created with, and which existing
// objects are joined, narrowed or refused.
#include "Base/System/Platform/SharedObjectAccess.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "Base/System/OtherUser.h"
#include "TestUtil.h"

namespace tvan {
namespace {

using platform::SharedObjectAccess;

mode_t modeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

struct stat statusOf(uid_t uid, gid_t gid, mode_t mode) {
  struct stat st {};
  st.st_uid = uid;
  st.st_gid = gid;
  st.st_mode = S_IFREG | mode;
  return st;
}

TEST(SharedObjectAccess, SettingNamesTheGroupOrNone) {
  const SharedObjectAccess unset(nullptr);
  EXPECT_TRUE(unset.sharesGroup());
  EXPECT_EQ(unset.group(), ::getegid());
  EXPECT_EQ(unset.mode(), 0660u);
  EXPECT_EQ(SharedObjectAccess("").group(), ::getegid());

  for (const char* none : {"none", "NONE"}) {
    const SharedObjectAccess isPrivate(none);
    EXPECT_FALSE(isPrivate.sharesGroup()) << none;
    EXPECT_EQ(isPrivate.mode(), 0600u) << none;
  }
  EXPECT_EQ(SharedObjectAccess("4242").group(), 4242u);
  EXPECT_EQ(SharedObjectAccess("root").group(), 0u);

  // A name that is no group shares with nobody, rather than with a guess;
  // said once per name.
  static int round = 0;
  const std::string name = "kef-no-such-group-" + std::to_string(++round);
  ::testing::internal::CaptureStderr();
  const SharedObjectAccess unknown(name.c_str());
  const SharedObjectAccess again(name.c_str());
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_FALSE(unknown.sharesGroup());
  EXPECT_EQ(unknown.mode(), 0600u);
  EXPECT_EQ(testutil::countOf(said, name + " "), 1u) << said;
}

TEST(SharedObjectAccess, CurrentFollowsTheEnvironment) {
  {
    testutil::ScopedEnv env("KEF_SHARED_GROUP", "none");
    EXPECT_FALSE(SharedObjectAccess::current().sharesGroup());
  }
  {
    testutil::ScopedEnv env("KEF_SHARED_GROUP", "4243");
    EXPECT_EQ(SharedObjectAccess::current().group(), 4243u);
  }
  testutil::ScopedEnv env("KEF_SHARED_GROUP", nullptr);
  EXPECT_EQ(SharedObjectAccess::current().group(), ::getegid());
}

// The umask neither widens nor narrows what objects are created with.
TEST(SharedObjectAccess, CreatedObjectsGetTheirModeWhateverTheUmask) {
  testutil::TempDir dir;
  const std::string shm = "/kef_access_test_" + std::to_string(::getpid());
  int round = 0;
  for (const mode_t mask : {mode_t{0}, mode_t{022}, mode_t{0777}}) {
    for (const char* setting : {"", "none"}) {
      const SharedObjectAccess access(setting);
      const mode_t old = ::umask(mask);
      const std::string path = dir.file("object" + std::to_string(++round));
      const SharedObjectAccess::Opened file = access.open(SharedObjectAccess::kFile, path, O_RDWR, true);
      const SharedObjectAccess::Opened memory = access.open(SharedObjectAccess::kSharedMemory, shm, O_RDWR, true);
      ::umask(old);
      ASSERT_GE(file.fd, 0);
      ASSERT_GE(memory.fd, 0);
      EXPECT_TRUE(file.created);
      EXPECT_TRUE(memory.created);
      EXPECT_EQ(modeOf(path), access.mode()) << std::oct << mask << " " << setting;
      EXPECT_EQ(modeOf("/dev/shm" + shm), access.mode()) << std::oct << mask << " " << setting;
      EXPECT_EQ(file.status.st_gid, access.group());
      ::close(file.fd);
      ::close(memory.fd);
      ::shm_unlink(shm.c_str());
    }
  }
}

TEST(SharedObjectAccess, ObjectsGoToTheSharedGroupWhenThatMayBeGiven) {
  testutil::TempDir dir;
  const SharedObjectAccess access("4244");
  const SharedObjectAccess::Opened made = access.open(SharedObjectAccess::kFile, dir.file("g"), O_RDWR, true);
  ASSERT_GE(made.fd, 0);
  ::close(made.fd);
  struct stat st {};
  ASSERT_EQ(::stat(dir.file("g").c_str(), &st), 0);
  if (::geteuid() == 0) {
    EXPECT_EQ(st.st_gid, 4244u);
    EXPECT_EQ(st.st_mode & 0777, 0660u);
  } else {
    // Not a group of ours: the object stays private rather than 0660 with a
    // group nobody chose.
    EXPECT_EQ(st.st_mode & 0777, 0600u);
  }
}

TEST(SharedObjectAccess, OwnersAndWriteBitsDecide) {
  const uid_t self = ::geteuid();
  const SharedObjectAccess shared("4245");
  EXPECT_EQ(shared.refusal(statusOf(self, 4245, 0660)), "");
  EXPECT_EQ(shared.refusal(statusOf(0, 4245, 0660)), "") << "root is trusted";
  EXPECT_EQ(shared.refusal(statusOf(self, 12345, 0640)), "") << "others' group may read";
  EXPECT_NE(shared.refusal(statusOf(self, 4245, 0666)).find("writable by every user"), std::string::npos);
  EXPECT_NE(shared.refusal(statusOf(0, 12345, 0660)).find("not the shared group"), std::string::npos);
  // A user without an entry in the user database is nobody's member.
  const uid_t stranger = self == 4246 ? 4247 : 4246;
  EXPECT_NE(shared.refusal(statusOf(stranger, 4245, 0600)).find("is owned by uid"), std::string::npos);

  struct stat fifo = statusOf(self, 4245, 0600);
  fifo.st_mode = S_IFIFO | 0600;
  EXPECT_EQ(shared.refusal(fifo), "is not a regular file");

  const SharedObjectAccess isPrivate("none");
  EXPECT_NE(isPrivate.refusal(statusOf(self, ::getegid(), 0660)), "");
  EXPECT_EQ(isPrivate.refusal(statusOf(self, ::getegid(), 0640)), "");
}

// (A member list naming the user is not tried: a fresh system has none.)
TEST(SharedObjectAccess, PrimaryGroupMakesAMember) {
  const testutil::OtherUser& other = testutil::OtherUser::get();
  if (!other.found || ::geteuid() == other.uid) GTEST_SKIP() << "needs nobody, as another user";
  EXPECT_TRUE(SharedObjectAccess(std::to_string(other.group).c_str()).hasMember(other.uid));
  EXPECT_FALSE(SharedObjectAccess("root").hasMember(other.uid));
  EXPECT_FALSE(SharedObjectAccess("none").hasMember(other.uid));
  // An owner of the group is trusted, one outside it is not.
  const SharedObjectAccess shared(std::to_string(other.group).c_str());
  EXPECT_EQ(shared.refusal(statusOf(other.uid, other.group, 0660)), "");
  EXPECT_NE(SharedObjectAccess("root").refusal(statusOf(other.uid, other.group, 0600)), "");
}

// Our own object left 0666 (by an earlier version) is narrowed and joined;
// links and special files are refused.
TEST(SharedObjectAccess, ExistingObjectsAreNarrowedOrRefused) {
  testutil::TempDir dir;
  const SharedObjectAccess access(nullptr);
  const std::string wide = dir.file("wide");
  testutil::writeFile(wide, "kept");
  ASSERT_EQ(::chmod(wide.c_str(), 0666), 0);
  const SharedObjectAccess::Opened joined = access.open(SharedObjectAccess::kFile, wide, O_RDWR, true);
  ASSERT_GE(joined.fd, 0) << joined.refusal;
  EXPECT_FALSE(joined.created);
  ::close(joined.fd);
  EXPECT_EQ(modeOf(wide), 0660u);
  EXPECT_EQ(testutil::readFile(wide), "kept");

  const std::string link = dir.file("link");
  ASSERT_EQ(::symlink(wide.c_str(), link.c_str()), 0);
  const SharedObjectAccess::Opened viaLink = access.open(SharedObjectAccess::kFile, link, O_RDWR, true);
  EXPECT_LT(viaLink.fd, 0);
  EXPECT_EQ(viaLink.refusal, "is a symbolic link");

  const std::string fifo = dir.file("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const SharedObjectAccess::Opened special = access.open(SharedObjectAccess::kFile, fifo, O_RDONLY, false);
  EXPECT_LT(special.fd, 0);
  EXPECT_EQ(special.refusal, "is not a regular file");

  const SharedObjectAccess::Opened missing =
      access.open(SharedObjectAccess::kFile, dir.file("missing"), O_RDONLY, false);
  EXPECT_LT(missing.fd, 0);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(missing.refusal, "");
}

}  // namespace
}  // namespace tvan
