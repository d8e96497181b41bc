#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "Base/Log/Log.h"
#include "Base/Log/LogFileReader.h"
#include "Base/System/DirectoryReport.h"
#include "LogTestUtil.h"

namespace tvan {
namespace {

using testing::readFile;
using testing::writeFile;

class LogFile : public ::testing::Test {
 protected:
  void SetUp() override { testing::useOwnLogMutex("log"); }

  std::vector<LogEntry> entries(const std::string& path) {
    std::vector<LogEntry> out;
    EXPECT_TRUE(LogFileReader::readAll(path, out)) << path;
    return out;
  }
  bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

  testing::TempDir dir_;
};

long long headerOffset(const std::string& bytes) { return std::atoll(bytes.c_str() + 2); }

TEST_F(LogFile, NewFileIsPresizedWithHeaderAndFirstEntryAt200) {
  const std::string path = dir_.file("new.log");
  {
    Log log(path.c_str(), 0xFF, kLocationFile, 1, false, false);
    log.setComponentName("Comp");
    log.log(kInfo, "src/dir\\sub/Source.cpp", 42, "Klass::method()", "hello %d", 7);
  }
  const std::string bytes = readFile(path);
  ASSERT_EQ(bytes.size(), 1000000u);
  EXPECT_EQ(bytes.substr(0, 2), "aa");
  EXPECT_EQ(bytes.substr(50, 30), "Tovan Studio Log File - rev aa");
  EXPECT_EQ(bytes.substr(80, 20), std::string(20, ' '));
  EXPECT_EQ(bytes.substr(198, 2), "\r\n");

  const size_t lineEnd = bytes.find("\r\n", 200);
  ASSERT_NE(lineEnd, std::string::npos);
  const std::string line = bytes.substr(200, lineEnd - 200);
  EXPECT_EQ(headerOffset(bytes), static_cast<long long>(200 + line.size() + 2));
  // A three-digit offset keeps the terminator written with "200".
  EXPECT_EQ(bytes[5], '\0');
  EXPECT_EQ(bytes.find_first_not_of('\0', lineEnd + 2), std::string::npos);

  LogEntry e;
  ASSERT_TRUE(parseLogLine(line, e));
  EXPECT_EQ(e.kind, LogEntry::kEntry);
  EXPECT_EQ(e.processId, ::getpid());
  EXPECT_EQ(e.component + "|" + e.sourceFile + "|" + std::to_string(e.line) + "|" + e.function +
                "|" + e.level + "|" + e.message,
            "Comp|Source.cpp|42|Klass::method()|INFO|hello 7");

  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0660u) << "log files are shared with the user's group only";
}

TEST_F(LogFile, EmptyMessageWritesNoLine) {
  const std::string path = dir_.file("empty.log");
  Log log(path.c_str(), 0xFF, kLocationFile | kLocationStdout, 1, true, false);
  ::testing::internal::CaptureStdout();
  log.log(kInfo, "f.cpp", 1, "f", "%s", "");
  log.log(kInfo, "f.cpp", 1, "f", std::string());
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_FALSE(exists(path));
}

TEST_F(LogFile, LongMessagesAndColumnsAreChunkedRepeatingTheColumns) {
  const std::string path = dir_.file("chunks.log");
  Log log(path.c_str(), 0xFF, kLocationFile, 1, true, false);
  log.setComponentName("C");
  std::string message;
  for (int i = 0; message.size() < 3000; ++i) message += std::to_string(i) + ",";
  log.log(kWarning, "a/b/file.cpp", 9, "fn", message);

  const size_t chunk = 1019 - 24 - (22 + 1 + std::string("a/b/file.cpp").size() + 2 + 7);
  const std::vector<LogEntry> lines = entries(path);
  ASSERT_EQ(lines.size(), (message.size() + chunk - 1) / chunk);
  std::string joined;
  for (const LogEntry& e : lines) {
    EXPECT_EQ(e.component + "|" + e.sourceFile + "|" + e.level, "C|file.cpp|WARNING");
    EXPECT_LE(e.message.size(), chunk);
    joined += e.message;
  }
  EXPECT_EQ(lines[0].message.size(), chunk);
  EXPECT_EQ(joined, message);

  // Fixed columns longer than a line still end.
  const std::string wide = dir_.file("wide.log");
  Log wideLog(wide.c_str(), 0xFF, kLocationFile, 1, true, false);
  const std::string function(1500, 'f');
  wideLog.log(kInfo, "x.cpp", 1, function.c_str(), "abc");
  const std::vector<LogEntry> wideLines = entries(wide);
  ASSERT_EQ(wideLines.size(), 3u);
  EXPECT_EQ(wideLines[0].message + wideLines[1].message + wideLines[2].message, "abc");
  EXPECT_EQ(wideLines[2].function, function);
}

TEST_F(LogFile, LineBreaksBecomeSpacesInTheFileOnly) {
  const std::string path = dir_.file("crlf.log");
  Log log(path.c_str(), 0xFF, kLocationFile | kLocationStdout, 1, true, false);
  ::testing::internal::CaptureStdout();
  log.log(kInfo, "x.cpp", 1, "f", "one\r\ntwo\nthree");
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("INFO:\tone\r\ntwo\nthree\n"), std::string::npos) << out;
  const std::vector<LogEntry> lines = entries(path);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].message, "one  two three");
}

TEST_F(LogFile, LevelMaskAndLevelTexts) {
  const std::string path = dir_.file("mask.log");
  Log log(path.c_str(), 0x12, kLocationFile, 1, false, false);
  log.log(kWarning, "x.cpp", 1, "f", "dropped");
  log.log(kInfo, "x.cpp", 2, nullptr, "kept %s", "info");
  log.log(static_cast<ELogLevel>(kError | kCritical), "x.cpp", 3, "f", "several bits");
  log.log("Other", kError, "x.cpp", 4, "f", std::string("%s %d not expanded"));
  log.log(kDebug1, "x.cpp", 5, "f", std::string("dropped too"));

  const std::vector<LogEntry> lines = entries(path);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].message, "kept info");
  EXPECT_EQ(lines[0].function, "[unknown]");
  EXPECT_EQ(lines[1].level, "UNKNOWN");
  EXPECT_EQ(lines[2].component + "|" + lines[2].level + "|" + lines[2].message,
            "Other|ERROR|%s %d not expanded");
}

TEST_F(LogFile, RolloverMovesTheFileToOldAndStartsAFreshOne) {
  const std::string path = dir_.file("roll.log");
  Log log(path.c_str(), 0xFF, kLocationFile, 1, false, false);
  const std::string message(900, 'm');
  int written = 0;
  while (!exists(path + ".old") && written < 2000) log.log(kInfo, "x.cpp", written++, "f", message);
  ASSERT_LT(written, 2000);
  EXPECT_GT(headerOffset(readFile(path + ".old")), 1000000);
  EXPECT_EQ(entries(path + ".old").size(), static_cast<size_t>(written));
  EXPECT_FALSE(exists(path)) << "the next entry creates the new file";

  log.log(kInfo, "x.cpp", 1, "f", "first of the new file");
  const std::string fresh = readFile(path);
  ASSERT_EQ(fresh.size(), 1000000u);
  const std::vector<LogEntry> lines = entries(path);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(headerOffset(fresh), static_cast<long long>(200 + lines[0].text.size() + 2));
}

TEST_F(LogFile, DamagedHeaderIsNeverWrittenOver) {
  const std::string padding(1000, '\0');
  for (const std::string& bytes : {
           "zz200" + std::string(195, ' ') + padding,     // foreign format mark
           "aa150" + std::string(195, ' ') + padding,     // offset inside the header
           "aa999999" + std::string(192, ' ') + padding,  // offset past the end
           std::string("aa"),                             // shorter than a header
       }) {
    const std::string path = dir_.file("damaged.log");
    ::unlink((path + ".old").c_str());
    writeFile(path, bytes);
    Log log(path.c_str(), 0xFF, kLocationFile, 1, true, false);
    log.log(kInfo, "x.cpp", 1, "f", "after damage");
    EXPECT_EQ(readFile(path + ".old"), bytes) << "the damaged file is kept as the backup";
    const std::vector<LogEntry> lines = entries(path);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].message, "after damage");
  }
}

TEST_F(LogFile, EveryWriterFollowsARolloverByAnother) {
  // Two logs on one file, both keeping it open: after one of them moves the
  // file to the backup, the other's next entry goes to the new file.
  const std::string path = dir_.file("shared.log");
  Log first(path.c_str(), 0xFF, kLocationFile, 1, false, false);
  Log second(path.c_str(), 0xFF, kLocationFile, 1, false, false);
  first.log(kInfo, "x.cpp", 1, "f", "first before");
  const std::string message(900, 's');
  while (!exists(path + ".old")) second.log(kInfo, "x.cpp", 2, "f", message);
  first.log(kInfo, "x.cpp", 3, "f", "first after");

  const std::vector<LogEntry> backup = entries(path + ".old");
  ASSERT_FALSE(backup.empty());
  EXPECT_EQ(backup.front().message, "first before");
  EXPECT_EQ(backup.back().message, message);
  const std::vector<LogEntry> fresh = entries(path);
  ASSERT_EQ(fresh.size(), 1u);
  EXPECT_EQ(fresh[0].message, "first after");
}

TEST_F(LogFile, AuditEntriesCarryWhoDidWhatWhere) {
  const std::string path = dir_.file("audit.log");
  Log audit(path.c_str(), kAuditLog);
  audit.setProductInfo("Product", "1.2", "beta");
  audit.auditLog("LOGIN", "user %s", "bob");
  audit.auditLog("EMPTY", "%s", "");
  audit.log(kCritical, "x.cpp", 1, "f", "audit logs have no levels");

  const std::vector<LogEntry> lines = entries(path);
  ASSERT_EQ(lines.size(), 1u);
  const LogEntry& e = lines[0];
  EXPECT_EQ(e.kind, LogEntry::kAudit);
  EXPECT_EQ(e.product + "|" + e.computer + "|" + e.user + "|" + e.component + "|" + e.event + "|" +
                e.message,
            "Product 1.2 beta|" + audit.getComputerName() + "|" + audit.getUserName() +
                "|UNKNOWN|LOGIN|user bob");
  EXPECT_NE(e.user.find('/'), std::string::npos);
  EXPECT_EQ(readFile(path).size(), 1000000u);
}

TEST_F(LogFile, ConstructorSettings) {
  Log plain("p.log", kPlainLog);
  EXPECT_EQ(plain.getLevelMask(), 0xFF);
  EXPECT_EQ(plain.getLocationMask(), 9);
  EXPECT_EQ(plain.getMaxSize(), 20);
  EXPECT_TRUE(plain.getFlushAlways() && plain.isSettingsFixed());
  Log direct("d.log", 0x3, 1, 0, false, true);
  EXPECT_EQ(direct.getMaxSize(), 5);
  EXPECT_EQ(direct.getUpdateTime(), 60);
  Log configured(nullptr, kConfigFileLog);
  EXPECT_FALSE(configured.isSettingsFixed());

  char date[32];
  Log::getDateTime(date);
  EXPECT_EQ(std::string(date).size(), 22u);
  LogEntry probe;
  EXPECT_TRUE(parseLogLine(std::string(date) + "\tc\t1\t2\tf\t3\tfn\tINFO:\tm", probe));
}

TEST_F(LogFile, ConfiguredLogReadsItsSettingsFromXml) {
  const std::string logPath = dir_.file("configured.log");
  const std::string config = dir_.file("config.xml");
  writeFile(config, "<?xml version=\"1.0\"?>\n<Root><Log><LogFile>" + logPath +
                        "</LogFile><LevelMask>0x10</LevelMask><LocationMask>0x1</LocationMask>"
                        "<MaximumSize>1</MaximumSize><FlushAlways>yes</FlushAlways>"
                        "<UpdateTime>60</UpdateTime></Log></Root>\n");
  Log log(config.c_str(), kConfigFileLog);
  log.log(kWarning, "x.cpp", 1, "f", "masked out");
  log.log(kInfo, "x.cpp", 2, "f", "configured");
  EXPECT_EQ(log.getLogFileName(), logPath);
  EXPECT_TRUE(log.getFlushAlways());
  const std::vector<LogEntry> lines = entries(logPath);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].message, "configured");
  EXPECT_EQ(readFile(logPath).size(), 1000000u);
}

TEST_F(LogFile, MissingConfigurationIsReportedAndRetried) {
  auto report = [](Log& log) {
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    log.log(kCritical, "x.cpp", 1, "f", "no settings");
    log.log(kCritical, "x.cpp", 2, "f", "still none");
    ::testing::internal::GetCapturedStderr();
    return ::testing::internal::GetCapturedStdout();
  };
  Log log(dir_.file("missing.xml").c_str(), kConfigFileLog);
  std::string out = report(log);
  EXPECT_EQ(testutil::countOf(out, "Log::updatePrefs"), 2u) << out;
  EXPECT_EQ(out.rfind("Log::updatePrefsError: ", 0), 0u) << out;
  EXPECT_EQ(log.getLevelMask(), 0);

  // A malformed file is reported with the parser's own text, as thrown.
  const std::string malformed = dir_.file("malformed.xml");
  writeFile(malformed, "<Root><Log></Root>");
  Log broken(malformed.c_str(), kConfigFileLog);
  out = report(broken);
  EXPECT_EQ(out.rfind("Log::updatePrefsXMLParser::", 0), 0u) << out;
  EXPECT_EQ(out.find('\n'), std::string::npos) << out;
}

TEST_F(LogFile, DirectoryEventsReachTheLog) {
  const std::string path = dir_.file("dir.log");
  Log log(path.c_str(), 0xFF, kLocationFile, 1, true, false);
  reportDirectoryEvent(nullptr, kError, "nowhere %d", 1);
  reportDirectoryEvent(&log, kError, "Unable to process directory %s: %d", "/x", 2);
  const std::vector<LogEntry> lines = entries(path);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].level + "|" + lines[0].message, "ERROR|Unable to process directory /x: 2");
}

}  // namespace
}  // namespace tvan
