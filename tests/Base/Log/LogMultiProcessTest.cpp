// Several processes writing one log file through the shared mapping.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "Base/Log/Log.h"
#include "Base/Log/LogFileReader.h"
#include "LogTestUtil.h"

namespace tvan {
namespace {

constexpr int kWriters = 4;
constexpr int kEntriesPerWriter = 20000;

using testutil::exitStatus;
using testutil::spawnChild;

TEST(LogMultiProcess, FourWritersLoseNothingAcrossOneRollover) {
  testing::useOwnLogMutex("mp");
  testing::TempDir dir;
  const std::string path = dir.file("shared.log");
  // About 118 bytes per entry, 80,000 entries: past 5 MB once, never twice.
  const std::string padding(30, 'p');
  std::vector<pid_t> children;
  for (int writer = 0; writer < kWriters; ++writer) {
    children.push_back(spawnChild([&] {
      Log log(path.c_str(), 0xFF, kLocationFile, 5, false, false);
      log.setComponentName("MP");
      for (int i = 0; i < kEntriesPerWriter; ++i) {
        log.log(kInfo, "LogMultiProcessTest.cpp", 1, "writer", "w%d %06d %s", writer, i,
                padding.c_str());
      }
      return 0;
    }));
  }
  for (pid_t child : children) EXPECT_EQ(exitStatus(child), 0);

  std::vector<LogEntry> all;
  ASSERT_TRUE(LogFileReader::readAll(path + ".old", all));
  const size_t inBackup = all.size();
  ASSERT_TRUE(LogFileReader::readAll(path, all));
  EXPECT_GT(inBackup, 0u);
  EXPECT_LT(inBackup, all.size());

  std::set<std::pair<int, int>> seen;
  for (const LogEntry& entry : all) {
    ASSERT_EQ(entry.kind, LogEntry::kEntry) << entry.text;
    int writer = -1, index = -1;
    char tail[64] = {};
    ASSERT_EQ(std::sscanf(entry.message.c_str(), "w%d %d %63s", &writer, &index, tail), 3)
        << entry.text;
    EXPECT_EQ(tail, padding) << entry.text;
    EXPECT_TRUE(seen.insert({writer, index}).second) << "twice: " << entry.text;
  }
  EXPECT_EQ(seen.size(), static_cast<size_t>(kWriters * kEntriesPerWriter));
}

TEST(LogMultiProcess, WriterKilledWhileWritingLeavesAUsableFile) {
  testing::useOwnLogMutex("kill");
  testing::TempDir dir;
  const std::string path = dir.file("killed.log");
  for (int round = 0; round < 3; ++round) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = spawnChild([&]() -> int {
      Log log(path.c_str(), 0xFF, kLocationFile, 5, round == 1, false);
      log.log(kInfo, "k.cpp", 1, "victim", "started");
      if (::write(ready[1], "x", 1) != 1) return 1;
      for (int i = 0;; ++i) log.log(kInfo, "k.cpp", 2, "victim", "entry %d of the victim", i);
    });
    char byte;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::usleep(20000 + round * 7000);
    ::kill(child, SIGKILL);
    exitStatus(child);
    ::close(ready[0]);
    ::close(ready[1]);

    Log log(path.c_str(), 0xFF, kLocationFile, 5, false, false);
    log.log(kInfo, "k.cpp", 3, "survivor", "after round %d", round);
  }

  std::vector<LogEntry> entries;
  if (::access((path + ".old").c_str(), F_OK) == 0) {
    ASSERT_TRUE(LogFileReader::readAll(path + ".old", entries));
  }
  ASSERT_TRUE(LogFileReader::readAll(path, entries));
  ASSERT_FALSE(entries.empty());
  EXPECT_EQ(entries.back().message, "after round 2");
  int unparsed = 0, survivors = 0;
  for (const LogEntry& entry : entries) {
    if (entry.kind != LogEntry::kEntry) ++unparsed;
    if (entry.function == "survivor") ++survivors;
  }
  EXPECT_EQ(survivors, 3);
  EXPECT_EQ(unparsed, 0);
}

}  // namespace
}  // namespace tvan
