// Who may open the request database file: the service user and its group;
// a file, or a write-ahead log, planted by another user is refused with the
// reason. The cases between users run a child as `nobody` (root only).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "Base/System/OtherUser.h"
#include "KEF/Database/internal/Connection.h"
#include "KEF/Database/internal/DatabaseError.h"
#include "KEF/Database/internal/Statement.h"
#include "TestUtil.h"

namespace tvan {
namespace {

using dbinternal::DatabaseError;
using dbinternal::openConnection;
using testutil::OtherUser;
using testutil::ScopedEnv;

struct stat statusOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st;
}

// The reason openConnection gives, or "" when it opens.
std::string refusalOf(const std::string& path, bool createMissing) {
  try {
    openConnection(path, createMissing);
  } catch (const DatabaseError& error) {
    return error.what();
  }
  return std::string();
}

// Writes one row through a connection of its own.
bool writeRow(const std::string& path, const std::string& uid) {
  try {
    auto connection = openConnection(path, false);
    connection->begin(true);
    dbinternal::Statement& insert =
        connection->prepare("INSERT INTO requests (uid, status, changed_at) VALUES (?, 'new', 1)");
    insert.bindText(1, uid);
    insert.step();
    insert.reset();
    connection->commit();
    return true;
  } catch (const DatabaseError&) {
    return false;
  }
}

TEST(DatabaseAccess, FileAndCompanionsGetTheSharedGroupAndMode) {
  for (const char* setting : {"none", ""}) {
    ScopedEnv env("KEF_SHARED_GROUP", setting);
    testutil::TempDir dir("kef_db_access");
    const std::string path = dir.file("sub/requests.db");
    const mode_t old = ::umask(0);  // what the file is made with must not depend on it
    auto connection = openConnection(path, true);
    ::umask(old);
    const mode_t expected = *setting == '\0' ? 0660 : 0600;
    for (const char* suffix : {"", "-wal", "-shm"}) {
      const struct stat st = statusOf(path + suffix);
      EXPECT_EQ(st.st_mode & 0777, expected) << setting << suffix;
      EXPECT_EQ(st.st_gid, ::getegid()) << setting << suffix;
    }
  }
}

TEST(DatabaseAccess, SharedWithTheGroupAndNobodyElse) {
  SKIP_UNLESS_OTHER_USER();
  for (const char* setting : {"nogroup", "root", "none"}) {
    const bool member = std::string(setting) == "nogroup";
    ScopedEnv env("KEF_SHARED_GROUP", setting);
    testutil::TempDir dir("kef_db_access");
    testutil::openToEveryone(dir);
    const std::string path = dir.file("requests.db");
    // Kept open, so that the write-ahead log and its index stay.
    auto connection = openConnection(path, true);
    ASSERT_TRUE(writeRow(path, "service"));
    if (member) {
      EXPECT_EQ(statusOf(path).st_gid, OtherUser::get().group);
      EXPECT_EQ(statusOf(path + "-wal").st_gid, OtherUser::get().group);
    }
    EXPECT_EQ(testutil::runAsOtherUser([&] {
                if ((::open(path.c_str(), O_RDONLY) >= 0) != member) return 1;
                return writeRow(path, "member") == member ? 0 : 2;
              }),
              0)
        << setting;
  }
}

TEST(DatabaseAccess, PlantedFilesAreRefusedWithTheReason) {
  SKIP_UNLESS_OTHER_USER();
  ScopedEnv env("KEF_SHARED_GROUP", nullptr);
  testutil::TempDir dir("kef_db_access");
  testutil::openToEveryone(dir);
  const std::string owner = "owned by uid " + std::to_string(OtherUser::get().uid);
  auto plant = [](const std::string& path, mode_t mode) {
    return testutil::runAsOtherUser([&] {
             const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
             if (fd < 0 || ::fchmod(fd, mode) != 0) return 1;
             ::close(fd);
             return 0;
           }) == 0;
  };

  // An empty database file, which SQLite would take as new and fill.
  const std::string empty = dir.file("empty.db");
  ASSERT_TRUE(plant(empty, 0644));
  const std::string why = refusalOf(empty, true);
  EXPECT_NE(why.find(owner), std::string::npos) << why;
  EXPECT_NE(why.find("refused"), std::string::npos) << why;
  EXPECT_EQ(statusOf(empty).st_size, 0);

  // A write-ahead log beside a database of ours would be replayed into it.
  const std::string ours = dir.file("ours.db");
  openConnection(ours, true);
  ::unlink((ours + "-wal").c_str());
  ::unlink((ours + "-shm").c_str());
  ASSERT_TRUE(plant(ours + "-wal", 0600));
  EXPECT_NE(refusalOf(ours, false).find("write-ahead log"), std::string::npos);
  ASSERT_EQ(::unlink((ours + "-wal").c_str()), 0);
  EXPECT_EQ(refusalOf(ours, false), "");

  // Ours, but left writable by everyone: narrowed, then opened.
  ASSERT_EQ(::chmod(ours.c_str(), 0666), 0);
  EXPECT_EQ(refusalOf(ours, false), "");
  EXPECT_EQ(statusOf(ours).st_mode & 0777, 0660u);

  const std::string link = dir.file("link.db");
  ASSERT_EQ(::symlink(ours.c_str(), link.c_str()), 0);
  EXPECT_NE(refusalOf(link, false).find("symbolic link"), std::string::npos);
}

}  // namespace
}  // namespace tvan
