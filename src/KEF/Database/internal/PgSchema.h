#pragma once
// The request database's schema in PostgreSQL (version 1) and its check.
//
// The tables live in the first schema of the session's search path
// (`public` unless the location sets `options=-csearch_path=...`):
// `kef_schema` holds one row, the application id (kApplicationId) and the
// schema version; `messages` and `requests` are the SQLite engine's tables
// with PostgreSQL's types (an identity column for the message id, bytea for
// the record) plus `messages.entry_uid`, a unique id per message.
//
// A search path with none of the three tables is new and gets the schema
// (when creating is allowed); other tables of the database do not matter,
// since a PostgreSQL database is commonly shared. `messages` or `requests`
// without the mark, or a mark of another application or version, is not a
// request database and is never written to.
#include <string>

#include "KEF/Database/internal/DatabaseError.h"

namespace tvan {
namespace dbinternal {

class PgLocation;
class PgSession;

// The server holds something that is not this library's request database.
class NotARequestDatabase : public DatabaseError {
 public:
  explicit NotARequestDatabase(const std::string& what) : DatabaseError(what) {}
};

class PgSchema {
 public:
  static constexpr int kApplicationId = 0x4B454652;  // "KEFR", as the SQLite file's
  static constexpr int kVersion = 1;
  // Advisory locks (kApplicationId, key): kCreateLock around the creation
  // of the schema; kWriteLock held by every writing transaction.
  static constexpr int kCreateLock = 0;
  static constexpr int kWriteLock = 1;

  // Sets up a new session (lock time-out) and checks its schema, creating
  // it in a new search path with `createMissing`; several processes may do
  // this at once. False, with `lostReason`, when the connection was lost
  // meanwhile. Throws NotARequestDatabase, or DatabaseError when there is
  // no schema and none may be made, or the server refused a step.
  static bool check(PgSession& session, const PgLocation& location, bool createMissing,
                    std::string& lostReason);
  // "BEGIN; SELECT pg_advisory_xact_lock(...)": a writing transaction with
  // the write lock, in one round trip.
  static const std::string& beginWriting();
};

}  // namespace dbinternal
}  // namespace tvan
