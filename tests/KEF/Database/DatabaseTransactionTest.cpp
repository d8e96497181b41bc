#include "KEF/Database/DatabaseTransaction.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "DatabaseTestUtil.h"
#include "KEF/Database/RequestDatabaseLocation.h"
#include "KEF/Database/ServiceRequestDatabase.h"

using tvan::DatabaseTransaction;
using tvan::ServiceRequestDatabase;

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A pipe on which a child says it reached a point of its run.
class Signal {
 public:
  Signal() {
    if (::pipe(fds_) != 0) std::abort();
  }
  ~Signal() {
    ::close(fds_[0]);
    ::close(fds_[1]);
  }
  void raise() { (void)!::write(fds_[1], "x", 1); }
  bool wait() {
    char c;
    return ::read(fds_[0], &c, 1) == 1;
  }

 private:
  int fds_[2];
};

int64_t countNotes(const std::string& path, const std::string& condition) {
  return dbtest::sqlNumber(path, "SELECT count(*) FROM messages WHERE " + condition);
}

}  // namespace

TEST(DatabaseTransaction, TwoProcessesStoreEveryEntryOnce) {
  dbtest::ScratchDatabase scratch;
  constexpr int kEach = 10000;
  const auto start = std::chrono::steady_clock::now();
  std::vector<pid_t> writers;
  for (int writer = 0; writer < 2; ++writer) {
    // Both also race to create the database.
    writers.push_back(testutil::spawnChild([writer] {
      for (int i = 0; i < kEach; ++i) {
        const std::string reason = dbtest::store(
            dbtest::statusEntry("W|" + std::to_string(writer), std::to_string(writer) + "-" +
                                                                   std::to_string(i)));
        if (!reason.empty()) {
          std::fprintf(stderr, "writer %d, entry %d: %s\n", writer, i, reason.c_str());
          return 1;
        }
      }
      return 0;
    }));
  }
  for (const pid_t writer : writers) EXPECT_EQ(testutil::exitStatus(writer), 0);
  EXPECT_EQ(dbtest::sqlNumber(scratch.path(), "SELECT count(*) FROM messages"), 2 * kEach);
  EXPECT_EQ(dbtest::sqlNumber(scratch.path(), "SELECT count(DISTINCT note) FROM messages"),
            2 * kEach);
  EXPECT_LT(secondsSince(start), 30.0);
}

TEST(DatabaseTransaction, KilledWriterLeavesOnlyWhatItCommitted) {
  dbtest::ScratchDatabase scratch;
  Signal inside;
  const pid_t writer = testutil::spawnChild([&inside] {
    if (!dbtest::store(dbtest::statusEntry("K|1", "committed")).empty()) return 1;
    DatabaseTransaction transaction;
    ServiceRequestDatabase database(&transaction);
    if (!transaction.start()) return 2;
    for (int i = 0; i < 50; ++i) {
      if (!database.addEntry(dbtest::statusEntry("K|1", "partial"))) return 3;
    }
    inside.raise();
    ::pause();
    return 0;
  });
  ASSERT_TRUE(inside.wait());
  ::kill(writer, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(writer, &status, 0), writer);
  ASSERT_TRUE(WIFSIGNALED(status));

  // The write lock died with the writer: the next one does not wait for it.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(dbtest::store(dbtest::statusEntry("K|2", "after")), "");
  EXPECT_LT(secondsSince(start), 1.0);
  EXPECT_EQ(countNotes(scratch.path(), "note = 'partial'"), 0);
  EXPECT_EQ(countNotes(scratch.path(), "note = 'committed'"), 1);
  EXPECT_EQ(countNotes(scratch.path(), "note = 'after'"), 1);
}

TEST(DatabaseTransaction, StartWaitsForAnotherProcessHoldingTheWriteLock) {
  dbtest::ScratchDatabase scratch;
  Signal locked;
  const std::string path = scratch.path();
  const pid_t holder = testutil::spawnChild([&locked, &path] {
    // The schema through the library, then the lock with SQLite itself, as
    // any writer of the file would take it.
    if (!dbtest::store(dbtest::statusEntry("H|1", "holder")).empty()) return 1;
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return 2;
    if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) return 3;
    locked.raise();
    ::usleep(2000 * 1000);
    const int code = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return code == SQLITE_OK ? 0 : 4;
  });
  ASSERT_TRUE(locked.wait());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(dbtest::store(dbtest::statusEntry("H|2", "waiter")), "");
  EXPECT_GT(secondsSince(start), 1.5);
  EXPECT_EQ(testutil::exitStatus(holder), 0);
  EXPECT_EQ(countNotes(path, "note IN ('holder', 'waiter')"), 2);
}

TEST(DatabaseTransaction, AFileThatIsNoRequestDatabaseIsLeftUnchanged) {
  // Files made with SQLite itself; the damaged one is a valid database
  // whose first page was overwritten after its header.
  const std::vector<std::pair<const char*, const char*>> sqliteFiles = {
      {"other tables", "CREATE TABLE t (x); INSERT INTO t VALUES (1);"},
      // 1262831186 is 0x4B454652, the library's own application id.
      {"other schema version",
       "CREATE TABLE messages (id); PRAGMA application_id = 1262831186; PRAGMA user_version = 2;"},
      {"other application", "CREATE TABLE requests (uid); PRAGMA user_version = 1;"},
      {"only a version", "PRAGMA user_version = 1;"},
      {"damaged", "CREATE TABLE t (x); INSERT INTO t VALUES (1);"},
  };
  std::vector<std::pair<std::string, std::string>> files = {
      {"text", "<KEFPrefs>not a database</KEFPrefs>\n"},
      {"binary", std::string("\x00\x01\x02\xff garbage", 12) + std::string(5000, '\x7f')},
      {"SQLite header only", std::string("SQLite format 3\0", 16)},
  };
  for (const auto& [name, sql] : sqliteFiles) {
    dbtest::ScratchDatabase maker;
    ASSERT_EQ(dbtest::sqlExecute(maker.path(), sql), "") << name;
    std::string bytes = testutil::readFile(maker.path());
    if (std::string(name) == "damaged") {
      for (size_t i = 100; i < 400 && i < bytes.size(); ++i) bytes[i] = '\x5a';
    }
    files.emplace_back(name, bytes);
  }

  for (const auto& [name, bytes] : files) {
    dbtest::ScratchDatabase scratch;
    testutil::writeFile(scratch.path(), bytes);
    // The framework's sequence: start unchecked, addEntry, rollback.
    DatabaseTransaction transaction;
    ServiceRequestDatabase database(&transaction);
    transaction.start();
    EXPECT_FALSE(database.addEntry(dbtest::statusEntry("S|1", "n"))) << name;
    const std::string& reason = transaction.getLastError();
    EXPECT_NE(reason.find(scratch.path()), std::string::npos) << name << ": " << reason;
    EXPECT_NE(reason.find("left unchanged"), std::string::npos) << name << ": " << reason;
    transaction.rollback();
    EXPECT_EQ(testutil::readFile(scratch.path()), bytes) << name;
    EXPECT_NE(::access((scratch.path() + "-wal").c_str(), F_OK), 0) << name;
  }
}

TEST(DatabaseTransaction, CreatesTheFolderAndAWalDatabaseOfItsSchema) {
  dbtest::ScratchDatabase scratch;
  dbtest::Environment environment;
  const std::string path = scratch.dir().file("a/b/requests.db");
  environment.set("KEF_REQUEST_DATABASE", path.c_str());
  ASSERT_EQ(dbtest::store(dbtest::statusEntry("S|1", "n")), "");
  const std::string header = testutil::readFile(path).substr(0, 100);
  ASSERT_EQ(header.size(), 100u);
  EXPECT_EQ(header[18], 2);  // write version 2: WAL
  EXPECT_EQ(header[19], 2);
  EXPECT_EQ(dbtest::sqlNumber(path, "PRAGMA user_version"), 1);
  EXPECT_EQ(dbtest::sqlNumber(path, "PRAGMA application_id"), 0x4B454652);
  EXPECT_EQ(dbtest::sqlNumber(path, "SELECT count(*) FROM requests"), 0);
}

TEST(DatabaseTransaction, ReadersNeverCreateADatabase) {
  dbtest::ScratchDatabase scratch;
  for (const char* contents : {static_cast<const char*>(nullptr), ""}) {
    if (contents != nullptr) testutil::writeFile(scratch.path(), contents);
    DatabaseTransaction reader(scratch.path(), DatabaseTransaction::kExistingOnly);
    EXPECT_FALSE(reader.startReading());
    EXPECT_NE(reader.getLastError().find(scratch.path()), std::string::npos)
        << reader.getLastError();
    EXPECT_EQ(testutil::readFile(scratch.path()), contents != nullptr ? contents : "");
  }
  // The empty file is a new database to a writer.
  EXPECT_EQ(dbtest::store(dbtest::statusEntry("S|1", "n")), "");
  DatabaseTransaction reader(scratch.path(), DatabaseTransaction::kExistingOnly);
  EXPECT_TRUE(reader.startReading()) << reader.getLastError();
}

TEST(DatabaseTransaction, ARemovedDatabaseIsMadeAgainNotWrittenThroughAnOldConnection) {
  dbtest::ScratchDatabase scratch;
  ASSERT_EQ(dbtest::store(dbtest::statusEntry("S|1", "first")), "");
  for (const char* suffix : {"", "-wal", "-shm"}) ::unlink((scratch.path() + suffix).c_str());
  ASSERT_EQ(dbtest::store(dbtest::statusEntry("S|1", "second")), "");
  EXPECT_EQ(countNotes(scratch.path(), "1"), 1);
  EXPECT_EQ(countNotes(scratch.path(), "note = 'second'"), 1);
}

TEST(RequestDatabaseLocation, EnvironmentThenConfigurationThenDefault) {
  testutil::TempDir dir("kef_db_location");
  dbtest::Environment environment;
  environment.set("TVAN_REGISTRY_FILE", dir.file("registry").c_str());  // absent: no registry
  environment.set("KEF_CONFIGURATION", dir.path().c_str());
  environment.set("KEF_REQUEST_DATABASE", nullptr);
  EXPECT_EQ(tvan::requestDatabasePath(), tvan::kDefaultRequestDatabase);  // no configuration yet

  testutil::writeFile(dir.file("KEFConfiguration.xml"),
                      "<KEFPrefs><Log><LevelMask>0</LevelMask></Log><RequestDatabase>" +
                          dir.file("configured.db") + "</RequestDatabase></KEFPrefs>");
  EXPECT_EQ(tvan::requestDatabasePath(), dir.file("configured.db"));
  environment.set("KEF_REQUEST_DATABASE", "");
  EXPECT_EQ(tvan::requestDatabasePath(), dir.file("configured.db"));
  environment.set("KEF_REQUEST_DATABASE", "/elsewhere/requests.db");
  EXPECT_EQ(tvan::requestDatabasePath(), "/elsewhere/requests.db");

  // A configuration without the element, or with it empty.
  for (const char* element : {"", "<RequestDatabase></RequestDatabase>"}) {
    testutil::TempDir other("kef_db_location");
    environment.set("KEF_CONFIGURATION", other.path().c_str());
    environment.set("KEF_REQUEST_DATABASE", nullptr);
    testutil::writeFile(other.file("KEFConfiguration.xml"),
                        std::string("<KEFPrefs><Log><LevelMask>0</LevelMask></Log>") + element +
                            "</KEFPrefs>");
    EXPECT_EQ(tvan::requestDatabasePath(), tvan::kDefaultRequestDatabase) << element;
  }
}
