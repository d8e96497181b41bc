#pragma once
// The PostgreSQL engine of the request database, with a local spool that
// keeps writes while the server cannot be reached.
//
// Writing transactions hold the server's write lock (a transaction-level
// advisory lock) from begin to commit, as SQLite's BEGIN IMMEDIATE does:
// messages get their ids in commit order, so a reader that follows by id
// never skips one committed late. A reading transaction sees one snapshot
// (REPEATABLE READ, READ ONLY) and takes no lock.
//
// Store and forward. A writing transaction goes to the server when it is
// reachable and the spool holds nothing for it; otherwise its writes (the
// messages and status updates; see PgStatement) are collected and kept in
// the spool at commit, and the commit succeeds. When the connection fails
// in the middle of a transaction, or while committing (when the server may
// or may not have committed), the transaction's writes go to the spool too:
// entry uids make a message that arrives twice count once. A writing
// transaction that finds writes waiting in the spool and the server back
// first forwards them (SpoolForwarder) for up to kForwardBudgetMillis; what
// is left then, and this transaction, stay in the spool for the next one.
// So the writes of one process reach the server in the order they were
// made, and none is lost or stored twice.
//
// Reads need the server: while it is unreachable they fail with the
// reason. A server that is reachable but holds no request database of this
// library (see PgSchema) is never written to: writes fail with the reason,
// nothing is spooled, and the log says so once.
//
// Connection attempts are bounded by the connect time-out (PgLocation) and
// spaced by ServerHealth's back-off, so that a writer never waits long for
// a server that is down.
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "KEF/Database/internal/Connection.h"
#include "KEF/Database/internal/PendingWrite.h"
#include "KEF/Database/internal/PgLocation.h"
#include "KEF/Database/internal/PgResult.h"
#include "KEF/Database/internal/PgSession.h"
#include "KEF/Database/internal/RequestSpool.h"

namespace tvan {
namespace dbinternal {

class PgStatement;
class ServerHealth;

class PgConnection : public Connection {
 public:
  static constexpr long long kForwardBudgetMillis = 250;

  // Connects to and checks the server at `location`; an unreachable server
  // is no error (writes go to the spool), a server that is not a request
  // database is. Throws DatabaseError.
  PgConnection(const std::string& location, bool createMissing);
  ~PgConnection() override;

  PgConnection(const PgConnection&) = delete;
  PgConnection& operator=(const PgConnection&) = delete;

  void begin(bool writing) override;
  void commit() override;
  bool rollback() override;
  bool inTransaction() override;
  Statement& prepare(const std::string& sql) override;
  int64_t changes() override;
  bool refersTo(const std::string& path) override;

  // Runs a statement's current run (PgStatement::step): on the server, or
  // kept for the spool. Kept runs have no result rows.
  PgResult run(PgStatement& statement);

 private:
  enum class Mode {
    kIdle,
    kReading,  // a reading transaction on the server
    kServer,   // a writing transaction on the server
    kSpool     // a writing transaction whose writes go to the spool
  };

  // Whether a checked session is open, connecting when the back-off allows.
  // Throws DatabaseError when the server is not a request database.
  bool ensureSession();
  // Begins a transaction on the server (`sql`), connecting again once when
  // the open session turns out dead; false when the server is unreachable.
  bool beginOnServer(const char* sql, const char* doing);
  // Forwards the spool within the budget; whether it is drained.
  bool forwardSpool();
  // The session failed with a lost connection.
  void lose(const std::string& reason);
  // Keeps the transaction's writes in the spool.
  void spoolJournal();
  std::string unreachableText(const char* what);
  PgResult runOnServer(PgStatement& statement);

  PgLocation location_;
  bool createMissing_;
  RequestSpool spool_;
  ServerHealth& health_;
  PgSession session_;
  Mode mode_;
  // The writes of the open writing transaction, as the spool would keep
  // them; complete_ is false once it made a write the spool cannot keep,
  // failed_ once a write failed on the server.
  std::vector<PendingWrite> journal_;
  bool complete_;
  bool failed_;
  int64_t changes_;
  std::unordered_map<std::string, std::unique_ptr<PgStatement>> statements_;
};

}  // namespace dbinternal
}  // namespace tvan
