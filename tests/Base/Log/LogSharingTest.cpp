// Who shares a log file, and writers that outlive what others do to it: the
// service user's files are shared with its group only, a file planted by
// another user is never written, and a file cut short under a writer's
// mapping ends no writer. The cases between users run a child as `nobody`
// (root only).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "Base/Log/Log.h"
#include "Base/Log/LogFileReader.h"
#include "Base/System/OtherUser.h"
#include "LogTestUtil.h"

namespace tvan {
namespace {

using testutil::exitStatus;
using testutil::OtherUser;
using testutil::ScopedEnv;

std::vector<LogEntry> entriesOf(const std::string& path) {
  std::vector<LogEntry> out;
  EXPECT_TRUE(LogFileReader::readAll(path, out)) << path;
  return out;
}

std::vector<std::string> messagesOf(const std::string& path) {
  std::vector<std::string> messages;
  for (const LogEntry& entry : entriesOf(path)) messages.push_back(entry.message);
  return messages;
}

TEST(LogSharing, FilesAreSharedWithTheGroupOnly) {
  SKIP_UNLESS_OTHER_USER();
  for (const char* setting : {"nogroup", "root"}) {
    const bool member = std::string(setting) == "nogroup";
    ScopedEnv env("KEF_SHARED_GROUP", setting);
    // A mutex name of its own each time: this process keeps what it mapped.
    static int round = 0;
    testing::useOwnLogMutex(std::string("share_") + setting + std::to_string(++round));
    testing::TempDir dir;
    testutil::openToEveryone(dir);
    const std::string path = dir.file("service.log");
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    // Forked before the log's objects exist here: the child opens them all.
    ::testing::internal::CaptureStderr();
    const pid_t child = testutil::spawnAsOtherUser([&] {
      char byte;
      if (::read(go[0], &byte, 1) != 1) return 1;
      const int fd = ::open(path.c_str(), O_RDWR);
      if ((fd >= 0) != member) return 2;
      Log log(path.c_str(), 0xFF, kLocationFile, 1, false, false);
      for (int i = 0; i < 3; ++i) log.log(kInfo, "s.cpp", 2, "member", "from the other user %d", i);
      return 0;
    });
    {
      Log log(path.c_str(), 0xFF, kLocationFile, 1, false, false);
      log.log(kInfo, "s.cpp", 1, "service", "from the service");
    }
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0660u);
    EXPECT_EQ(st.st_gid, member ? OtherUser::get().group : 0u);
    ASSERT_EQ(::write(go[1], "x", 1), 1);
    EXPECT_EQ(exitStatus(child), 0) << setting;
    const std::string said = ::testing::internal::GetCapturedStderr();
    ::close(go[0]);
    ::close(go[1]);

    const std::vector<std::string> messages = messagesOf(path);
    if (member) {
      EXPECT_EQ(messages.size(), 4u);
      EXPECT_EQ(said, "");
    } else {
      // The outsider cannot even take the log's mutex: its entries are
      // dropped, said once.
      EXPECT_EQ(messages, std::vector<std::string>{"from the service"});
      EXPECT_EQ(testutil::countOf(said, "Log: "), 1u) << said;
    }
  }
}

TEST(LogSharing, PlantedFileIsNeverWrittenAndSaidOnce) {
  SKIP_UNLESS_OTHER_USER();
  ScopedEnv env("KEF_SHARED_GROUP", nullptr);
  testing::useOwnLogMutex("planted");
  testing::TempDir dir;
  testutil::openToEveryone(dir);
  for (const bool flushAlways : {false, true}) {
    const std::string path = dir.file(flushAlways ? "flushed.log" : "kept.log");
    const std::string planted = "planted by another user";
    ASSERT_EQ(testutil::runAsOtherUser([&] {
                const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
                if (fd < 0 || ::fchmod(fd, 0666) != 0) return 1;
                const bool ok = ::write(fd, planted.data(), planted.size()) == static_cast<ssize_t>(planted.size());
                ::close(fd);
                return ok ? 0 : 2;
              }),
              0);
    Log log(path.c_str(), 0xFF, kLocationFile, 1, flushAlways, false);
    ::testing::internal::CaptureStderr();
    for (int i = 0; i < 3; ++i) log.log(kInfo, "p.cpp", 1, "f", "entry %d", i);
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(testing::readFile(path), planted);
    EXPECT_EQ(testutil::countOf(said, "are dropped"), 1u) << said;
    EXPECT_NE(said.find("owned by uid " + std::to_string(OtherUser::get().uid)), std::string::npos) << said;

    // Once the planted file is gone the log starts its own.
    ASSERT_EQ(::unlink(path.c_str()), 0);
    log.log(kInfo, "p.cpp", 2, "f", "after removal");
    EXPECT_EQ(messagesOf(path), std::vector<std::string>{"after removal"});
  }
}

TEST(LogSharing, OwnFileLeftWritableByEveryoneIsNarrowed) {
  testing::useOwnLogMutex("narrow");
  testing::TempDir dir;
  const std::string path = dir.file("wide.log");
  {
    Log log(path.c_str(), 0xFF, kLocationFile, 1, true, false);
    log.log(kInfo, "w.cpp", 1, "f", "before");
  }
  ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
  Log log(path.c_str(), 0xFF, kLocationFile, 1, true, false);
  log.log(kInfo, "w.cpp", 2, "f", "after");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0660u);
  EXPECT_EQ(messagesOf(path), (std::vector<std::string>{"before", "after"}));
}

// Another process cuts the file to nothing again and again while a writer
// logs in a loop: the writer lives on, and its last entries are in a valid
// file.
TEST(LogSharing, WriterOutlivesItsFileCutShort) {
  using namespace std::chrono_literals;
  testing::useOwnLogMutex("cut");
  for (const bool flushAlways : {false, true}) {
    testing::TempDir dir;
    const std::string path = dir.file("cut.log");
    int stop[2];
    ASSERT_EQ(::pipe(stop), 0);
    ASSERT_EQ(::fcntl(stop[0], F_SETFL, O_NONBLOCK), 0);
    ::testing::internal::CaptureStderr();
    const pid_t writer = testutil::spawnChild([&] {
      Log log(path.c_str(), 0xFF, kLocationFile, 5, flushAlways, false);
      char byte;
      for (int i = 0; ::read(stop[0], &byte, 1) != 1; ++i) log.log(kInfo, "c.cpp", 1, "loop", "entry %d", i);
      log.log(kInfo, "c.cpp", 2, "loop", "last entry");
      return 0;
    });
    for (int wait = 0; wait < 400 && ::access(path.c_str(), F_OK) != 0; ++wait) std::this_thread::sleep_for(5ms);
    for (int round = 0; round < 30; ++round) {
      ::truncate(path.c_str(), 0);
      std::this_thread::sleep_for(3ms);
    }
    ASSERT_EQ(::write(stop[1], "x", 1), 1);
    EXPECT_EQ(exitStatus(writer), 0) << "the writer did not survive (flush always " << flushAlways << ")";
    const std::string said = ::testing::internal::GetCapturedStderr();
    ::close(stop[0]);
    ::close(stop[1]);

    const std::vector<LogEntry> entries = entriesOf(path);
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.back().message, "last entry");
    for (const LogEntry& entry : entries) EXPECT_EQ(entry.kind, LogEntry::kEntry) << entry.text;
    // A writer that keeps its file mapped meets the cut in the mapping.
    if (!flushAlways) {
      EXPECT_EQ(testutil::countOf(said, "was cut short"), 1u) << said;
    }
  }
}

}  // namespace
}  // namespace tvan
