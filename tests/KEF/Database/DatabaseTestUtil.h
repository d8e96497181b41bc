#pragma once
// Scratch request databases and hand-made message records for the tests of
// the request database.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "KEF/Database/DatabaseTransaction.h"
#include "KEF/Database/KEFRequestDatabase.h"
#include "KEF/Database/ServiceRequestDatabase.h"
#include "KEF/Database/ServiceRequestDatabaseEntry.h"
#include "KEF/KEFCore/KEFMessage.h"
#include "TestUtil.h"

namespace dbtest {

// Sets environment variables (null: unsets) for a scope; the old values
// come back at its end.
class Environment {
 public:
  Environment() = default;
  Environment(const Environment&) = delete;
  Environment& operator=(const Environment&) = delete;
  ~Environment() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) apply(it->name, it->value);
  }
  void set(const char* name, const char* value) {
    const char* old = std::getenv(name);
    saved_.push_back({name, old != nullptr ? std::make_unique<std::string>(old) : nullptr});
    apply(name, value != nullptr ? std::make_unique<std::string>(value) : nullptr);
  }

 private:
  struct Saved {
    std::string name;
    std::unique_ptr<std::string> value;
  };
  static void apply(const std::string& name, const std::unique_ptr<std::string>& value) {
    if (value != nullptr) {
      ::setenv(name.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }
  std::vector<Saved> saved_;
};

// A test's own database: KEF_REQUEST_DATABASE names a file in a fresh
// folder for the life of the object.
class ScratchDatabase {
 public:
  ScratchDatabase() : dir_("kef_db_test") {
    environment_.set("KEF_REQUEST_DATABASE", path().c_str());
  }
  std::string path() const { return dir_.file("requests.db"); }
  const testutil::TempDir& dir() const { return dir_; }

 private:
  testutil::TempDir dir_;
  Environment environment_;
};

// A message record laid out as KEFMessage allocates it (460 + dataLength +
// 1 bytes). The bytes no field covers (padding, the 3 after data's NUL) are
// 0xA5, so that a copy which drops or rewrites them shows.
inline std::string makeRecord(const std::string& type, const std::string& serviceID,
                              const std::string& clientID, const std::string& data) {
  std::string bytes(KEF_MESSAGE::kFixedSize + data.size() + 1, '\xA5');
  auto* record = reinterpret_cast<KEF_MESSAGE*>(&bytes[0]);
  std::memset(record->msgType, 0, KEF_MESSAGE::kTextSize);
  std::memset(record->serviceID, 0, KEF_MESSAGE::kTextSize);
  std::memset(record->clientID, 0, KEF_MESSAGE::kTextSize);
  std::memcpy(record->msgType, type.data(), std::min<size_t>(type.size(), 149));
  std::memcpy(record->serviceID, serviceID.data(), std::min<size_t>(serviceID.size(), 149));
  std::memcpy(record->clientID, clientID.data(), std::min<size_t>(clientID.size(), 149));
  const int32_t length = static_cast<int32_t>(data.size());
  std::memcpy(&bytes[offsetof(KEF_MESSAGE, dataLength)], &length, sizeof length);
  std::memcpy(&bytes[offsetof(KEF_MESSAGE, data)], data.data(), data.size());
  bytes[offsetof(KEF_MESSAGE, data) + data.size()] = '\0';
  return bytes;
}

inline const KEF_MESSAGE* asRecord(const std::string& bytes) {
  return reinterpret_cast<const KEF_MESSAGE*>(bytes.data());
}

// A response document as the framework writes one.
inline std::string response(const std::string& serviceID, const std::string& status) {
  return "<KEFResponse><ServiceStatus ServiceID=\"" + serviceID + "\" Status=\"" + status +
         "\" ResponseType=\"AUTODELETE\" Server=\"KEF\" UnsolNotify=\"NONE\">"
         "<StatusText>OK</StatusText></ServiceStatus></KEFResponse>";
}

// The entry of a status message for `serviceID` with a note to tell it by.
inline tvan::ServiceRequestDatabaseEntry statusEntry(const std::string& serviceID,
                                                     const std::string& note,
                                                     const std::string& status = "RUNNING") {
  const std::string bytes = makeRecord("Status", serviceID, "KEF", response(serviceID, status));
  return tvan::ServiceRequestDatabaseEntry(asRecord(bytes), bytes.size(), note.c_str());
}

// Stores one entry in a transaction of its own; the reason on failure.
inline std::string store(const tvan::ServiceRequestDatabaseEntry& entry,
                         const std::string& path = std::string()) {
  auto transaction = path.empty() ? std::make_unique<tvan::DatabaseTransaction>()
                                  : std::make_unique<tvan::DatabaseTransaction>(path);
  tvan::ServiceRequestDatabase database(transaction.get());
  if (transaction->start() && database.addEntry(entry) && transaction->commit()) return "";
  return transaction->getLastError().empty() ? "failed without a reason"
                                             : transaction->getLastError();
}

// The first column of the first row of `sql` on the file, read with SQLite
// itself (not through the library); -1 when it cannot be read.
inline int64_t sqlNumber(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  int64_t value = -1;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
      value = sqlite3_column_int64(statement, 0);
    }
    sqlite3_finalize(statement);
  }
  sqlite3_close(db);
  return value;
}

// Runs `sql` on the file with SQLite itself; the error text, empty on success.
inline std::string sqlExecute(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  std::string error;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
    error = "cannot open";
  } else {
    char* message = nullptr;
    sqlite3_busy_timeout(db, 10000);
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
      error = message != nullptr ? message : "failed";
    }
    sqlite3_free(message);
  }
  sqlite3_close(db);
  return error;
}

// Every message the selection finds, in a reading transaction.
inline std::vector<tvan::ServiceRequestDatabaseEntry> read(
    const tvan::ServiceRequestDatabase::Selection& selection) {
  tvan::DatabaseTransaction transaction;
  tvan::ServiceRequestDatabase database(&transaction);
  std::vector<tvan::ServiceRequestDatabaseEntry> entries;
  EXPECT_TRUE(transaction.startReading()) << transaction.getLastError();
  EXPECT_TRUE(database.getEntries(selection, entries)) << transaction.getLastError();
  return entries;
}

inline std::vector<std::string> notesOf(
    const std::vector<tvan::ServiceRequestDatabaseEntry>& entries) {
  std::vector<std::string> notes;
  for (const auto& entry : entries) notes.push_back(entry.note);
  return notes;
}

// The framework's sequence (BaseJob::updateRequestStatus): start, update,
// commit. True when the update and its commit succeeded.
inline bool update(const std::string& uid, const std::string& status) {
  tvan::DatabaseTransaction transaction;
  tvan::KEFRequestDatabase database(&transaction);
  transaction.start();
  const bool updated = database.updateStatus(uid, status);
  return transaction.commit() && updated;
}

// The requests (one when `uid` is given), in a reading transaction.
inline std::vector<tvan::KEFRequestDatabase::Request> requests(const std::string& uid = std::string()) {
  tvan::DatabaseTransaction transaction;
  tvan::KEFRequestDatabase database(&transaction);
  std::vector<tvan::KEFRequestDatabase::Request> found;
  EXPECT_TRUE(transaction.startReading() && database.getRequests(found, uid))
      << transaction.getLastError();
  return found;
}

}  // namespace dbtest
