// Store and forward: while the PostgreSQL server cannot be reached, writes
// go to the local spool and succeed; the next writing transaction with the
// server back forwards them in order, once, whatever happened to an
// earlier forwarder.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "DatabaseTestUtil.h"
#include "KEF/Database/DatabaseTransaction.h"
#include "KEF/Database/KEFRequestDatabase.h"
#include "KEF/Database/ServiceRequestDatabase.h"
#include "PgTestUtil.h"

using tvan::DatabaseTransaction;
using tvan::KEFRequestDatabase;
using tvan::ServiceRequestDatabase;

namespace {

// The server out of reach for the life of the object: its socket moved
// away (new connections fail as for a stopped server) and the library's
// sessions ended (the server side of a crash).
class Outage {
 public:
  Outage() {
    pgtest::server().execute("postgres",
                             "SELECT pg_terminate_backend(pid) FROM pg_stat_activity"
                             " WHERE application_name = 'kef'");
    moved_ = ::rename(pgtest::server().socket().c_str(), away().c_str()) == 0;
  }
  ~Outage() { end(); }
  void end() {
    if (moved_) ::rename(away().c_str(), pgtest::server().socket().c_str());
    moved_ = false;
  }
  bool started() const { return moved_; }

 private:
  static std::string away() { return pgtest::server().socket() + ".away"; }
  bool moved_ = false;
};

void updateStatus(const std::string& uid, const std::string& status) {
  DatabaseTransaction transaction;
  KEFRequestDatabase database(&transaction);
  ASSERT_TRUE(transaction.start() && database.updateStatus(uid, status) && transaction.commit())
      << transaction.getLastError();
}

// Writing transactions with nothing in them forward the spool: until it is
// empty (true) or `seconds` have passed.
bool drain(const std::string& spool, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (pgtest::spooled(spool) > 0) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    DatabaseTransaction transaction;
    if (transaction.start()) transaction.commit();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// The back-off after a failed attempt (ServerHealth::kRetryMillis) and a
// little more.
void waitForRetry() { std::this_thread::sleep_for(std::chrono::milliseconds(1100)); }

std::string runTool(const std::string& arguments, int& status) {
  const std::string command = std::string(KEF_REQUESTS_TOOL) + " " + arguments + " 2>&1";
  std::string output;
  FILE* pipe = ::popen(command.c_str(), "r");
  char buffer[4096];
  size_t got;
  while (pipe != nullptr && (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
    output.append(buffer, got);
  }
  const int raw = pipe != nullptr ? ::pclose(pipe) : -1;
  status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return output;
}

}  // namespace

TEST(PgSpool, WritesDuringAnOutageWaitInTheSpoolAndArriveInOrder) {
  PG_SERVER_OR_SKIP();
  pgtest::Scratch scratch;
  ASSERT_EQ(dbtest::store(dbtest::statusEntry("S|1", "before")), "");
  pgtest::LogWindow log;
  Outage outage;
  ASSERT_TRUE(outage.started());
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(dbtest::store(dbtest::statusEntry("S|1", "during " + std::to_string(i))), "");
  }
  updateStatus("req-1", "RUNNING");
  updateStatus("req-1", "DONE");
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 3.0);

  // Reads need the server, and say so.
  {
    DatabaseTransaction reader;
    EXPECT_FALSE(reader.startReading());
    EXPECT_NE(reader.getLastError().find("unreachable"), std::string::npos)
        << reader.getLastError();
  }
  EXPECT_EQ(pgtest::spooled(scratch.spool()), 21);  // the status once: the last one wins
  EXPECT_EQ(log.count("WARNING Request database server host="), 1u) << log.all();
  int status = -1;
  const std::string shown = runTool("--db '" + scratch.location() + "' spool", status);
  EXPECT_EQ(status, 0) << shown;
  EXPECT_NE(shown.find("20 messages, 1 status update"), std::string::npos) << shown;
  EXPECT_NE(shown.find(scratch.spool()), std::string::npos) << shown;
  const std::string listed = runTool("--db '" + scratch.location() + "' list", status);
  EXPECT_EQ(status, 2);
  EXPECT_NE(listed.find("unreachable"), std::string::npos) << listed;

  outage.end();
  waitForRetry();
  ASSERT_EQ(dbtest::store(dbtest::statusEntry("S|1", "after")), "");
  std::vector<std::string> expected = {"before"};
  for (int i = 0; i < 20; ++i) expected.push_back("during " + std::to_string(i));
  expected.push_back("after");
  EXPECT_EQ(scratch.rows("SELECT note FROM messages ORDER BY id"), expected);
  EXPECT_EQ(scratch.rows("SELECT status FROM requests WHERE uid = 'req-1'"),
            std::vector<std::string>{"DONE"});
  EXPECT_EQ(pgtest::spooled(scratch.spool()), 0);
  EXPECT_EQ(log.count("INFO Request database spool " + scratch.spool() + " drained: 21 writes"),
            1u)
      << log.all();
  EXPECT_EQ(log.count("WARNING"), 1u) << log.all();
  runTool("--db '" + scratch.location() + "' spool", status);
  EXPECT_EQ(status, 1);
  const std::string listedAfter = runTool("--db '" + scratch.location() + "' list", status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(listedAfter.find("req-1  DONE"), std::string::npos) << listedAfter;
}

TEST(PgSpool, AWrongLoginOrUnknownDatabaseIsLoggedOnceAndSpooled) {
  PG_SERVER_OR_SKIP();
  const std::vector<std::pair<std::string, std::string>> cases = {
      {std::string("user=") + pgtest::ScratchServer::kLockedRole + " password=wrong",
       "password authentication failed"},
      {"dbname=nosuchdb", "database \"nosuchdb\" does not exist"},
  };
  for (const auto& [extra, reason] : cases) {
    pgtest::Scratch scratch(extra);
    pgtest::LogWindow log;
    for (int i = 0; i < 3; ++i) {
      // Spread over more than one back-off period: retried, not logged again.
      if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(700));
      EXPECT_EQ(dbtest::store(dbtest::statusEntry("S|1", std::to_string(i))), "") << extra;
    }
    EXPECT_EQ(pgtest::spooled(scratch.spool()), 3) << extra;
    EXPECT_EQ(log.count(reason), 1u) << extra << "\n" << log.all();
    EXPECT_EQ(log.count("password=wrong"), 0u) << log.all();
  }
  // The right password reaches the server.
  pgtest::Scratch scratch(std::string("user=") + pgtest::ScratchServer::kLockedRole +
                          " password=" + pgtest::ScratchServer::kLockedPassword);
  pgtest::server().execute("kef", "ALTER SCHEMA " + scratch.schema() + " OWNER TO " +
                                      pgtest::ScratchServer::kLockedRole);
  EXPECT_EQ(dbtest::store(dbtest::statusEntry("S|1", "in")), "");
  EXPECT_EQ(scratch.number("SELECT count(*) FROM messages"), 1);
}

TEST(PgSpool, ABatchForwardedAgainIsStoredOnceAndAnOldStatusNotReapplied) {
  PG_SERVER_OR_SKIP();
  pgtest::Scratch scratch;
  ASSERT_EQ(dbtest::store(dbtest::statusEntry("S|1", "before")), "");
  {
    Outage outage;
    for (int i = 0; i < 10; ++i) {
      ASSERT_EQ(dbtest::store(dbtest::statusEntry("S|1", "m" + std::to_string(i))), "");
    }
    updateStatus("req-1", "RUNNING");
  }
  // The spool as a forwarder finds it; put back below, as if that forwarder
  // had died after the server's commit, before it removed the batch.
  const std::string copy = scratch.dir().file("copy.db");
  ASSERT_EQ(dbtest::sqlExecute(scratch.spool(), "VACUUM INTO '" + copy + "'"), "");
  waitForRetry();
  ASSERT_EQ(dbtest::store(dbtest::statusEntry("S|1", "after")), "");
  updateStatus("req-1", "DONE");
  ASSERT_EQ(pgtest::spooled(scratch.spool()), 0);

  for (const char* suffix : {"-wal", "-shm"}) ::unlink((scratch.spool() + suffix).c_str());
  ASSERT_EQ(::rename(copy.c_str(), scratch.spool().c_str()), 0);
  ASSERT_EQ(pgtest::spooled(scratch.spool()), 11);
  ASSERT_EQ(dbtest::store(dbtest::statusEntry("S|1", "again")), "");
  EXPECT_EQ(pgtest::spooled(scratch.spool()), 0);
  EXPECT_EQ(pgtest::refused(scratch.spool()), 0);  // skipped by the server, not refused
  EXPECT_EQ(scratch.number("SELECT count(*) FROM messages"), 13);
  EXPECT_EQ(scratch.number("SELECT count(DISTINCT note) FROM messages"), 13);
  EXPECT_EQ(scratch.rows("SELECT status FROM requests"), std::vector<std::string>{"DONE"});
}

TEST(PgSpool, AForwarderKilledMidwayLosesAndDoublesNothing) {
  PG_SERVER_OR_SKIP();
  pgtest::Scratch scratch;
  constexpr int kTransactions = 30, kEach = 200, kTotal = kTransactions * kEach;
  ASSERT_EQ(dbtest::store(dbtest::statusEntry("S|1", "before")), "");
  {
    Outage outage;
    for (int t = 0; t < kTransactions; ++t) {
      DatabaseTransaction transaction;
      ServiceRequestDatabase database(&transaction);
      ASSERT_TRUE(transaction.start());
      for (int i = 0; i < kEach; ++i) {
        ASSERT_TRUE(database.addEntry(
            dbtest::statusEntry("S|1", std::to_string(100000 + t * kEach + i))));
      }
      ASSERT_TRUE(transaction.commit()) << transaction.getLastError();
    }
  }
  ASSERT_EQ(pgtest::spooled(scratch.spool()), kTotal);
  waitForRetry();

  const std::string spool = scratch.spool();
  const pid_t forwarder = testutil::spawnChild([&spool] { return drain(spool, 60) ? 0 : 1; });
  int64_t atKill = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while ((atKill = scratch.number("SELECT count(*) FROM messages")) < 1000 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ::kill(forwarder, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(forwarder, &status, 0), forwarder);
  EXPECT_TRUE(WIFSIGNALED(status)) << "the forwarder finished before it was killed";
  EXPECT_LT(atKill, kTotal + 1);

  // A new process forwards what is left: kef_requests, asked to.
  const std::string forwarded = runTool("--db '" + scratch.location() + "' spool --forward", status);
  EXPECT_EQ(status, 1) << forwarded;  // nothing waits any more
  EXPECT_NE(forwarded.find("nothing waits in the spool"), std::string::npos) << forwarded;
  EXPECT_EQ(pgtest::refused(spool), 0);
  EXPECT_EQ(scratch.number("SELECT count(*) FROM messages"), kTotal + 1);
  EXPECT_EQ(scratch.number("SELECT count(DISTINCT note) FROM messages"), kTotal + 1);
  // In the order of the spool: each note's number above the one before.
  EXPECT_EQ(scratch.number("SELECT count(*) FROM (SELECT note, lag(note) OVER (ORDER BY id) AS"
                           " previous FROM messages WHERE note <> 'before') AS ordered"
                           " WHERE previous IS NOT NULL AND note::int <= previous::int"),
            0);
}
