// Writers logging onto a full file system: they go on running, the file stays
// readable, and the entries lost are counted once space is back.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "Base/Log/Log.h"
#include "Base/Log/LogFileReader.h"
#include "LogTestUtil.h"
#include "SmallFileSystem.h"

namespace tvan {
namespace {

using testutil::exitStatus;
using testutil::SmallFileSystem;
using testutil::spawnChild;

constexpr int kEntriesBeyondFull = 10000;
constexpr int kGiveUpAfter = 400000;  // entries; the disk should be full long before
const char kLostSuffix[] = " log entries were lost for lack of disk space";

long long headerOffsetOf(const std::string& path) {
  LogFileReader reader;
  LogFileHeader header;
  if (!reader.open(path) || !reader.readHeader(header)) return -1;
  return header.nextWriteOffset;
}

// Logs until an entry of its own leaves the header where it was (nothing else
// moves the header once the disk is full), then kEntriesBeyondFull more.
// Exit status 0 when that happened, 2 when the disk never filled.
int logPastFullDisk(const std::string& path, int writer, bool flushAlways) {
  Log log(path.c_str(), 0xFF, kLocationFile, 20, flushAlways, false);
  log.setComponentName("FULL");
  int beyond = -1;
  for (int i = 0; i < kGiveUpAfter; ++i) {
    const long long before = headerOffsetOf(path);
    log.log(kInfo, "LogFullDiskTest.cpp", 1, "writer", "w%d %06d padding to make the entry longer", writer,
            i);
    if (beyond < 0 && before > 0 && headerOffsetOf(path) == before) beyond = 0;
    if (beyond >= 0 && ++beyond > kEntriesBeyondFull) return 0;
  }
  return 2;
}

// The file is still the pre-sized file, its header names the end of its last
// complete entry, and every entry reads back whole.
void expectIntactFile(const std::string& path, std::vector<LogEntry>& entries) {
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 20 * 1000 * 1000);
  ASSERT_TRUE(LogFileReader::readAll(path, entries));
  ASSERT_FALSE(entries.empty());
  for (const LogEntry& entry : entries) ASSERT_EQ(entry.kind, LogEntry::kEntry) << entry.text;
  const LogEntry& last = entries.back();
  EXPECT_EQ(headerOffsetOf(path), last.offset + static_cast<long long>(last.text.size()) + 2);
}

// Standard error of the child goes to `errorFile`.
void redirectStandardError(const std::string& errorFile) {
  const int fd = ::open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd >= 0) {
    ::dup2(fd, 2);
    ::close(fd);
  }
}

int countOccurrences(const std::string& text, const std::string& part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST(LogFullDisk, WriterOutlivesAFullDiskAndReportsItOnce) {
  SmallFileSystem fs("2m");
  if (!fs.mounted()) GTEST_SKIP() << fs.skipReason();
  testing::useOwnLogMutex("full1");
  testing::TempDir dir;
  const std::string path = fs.file("full.log");
  const std::string errors = dir.file("stderr.txt");
  const pid_t child = spawnChild([&] {
    redirectStandardError(errors);
    return logPastFullDisk(path, 0, false);
  });
  ASSERT_EQ(exitStatus(child), 0);

  std::vector<LogEntry> entries;
  expectIntactFile(path, entries);
  // One report for the whole shortage, not one per entry.
  const std::string reported = testing::readFile(errors);
  EXPECT_EQ(countOccurrences(reported, "dropped until there is space"), 1) << reported;
  EXPECT_EQ(countOccurrences(reported, "\n"), 1) << reported;
}

TEST(LogFullDisk, FourWritersOutliveAFullDiskOnOneFile) {
  SmallFileSystem fs("2m");
  if (!fs.mounted()) GTEST_SKIP() << fs.skipReason();
  testing::useOwnLogMutex("full4");
  testing::TempDir dir;
  const std::string path = fs.file("shared.log");
  std::vector<pid_t> children;
  for (int writer = 0; writer < 4; ++writer) {
    // Two keep the file open (allocation ahead), two close it after every
    // entry (allocation per entry), as a plain log does.
    children.push_back(spawnChild([&] {
      redirectStandardError(dir.file("stderr" + std::to_string(writer)));
      return logPastFullDisk(path, writer, writer % 2 == 1);
    }));
  }
  for (pid_t child : children) EXPECT_EQ(exitStatus(child), 0);

  std::vector<LogEntry> entries;
  expectIntactFile(path, entries);
  // Each writer's entries are in its own order, none twice.
  std::map<int, int> lastIndex;
  for (const LogEntry& entry : entries) {
    int writer = -1, index = -1;
    if (entry.message.find(kLostSuffix) != std::string::npos) continue;
    ASSERT_EQ(std::sscanf(entry.message.c_str(), "w%d %d", &writer, &index), 2) << entry.text;
    auto found = lastIndex.find(writer);
    if (found != lastIndex.end()) {
      EXPECT_GT(index, found->second) << entry.text;
    }
    lastIndex[writer] = index;
  }
  EXPECT_EQ(lastIndex.size(), 4u);
}

TEST(LogFullDisk, SpaceFreedBringsEntriesBackWithTheCountOfTheLost) {
  SmallFileSystem fs("2m");
  if (!fs.mounted()) GTEST_SKIP() << fs.skipReason();
  testing::useOwnLogMutex("freed");
  const std::string path = fs.file("freed.log");
  const std::string filler = "filler";
  const pid_t child = spawnChild([&]() -> int {
    Log log(path.c_str(), 0xFF, kLocationFile, 20, false, false);
    log.setComponentName("FREED");
    log.log(kInfo, "LogFullDiskTest.cpp", 1, "writer", "first");
    fs.fill(filler);
    int lost = 0;
    for (int i = 0; i < kGiveUpAfter && lost < 500; ++i) {
      const long long before = headerOffsetOf(path);
      log.log(kInfo, "LogFullDiskTest.cpp", 2, "writer", "entry %06d", i);
      if (headerOffsetOf(path) == before) ++lost;
    }
    if (lost < 500) return 2;
    if (::unlink(fs.file(filler).c_str()) != 0) return 3;
    log.log(kError, "LogFullDiskTest.cpp", 3, "writer", "after the space came back");
    log.log(kInfo, "LogFullDiskTest.cpp", 4, "writer", "and the next");
    return 0;
  });
  ASSERT_EQ(exitStatus(child), 0);

  std::vector<LogEntry> entries;
  expectIntactFile(path, entries);
  ASSERT_GE(entries.size(), 4u);
  const LogEntry& notice = entries[entries.size() - 3];
  EXPECT_EQ(notice.message, std::string("500") + kLostSuffix);
  EXPECT_EQ(notice.component, "FREED");
  EXPECT_EQ(notice.level, "ERROR");
  EXPECT_EQ(notice.line, 3);
  EXPECT_EQ(entries[entries.size() - 2].message, "after the space came back");
  EXPECT_EQ(entries.back().message, "and the next");
  // The entries before the shortage are all there, in order.
  int expected = 0;
  for (size_t i = 1; i + 3 < entries.size(); ++i) {
    int index = -1;
    ASSERT_EQ(std::sscanf(entries[i].message.c_str(), "entry %d", &index), 1) << entries[i].text;
    EXPECT_EQ(index, expected++);
  }
}

TEST(LogFullDisk, FileCreatedOnAFullDiskFailsCleanly) {
  SmallFileSystem fs("1m");
  if (!fs.mounted()) GTEST_SKIP() << fs.skipReason();
  testing::useOwnLogMutex("create");
  testing::TempDir dir;
  const std::string path = fs.file("late.log");
  const std::string errors = dir.file("stderr.txt");
  const pid_t child = spawnChild([&] {
    redirectStandardError(errors);
    fs.fill();
    Log log(path.c_str(), 0xFF, kLocationFile, 20, true, false);
    for (int i = 0; i < 100; ++i) log.log(kInfo, "LogFullDiskTest.cpp", 1, "writer", "entry %d", i);
    return 0;
  });
  ASSERT_EQ(exitStatus(child), 0);
  EXPECT_NE(::access(path.c_str(), F_OK), 0) << "a file without its header was left behind";
  EXPECT_NE(::access((path + ".old").c_str(), F_OK), 0) << "an empty file went to the backup";
  const std::string reported = testing::readFile(errors);
  EXPECT_EQ(countOccurrences(reported, "Unable to open logfile (" + path + ").\n"), 1) << reported;
}

}  // namespace
}  // namespace tvan
