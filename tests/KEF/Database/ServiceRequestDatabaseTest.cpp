#include "KEF/Database/ServiceRequestDatabase.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstring>
#include <string>
#include <vector>

#include "DatabaseTestUtil.h"
#include "KEF/Database/DatabaseTransaction.h"

using tvan::DatabaseTransaction;
using tvan::ServiceRequestDatabase;
using tvan::ServiceRequestDatabaseEntry;

using dbtest::notesOf;
using dbtest::read;

TEST(ServiceRequestDatabase, StoredRecordIsTheRecordByteForByte) {
  dbtest::ScratchDatabase scratch;
  const std::string id = "AUTODELETE|job|1733480400.123";
  // Bytes of every value in the data, NUL aside, so no text conversion hides.
  std::string data = dbtest::response(id, "RUNNING");
  for (int c = 1; c < 256; ++c) data += static_cast<char>(c);
  const std::string bytes = dbtest::makeRecord("Status", id, "KEF", data);
  ServiceRequestDatabaseEntry entry(dbtest::asRecord(bytes), bytes.size(), "the note");
  entry.persistent = ServiceRequestDatabaseEntry::kPersistent;
  ASSERT_EQ(dbtest::store(entry), "");

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(scratch.path().c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* row = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db,
                               "SELECT record, msg_type, service_id, client_id, service_name, note,"
                               " persistent, response_status, data, stored_at FROM messages",
                               -1, &row, nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_step(row), SQLITE_ROW);
  const auto* stored = static_cast<const char*>(sqlite3_column_blob(row, 0));
  ASSERT_EQ(static_cast<size_t>(sqlite3_column_bytes(row, 0)), bytes.size());
  for (const size_t offset : {0u, 150u, 300u, 452u, 456u}) {
    EXPECT_EQ(std::memcmp(stored + offset, bytes.data() + offset, 4), 0) << offset;
  }
  EXPECT_EQ(std::memcmp(stored, bytes.data(), bytes.size()), 0);
  auto text = [&](int column) {
    return std::string(reinterpret_cast<const char*>(sqlite3_column_text(row, column)),
                       sqlite3_column_bytes(row, column));
  };
  EXPECT_EQ(text(1), "Status");
  EXPECT_EQ(text(2), id);
  EXPECT_EQ(text(3), "KEF");
  EXPECT_EQ(text(4), "AUTODELETE");
  EXPECT_EQ(text(5), "the note");
  EXPECT_EQ(text(6), "kef:persistent");
  EXPECT_EQ(text(7), "RUNNING");
  EXPECT_EQ(text(8), data);
  EXPECT_GT(sqlite3_column_int64(row, 9), 1700000000000);
  EXPECT_EQ(sqlite3_step(row), SQLITE_DONE);
  sqlite3_finalize(row);
  sqlite3_close(db);
}

TEST(ServiceRequestDatabase, ReadsBackBySelectionInTheOrderStored) {
  dbtest::ScratchDatabase scratch;
  for (const char* id : {"A|1|1.1", "B|1|1.2", "A|2|1.3", "A|1|1.1"}) {
    ASSERT_EQ(dbtest::store(dbtest::statusEntry(id, std::string("note of ") + id)), "");
  }
  const auto all = read({});
  ASSERT_EQ(all.size(), 4u);
  EXPECT_LT(std::stoll(all[0].key), std::stoll(all[3].key));
  EXPECT_EQ(all[1].serviceName, "B");
  EXPECT_EQ(all[1].storedAt.size(), std::strlen("2026-12-06T10:00:00.123Z"));
  EXPECT_EQ(all[1].record, dbtest::statusEntry("B|1|1.2", "").record);

  ServiceRequestDatabase::Selection request;
  request.serviceID = "A|1|1.1";
  EXPECT_EQ(notesOf(read(request)), (std::vector<std::string>{"note of A|1|1.1", "note of A|1|1.1"}));
  ServiceRequestDatabase::Selection service;
  service.serviceName = "A";
  EXPECT_EQ(read(service).size(), 3u);
  service.afterKey = std::stoll(all[0].key);
  service.limit = 1;
  EXPECT_EQ(notesOf(read(service)), (std::vector<std::string>{"note of A|2|1.3"}));
  service.serviceID = "B|1|1.2";  // both conditions must hold
  EXPECT_TRUE(read(service).empty());
}

TEST(ServiceRequestDatabase, EntriesNeedAStartedWritingTransaction) {
  dbtest::ScratchDatabase scratch;
  const ServiceRequestDatabaseEntry entry = dbtest::statusEntry("S|1|1", "n");
  {
    DatabaseTransaction transaction;
    ServiceRequestDatabase database(&transaction);
    EXPECT_FALSE(database.addEntry(entry));
    EXPECT_NE(transaction.getLastError().find("no transaction is open"), std::string::npos);
    ASSERT_TRUE(transaction.startReading());
    EXPECT_FALSE(database.addEntry(entry));
    EXPECT_NE(transaction.getLastError().find("for reading"), std::string::npos);
    EXPECT_FALSE(transaction.start());  // one at a time
  }
  {
    DatabaseTransaction transaction;
    ServiceRequestDatabase database(&transaction);
    ASSERT_TRUE(transaction.start());
    EXPECT_TRUE(database.addEntry(entry));
    EXPECT_TRUE(transaction.rollback());
    EXPECT_FALSE(transaction.commit());
    ASSERT_TRUE(transaction.start());
    EXPECT_TRUE(database.addEntry(entry));
    // Destroyed while open: rolled back.
  }
  EXPECT_TRUE(read({}).empty());
  EXPECT_EQ(dbtest::store(entry), "");
  EXPECT_EQ(read({}).size(), 1u);
}

TEST(ServiceRequestDatabase, UncommittedEntriesAreInvisibleToReaders) {
  dbtest::ScratchDatabase scratch;
  DatabaseTransaction writer;
  ServiceRequestDatabase database(&writer);
  ASSERT_TRUE(writer.start());
  ASSERT_TRUE(database.addEntry(dbtest::statusEntry("S|1|1", "n")));
  EXPECT_TRUE(read({}).empty());  // a reader does not wait for the writer
  ASSERT_TRUE(writer.commit());
  EXPECT_EQ(read({}).size(), 1u);
}

TEST(ServiceRequestDatabase, RemovesEntriesStoredBeforeACutoff) {
  dbtest::ScratchDatabase scratch;
  for (const char* note : {"old", "older", "new"}) {
    ASSERT_EQ(dbtest::store(dbtest::statusEntry("S|1|1", note)), "");
  }
  ASSERT_EQ(dbtest::sqlExecute(scratch.path(),
                               "UPDATE messages SET stored_at = 1000 WHERE note = 'old';"
                               "UPDATE messages SET stored_at = 500 WHERE note = 'older'"),
            "");
  DatabaseTransaction transaction;
  ServiceRequestDatabase database(&transaction);
  int64_t removed = -1;
  EXPECT_FALSE(database.removeEntriesBefore(1001, removed));  // not started
  ASSERT_TRUE(transaction.start());
  ASSERT_TRUE(database.removeEntriesBefore(1001, removed)) << transaction.getLastError();
  EXPECT_EQ(removed, 2);
  ASSERT_TRUE(transaction.commit());
  EXPECT_EQ(notesOf(read({})), std::vector<std::string>{"new"});
}

TEST(ServiceRequestDatabase, KeysAreNotReusedAfterPruning) {
  dbtest::ScratchDatabase scratch;
  ASSERT_EQ(dbtest::store(dbtest::statusEntry("S|1|1", "first")), "");
  const std::string firstKey = read({})[0].key;
  ASSERT_EQ(dbtest::sqlExecute(scratch.path(), "DELETE FROM messages"), "");
  ASSERT_EQ(dbtest::store(dbtest::statusEntry("S|1|1", "second")), "");
  // A follower that saw the first key must still see the second message.
  ServiceRequestDatabase::Selection after;
  after.afterKey = std::stoll(firstKey);
  EXPECT_EQ(notesOf(read(after)), std::vector<std::string>{"second"});
}
