#pragma once
// The seam between the request database's classes and a database engine.
//
// A Connection is one open, checked request database: opening it makes sure
// the file holds this library's schema (creating the schema in a new file)
// and refuses any other file without writing to it. The database classes
// speak only through this interface, with SQL that every engine of the
// library accepts: `?` parameters (an engine that numbers its parameters
// translates them), INSERT ... ON CONFLICT for upserts, no engine-specific
// functions. The schema itself (the engine's DDL) and the
// engine's settings belong to the engine. The engines: SQLite
// (SqliteConnection), the machine's own file, and PostgreSQL (PgConnection),
// a server several machines share, chosen by the form of the location
// (PgLocation.h); while its server cannot be reached, PostgreSQL writes go to
// a local spool (RequestSpool) and are forwarded later.
//
// A connection is used by one thread at a time; it is not safe to share
// between processes (a forked child opens its own). Every operation but
// rollback and inTransaction throws DatabaseError.
#include <cstdint>
#include <memory>
#include <string>

namespace tvan {
namespace dbinternal {

class Statement;

class Connection {
 public:
  virtual ~Connection() = default;

  // Begins a transaction. A writing one holds the database's write lock
  // from here to its end, waiting for another writer up to the engine's
  // busy time-out; a reading one sees one consistent state and takes no
  // write lock.
  virtual void begin(bool writing) = 0;
  virtual void commit() = 0;
  // Ends an open transaction without its changes; false when that failed.
  virtual bool rollback() = 0;
  // Whether a transaction is open (also one the engine ended by itself
  // after an error is reported as closed).
  virtual bool inTransaction() = 0;

  // The statement for `sql`, prepared on first use and kept for the life of
  // the connection.
  virtual Statement& prepare(const std::string& sql) = 0;
  // Rows changed by the last INSERT, UPDATE or DELETE.
  virtual int64_t changes() = 0;

  // Whether `path` still names the file this connection has open (it may
  // have been removed or replaced since).
  virtual bool refersTo(const std::string& path) = 0;

  // Kept by ConnectionPool: the process (counted in forks) that opened the
  // connection, so that a child never uses one of its parent's.
  unsigned forkGeneration = 0;
};

// Opens the request database at `path`. With `createMissing` a missing file
// (and its folder) is created with the schema; without, a missing file is
// an error. Throws DatabaseError with the reason.
std::unique_ptr<Connection> openConnection(const std::string& path, bool createMissing);

}  // namespace dbinternal
}  // namespace tvan
