#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "Base/Log/Log.h"
#include "Base/Log/LogFileReader.h"
#include "LogTestUtil.h"

namespace tvan {
namespace {

using testing::TempDir;
using testing::writeFile;

const char kDate[] = "2024/02/29 23:59:58.99";

// A file with a header naming `offset` and `body` from byte 200 on.
std::string logFileBytes(long long offset, const std::string& body, size_t size = 4096) {
  std::string bytes(200, ' ');
  const std::string mark = "aa" + std::to_string(offset);
  bytes.replace(0, mark.size(), mark);
  bytes.replace(198, 2, "\r\n");
  bytes += body;
  if (bytes.size() < size) bytes.resize(size, '\0');
  return bytes;
}

TEST(LogFileReader, ParsesEntryAndAuditLines) {
  LogEntry entry;
  ASSERT_TRUE(
      parseLogLine(std::string(kDate) + "\tComp\t12\t34\tf.cpp\t56\tA::b()\tDEBUG2:\tx\ty", entry));
  EXPECT_EQ(entry.kind, LogEntry::kEntry);
  EXPECT_EQ(entry.threadId, 34);
  EXPECT_EQ(entry.level, "DEBUG2");
  EXPECT_EQ(entry.message, "x\ty");

  ASSERT_TRUE(
      parseLogLine(std::string(kDate) + "\tP 1 2\thost\tdom/user\tUNKNOWN\tEV\tmsg", entry));
  EXPECT_EQ(entry.kind, LogEntry::kAudit);
  EXPECT_EQ(entry.user, "dom/user");
  EXPECT_EQ(entry.event, "EV");

  for (const std::string& line : {std::string(), std::string("no tabs at all"),
                                  std::string("2024/02/29\tComp\t1\t2\tf\t3\tfn\tINFO:\tm"),
                                  std::string(kDate) + "\tC\t1\t2\tf\t3"}) {
    EXPECT_FALSE(parseLogLine(line, entry)) << line;
    EXPECT_EQ(entry.kind, LogEntry::kOther);
    EXPECT_EQ(entry.text, line);
  }
  // Not an entry (the pid is no number), though it has the audit form.
  parseLogLine(std::string(kDate) + "\tComp\tpid\t2\tf\t3\tfn\tINFO:\tm", entry);
  EXPECT_EQ(entry.kind, LogEntry::kAudit);
  EXPECT_EQ(logLevelFromText("PERFORMANCE"), kPerformance);
  EXPECT_EQ(logLevelFromText("info"), 0);
}

TEST(LogFileReader, ReadsUpToTheHeaderOffsetSkippingZeroBytes) {
  TempDir dir;
  const std::string path = dir.file("r.log");
  const std::string first = std::string(kDate) + "\tC\t1\t2\tf\t3\tfn\tINFO:\tone";
  const std::string second = std::string(kDate) + "\tC\t1\t2\tf\t4\tfn\tINFO:\ttwo";
  const std::string body = first + "\r\n" + std::string(5, '\0') + second + "\r\n";
  writeFile(path, logFileBytes(200 + static_cast<long long>(body.size()), body + "beyond\r\n"));

  std::vector<LogEntry> entries;
  ASSERT_TRUE(LogFileReader::readAll(path, entries));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].message, "one");
  EXPECT_EQ(entries[0].offset, 200);
  EXPECT_EQ(entries[1].message, "two");
  EXPECT_EQ(entries[1].offset, static_cast<long long>(200 + first.size() + 2 + 5));
}

TEST(LogFileReader, RejectsDamagedHeaders) {
  TempDir dir;
  const std::string path = dir.file("bad.log");
  for (const std::string& bytes : {"zz300" + logFileBytes(300, "").substr(5), logFileBytes(150, ""),
                                   logFileBytes(5000, ""), std::string("a")}) {
    writeFile(path, bytes);
    std::vector<LogEntry> entries;
    EXPECT_FALSE(LogFileReader::readAll(path, entries)) << bytes.substr(0, 8);
  }
}

TEST(LogFileReader, FollowsNewEntriesAndNoticesARollover) {
  testing::useOwnLogMutex("reader");
  TempDir dir;
  const std::string path = dir.file("follow.log");
  Log log(path.c_str(), 0xFF, kLocationFile, 1, false, false);
  log.log(kInfo, "x.cpp", 1, "f", "one");

  LogFileReader reader;
  ASSERT_TRUE(reader.open(path));
  std::vector<LogEntry> seen;
  EXPECT_EQ(reader.readNew(seen), 1);
  EXPECT_EQ(reader.readNew(seen), 0);
  log.log(kInfo, "x.cpp", 2, "f", "two");
  EXPECT_EQ(reader.readNew(seen), 1);
  EXPECT_FALSE(reader.isReplaced());

  const std::string filler(900, 'z');
  int written = 0;
  for (; ::access((path + ".old").c_str(), F_OK) != 0; ++written)
    log.log(kInfo, "x.cpp", 3, "f", filler);
  log.log(kInfo, "x.cpp", 4, "f", "in the new file");
  EXPECT_TRUE(reader.isReplaced());
  EXPECT_EQ(reader.readNew(seen), written) << "the rest of the backup";
  ASSERT_TRUE(reader.open(path));
  EXPECT_EQ(reader.readNew(seen), 1);
  EXPECT_EQ(seen.back().message, "in the new file");
}

}  // namespace
}  // namespace tvan
