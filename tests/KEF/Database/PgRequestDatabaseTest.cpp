// The request database's classes on a PostgreSQL server: what the SQLite
// engine's tests check, against the server, and the server's own schema
// rules.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "DatabaseTestUtil.h"
#include "KEF/Database/DatabaseTransaction.h"
#include "KEF/Database/KEFRequestDatabase.h"
#include "KEF/Database/ServiceRequestDatabase.h"
#include "PgTestUtil.h"

using tvan::DatabaseTransaction;
using tvan::KEFRequestDatabase;
using tvan::ServiceRequestDatabase;
using tvan::ServiceRequestDatabaseEntry;

using dbtest::notesOf;
using dbtest::read;
using dbtest::requests;
using dbtest::update;

TEST(PgRequestDatabase, StoresTheRecordByteForByteAndTextsAsUtf8) {
  PG_SERVER_OR_SKIP();
  pgtest::Scratch scratch;
  const std::string id = "AUTODELETE|job|1733480400.123";
  std::string data = dbtest::response(id, "RUNNING") + "caf\xC3\xA9 ";
  for (int c = 1; c < 256; ++c) data += static_cast<char>(c);
  std::string bytes = dbtest::makeRecord("Status", id, "KEF", data);
  bytes += std::string("\0\xFF\x00", 3);  // NULs and high bytes inside the record too
  ServiceRequestDatabaseEntry entry(dbtest::asRecord(bytes), bytes.size(), "the note");
  entry.persistent = ServiceRequestDatabaseEntry::kPersistent;
  ASSERT_EQ(dbtest::store(entry), "");

  const auto all = read({});
  ASSERT_EQ(all.size(), 1u);
  const ServiceRequestDatabaseEntry& back = all[0];
  EXPECT_EQ(back.record, bytes);
  EXPECT_EQ(back.messageType, "Status");
  EXPECT_EQ(back.serviceID, id);
  EXPECT_EQ(back.serviceName, "AUTODELETE");
  EXPECT_EQ(back.note, "the note");
  EXPECT_EQ(back.persistent, "kef:persistent");
  EXPECT_EQ(back.responseStatus, "RUNNING");
  EXPECT_EQ(back.origin, ServiceRequestDatabaseEntry::currentOrigin());
  // Valid UTF-8 stays; each byte that is not becomes U+FFFD.
  ASSERT_EQ(back.data.compare(0, data.size() - 255 + 127, data, 0, data.size() - 255 + 127), 0);
  EXPECT_EQ(testutil::countOf(back.data, "\xEF\xBF\xBD"), 128u) << back.data.substr(data.size() - 255);
  EXPECT_EQ(back.storedAt.size(), std::strlen("2026-12-06T10:00:00.123Z"));

  // As the server has it: bytea of the same length, an entry uid.
  EXPECT_EQ(scratch.rows("SELECT octet_length(record), entry_uid IS NOT NULL FROM messages"),
            std::vector<std::string>{std::to_string(bytes.size()) + "|t"});
}

TEST(PgRequestDatabase, ReadsBackBySelectionInTheOrderStored) {
  PG_SERVER_OR_SKIP();
  pgtest::Scratch scratch;
  for (const char* id : {"A|1|1.1", "B|1|1.2", "A|2|1.3", "A|1|1.1"}) {
    ASSERT_EQ(dbtest::store(dbtest::statusEntry(id, std::string("note of ") + id)), "");
  }
  const auto all = read({});
  ASSERT_EQ(all.size(), 4u);
  EXPECT_LT(std::stoll(all[0].key), std::stoll(all[3].key));
  EXPECT_EQ(all[1].record, dbtest::statusEntry("B|1|1.2", "").record);

  ServiceRequestDatabase::Selection request;
  request.serviceID = "A|1|1.1";
  EXPECT_EQ(notesOf(read(request)),
            (std::vector<std::string>{"note of A|1|1.1", "note of A|1|1.1"}));
  ServiceRequestDatabase::Selection service;
  service.serviceName = "A";
  EXPECT_EQ(read(service).size(), 3u);
  service.afterKey = std::stoll(all[0].key);
  service.limit = 1;
  EXPECT_EQ(notesOf(read(service)), (std::vector<std::string>{"note of A|2|1.3"}));
  service.serviceID = "B|1|1.2";
  EXPECT_TRUE(read(service).empty());
}

TEST(PgRequestDatabase, TransactionsCommitRollBackAndPruneAsWithSqlite) {
  PG_SERVER_OR_SKIP();
  pgtest::Scratch scratch;
  const ServiceRequestDatabaseEntry entry = dbtest::statusEntry("S|1|1", "n");
  {
    DatabaseTransaction transaction;
    ServiceRequestDatabase database(&transaction);
    EXPECT_FALSE(database.addEntry(entry));
    EXPECT_NE(transaction.getLastError().find("no transaction is open"), std::string::npos);
    ASSERT_TRUE(transaction.startReading()) << transaction.getLastError();
    EXPECT_FALSE(database.addEntry(entry));
    EXPECT_NE(transaction.getLastError().find("for reading"), std::string::npos);
    EXPECT_FALSE(transaction.start());
  }
  {
    DatabaseTransaction transaction;
    ServiceRequestDatabase database(&transaction);
    ASSERT_TRUE(transaction.start()) << transaction.getLastError();
    EXPECT_TRUE(database.addEntry(entry));
    EXPECT_TRUE(read({}).empty());  // uncommitted: invisible, and the reader does not wait
    EXPECT_TRUE(transaction.rollback());
    ASSERT_TRUE(transaction.start());
    EXPECT_TRUE(database.addEntry(entry));
    // Destroyed while open: rolled back.
  }
  EXPECT_TRUE(read({}).empty());

  for (const char* note : {"old", "older", "new"}) {
    ASSERT_EQ(dbtest::store(dbtest::statusEntry("S|1|1", note)), "");
  }
  const std::string firstKey = read({})[0].key;
  ASSERT_EQ(scratch.rows("UPDATE messages SET stored_at = 1000 WHERE note = 'old'").size(), 0u);
  ASSERT_EQ(scratch.rows("UPDATE messages SET stored_at = 500 WHERE note = 'older'").size(), 0u);
  {
    DatabaseTransaction transaction;
    ServiceRequestDatabase database(&transaction);
    int64_t removed = -1;
    ASSERT_TRUE(transaction.start());
    ASSERT_TRUE(database.removeEntriesBefore(1001, removed)) << transaction.getLastError();
    EXPECT_EQ(removed, 2);
    ASSERT_TRUE(transaction.commit()) << transaction.getLastError();
  }
  EXPECT_EQ(notesOf(read({})), std::vector<std::string>{"new"});

  // Keys are never reused, even after everything was removed.
  scratch.rows("DELETE FROM messages");
  ASSERT_EQ(dbtest::store(dbtest::statusEntry("S|1|1", "after")), "");
  ServiceRequestDatabase::Selection after;
  after.afterKey = std::stoll(firstKey) + 2;
  EXPECT_EQ(notesOf(read(after)), std::vector<std::string>{"after"});
}

TEST(PgRequestDatabase, UpdateStatusKeepsOneRowPerRequestInBytewiseOrder) {
  PG_SERVER_OR_SKIP();
  pgtest::Scratch scratch;
  ASSERT_TRUE(update("req-b", "RUNNING"));
  const int64_t firstChange = requests("req-b").at(0).changedAt;
  ASSERT_TRUE(update("req-b", "DONE"));
  ASSERT_TRUE(update("Req-a", "RUNNING"));
  EXPECT_EQ(scratch.number("SELECT count(*) FROM requests WHERE uid = 'req-b'"), 1);
  const auto one = requests("req-b");
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].status, "DONE");
  EXPECT_GE(one[0].changedAt, firstChange);
  const auto all = requests();
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0].uid, "Req-a");  // 'R' < 'r', as SQLite orders
  EXPECT_TRUE(requests("unknown").empty());
  {
    DatabaseTransaction transaction;
    KEFRequestDatabase database(&transaction);
    ASSERT_TRUE(transaction.start());
    EXPECT_FALSE(database.updateStatus("", "DONE"));
    EXPECT_TRUE(database.updateStatus("req-b", "ERROR"));
    EXPECT_TRUE(transaction.rollback());
  }
  EXPECT_EQ(requests("req-b").at(0).status, "DONE");
}

TEST(PgRequestDatabase, ProcessesRacingToCreateTheSchemaMakeItOnce) {
  PG_SERVER_OR_SKIP();
  pgtest::Scratch scratch;
  std::vector<pid_t> children;
  for (int child = 0; child < 3; ++child) {
    children.push_back(testutil::spawnChild([child] {
      const std::string reason = dbtest::store(dbtest::statusEntry("R|1", std::to_string(child)));
      if (!reason.empty()) std::fprintf(stderr, "%s\n", reason.c_str());
      return reason.empty() ? 0 : 1;
    }));
  }
  for (const pid_t child : children) EXPECT_EQ(testutil::exitStatus(child), 0);
  EXPECT_EQ(scratch.rows("SELECT application_id, version FROM kef_schema"),
            std::vector<std::string>{"1262831186|1"});
  EXPECT_EQ(scratch.number("SELECT count(*) FROM messages"), 3);
}

TEST(PgRequestDatabase, ReadersNeverCreateTheSchema) {
  PG_SERVER_OR_SKIP();
  pgtest::Scratch scratch;
  DatabaseTransaction reader(scratch.location(), DatabaseTransaction::kExistingOnly);
  EXPECT_FALSE(reader.startReading());
  EXPECT_NE(reader.getLastError().find("holds no request database yet"), std::string::npos)
      << reader.getLastError();
  EXPECT_EQ(scratch.number("SELECT count(*) FROM pg_tables WHERE schemaname = '" +
                           scratch.schema() + "'"),
            0);
}

TEST(PgRequestDatabase, AServerThatIsNoRequestDatabaseIsNeverWrittenTo) {
  PG_SERVER_OR_SKIP();
  struct Case {
    const char* name;
    const char* sql;
    const char* reason;
  };
  const Case cases[] = {
      {"tables without the mark", "CREATE TABLE messages (id int); CREATE TABLE requests (uid text)",
       "has the table messages and requests but no kef_schema mark"},
      {"another version",
       "CREATE TABLE kef_schema (application_id int, version int);"
       " INSERT INTO kef_schema VALUES (1262831186, 2); CREATE TABLE messages (id int)",
       "schema version 2; this library uses version 1"},
      {"another application",
       "CREATE TABLE kef_schema (application_id int, version int);"
       " INSERT INTO kef_schema VALUES (7, 1)",
       "names application 7"},
  };
  for (const Case& test : cases) {
    pgtest::Scratch scratch;
    ASSERT_EQ(scratch.rows(test.sql).size(), 0u) << test.name;
    const std::vector<std::string> before =
        scratch.rows("SELECT tablename FROM pg_tables WHERE schemaname = current_schema() ORDER BY 1");
    pgtest::LogWindow log;
    for (int attempt = 0; attempt < 2; ++attempt) {
      // The framework's sequence: start unchecked, addEntry, rollback.
      DatabaseTransaction transaction;
      ServiceRequestDatabase database(&transaction);
      transaction.start();
      EXPECT_FALSE(database.addEntry(dbtest::statusEntry("S|1", "n"))) << test.name;
      const std::string& reason = transaction.getLastError();
      EXPECT_NE(reason.find(test.reason), std::string::npos) << test.name << ": " << reason;
      EXPECT_NE(reason.find("left unchanged"), std::string::npos) << reason;
      EXPECT_EQ(reason.find("password"), std::string::npos) << reason;
      transaction.rollback();
    }
    EXPECT_EQ(scratch.rows("SELECT tablename FROM pg_tables WHERE schemaname = current_schema()"
                           " ORDER BY 1"),
              before)
        << test.name;
    EXPECT_EQ(pgtest::spooled(scratch.spool()), 0) << test.name;
    EXPECT_EQ(log.count(test.reason), 1u) << test.name << "\n" << log.all();
  }
}
