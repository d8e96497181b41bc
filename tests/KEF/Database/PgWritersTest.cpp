// Three hosts (forked processes, each with its own spool, as three
// machines have) writing to one PostgreSQL server at once: every entry
// arrives exactly once, in each writer's order, also when the server stops
// for a while in the middle, and no single write waits longer than the
// outage.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "DatabaseTestUtil.h"
#include "KEF/Database/DatabaseTransaction.h"
#include "PgTestUtil.h"

namespace {

constexpr int kWriters = 3;
constexpr int kEach = 5000;

// One writer: kEach entries noted "<writer>:<i>", a transaction each, then
// the spool forwarded. Reports its longest store (ms) on `report`.
int writeEntries(int writer, const std::string& spool, int report) {
  ::setenv("KEF_REQUEST_SPOOL", spool.c_str(), 1);
  double longest = 0;
  for (int i = 0; i < kEach; ++i) {
    const auto start = std::chrono::steady_clock::now();
    const std::string reason = dbtest::store(
        dbtest::statusEntry("W|" + std::to_string(writer), std::to_string(writer) + ":" +
                                                               std::to_string(i)));
    longest = std::max(longest, std::chrono::duration<double, std::milli>(
                                    std::chrono::steady_clock::now() - start)
                                    .count());
    if (!reason.empty()) {
      std::fprintf(stderr, "writer %d, entry %d: %s\n", writer, i, reason.c_str());
      return 1;
    }
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (pgtest::spooled(spool) > 0 && std::chrono::steady_clock::now() < deadline) {
    tvan::DatabaseTransaction transaction;
    if (transaction.start()) transaction.commit();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const std::string text = std::to_string(static_cast<long>(longest)) + "\n";
  if (::write(report, text.data(), text.size()) < 0) return 3;
  return pgtest::spooled(spool) == 0 ? 0 : 2;
}

struct WriterRun {
  std::vector<pid_t> writers;
  int report[2];
};

WriterRun startWriters(const pgtest::Scratch& scratch) {
  WriterRun run;
  if (::pipe(run.report) != 0) std::abort();
  for (int writer = 0; writer < kWriters; ++writer) {
    const std::string spool = scratch.dir().file("spool-" + std::to_string(writer) + ".db");
    const int report = run.report[1];
    run.writers.push_back(
        testutil::spawnChild([writer, spool, report] { return writeEntries(writer, spool, report); }));
  }
  ::close(run.report[1]);
  return run;
}

// Waits for the writers; their longest stores (ms).
std::vector<long> finish(WriterRun& run) {
  for (const pid_t writer : run.writers) EXPECT_EQ(testutil::exitStatus(writer), 0);
  std::string text;
  char buffer[256];
  ssize_t got;
  while ((got = ::read(run.report[0], buffer, sizeof buffer)) > 0) text.append(buffer, got);
  ::close(run.report[0]);
  std::vector<long> longest;
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find('\n', at);
    if (end == std::string::npos) break;
    longest.push_back(std::atol(text.substr(at, end - at).c_str()));
    at = end + 1;
  }
  return longest;
}

// Every writer's entries once each, in its order of writing.
void expectEveryEntryOnceInOrder(const pgtest::Scratch& scratch) {
  EXPECT_EQ(scratch.number("SELECT count(*) FROM messages WHERE note LIKE '%:%'"),
            kWriters * kEach);
  EXPECT_EQ(scratch.number("SELECT count(DISTINCT note) FROM messages WHERE note LIKE '%:%'"),
            kWriters * kEach);
  EXPECT_EQ(scratch.number("SELECT count(DISTINCT entry_uid) FROM messages"),
            scratch.number("SELECT count(*) FROM messages"));
  // Out of order: an entry whose number is not its predecessor's (of the
  // same writer, by id) plus one.
  EXPECT_EQ(scratch.number(
                "SELECT count(*) FROM (SELECT split_part(note, ':', 2)::int AS i,"
                " lag(split_part(note, ':', 2)::int) OVER (PARTITION BY split_part(note, ':', 1)"
                " ORDER BY id) AS previous FROM messages WHERE note LIKE '%:%') AS ordered"
                " WHERE i <> coalesce(previous + 1, 0)"),
            0);
}

}  // namespace

TEST(PgWriters, ThreeHostsStoreEveryEntryOnce) {
  PG_SERVER_OR_SKIP();
  pgtest::Scratch scratch;
  WriterRun run = startWriters(scratch);  // they also race to create the schema
  const std::vector<long> longest = finish(run);
  EXPECT_EQ(longest.size(), static_cast<size_t>(kWriters));
  expectEveryEntryOnceInOrder(scratch);
}

TEST(PgWriters, AServerStoppedForFiveSecondsLosesNothingAndStallsNoWriter) {
  PG_SERVER_OR_SKIP();
  constexpr double kOutageSeconds = 5;
  pgtest::Scratch scratch;
  ASSERT_EQ(dbtest::store(dbtest::statusEntry("S|1", "schema")), "");
  pgtest::LogWindow log;
  WriterRun run = startWriters(scratch);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (scratch.number("SELECT count(*) FROM messages") < kWriters * kEach / 5 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_TRUE(pgtest::server().stop());
  std::this_thread::sleep_for(std::chrono::duration<double>(kOutageSeconds));
  ASSERT_TRUE(pgtest::server().resume()) << pgtest::server().problem();

  const std::vector<long> longest = finish(run);
  ASSERT_EQ(longest.size(), static_cast<size_t>(kWriters));
  for (const long ms : longest) EXPECT_LT(ms, kOutageSeconds * 1000);
  std::printf("longest store of each writer: %ld, %ld, %ld ms\n", longest[0], longest[1],
              longest[2]);
  expectEveryEntryOnceInOrder(scratch);
  // Each writer (a process of its own) says once that the server went away
  // and once that its spool is drained.
  EXPECT_EQ(log.count("WARNING Request database server"), static_cast<size_t>(kWriters))
      << log.all();
  EXPECT_EQ(log.count(" drained: "), static_cast<size_t>(kWriters)) << log.all();
}
