#include "KEF/Database/internal/PgConnection.h"

#include "KEF/Database/RequestDatabaseLocation.h"
#include "KEF/Database/internal/DatabaseError.h"
#include "KEF/Database/internal/EntryUid.h"
#include "KEF/Database/internal/PgSchema.h"
#include "KEF/Database/internal/PgStatement.h"
#include "KEF/Database/internal/ServerHealth.h"
#include "KEF/Database/internal/SpoolForwarder.h"

namespace tvan {
namespace dbinternal {

PgConnection::PgConnection(const std::string& location, bool createMissing)
    : location_(location),
      createMissing_(createMissing),
      spool_(requestSpoolPath()),
      health_(ServerHealth::of(location, location_.redacted())),
      mode_(Mode::kIdle),
      complete_(true),
      failed_(false),
      changes_(0) {
  ensureSession();
}

PgConnection::~PgConnection() {
  if (mode_ != Mode::kIdle) rollback();
  statements_.clear();
}

bool PgConnection::ensureSession() {
  if (session_.isOpen() && !health_.isDown()) return true;
  if (!health_.mayTry()) return false;
  std::string reason;
  if (!session_.open(location_, reason)) {
    lose(reason);
    return false;
  }
  try {
    if (!PgSchema::check(session_, location_, createMissing_, reason)) {
      lose(reason);
      return false;
    }
  } catch (const NotARequestDatabase& error) {
    session_.close();
    health_.reachable();
    health_.refused(error.what());
    throw;
  } catch (...) {
    session_.close();
    health_.reachable();
    throw;
  }
  health_.reachable();
  return true;
}

void PgConnection::lose(const std::string& reason) {
  session_.close();
  health_.unreachable(reason, spool_.path());
}

bool PgConnection::beginOnServer(const char* sql, const char* doing) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    const bool kept = session_.isOpen();
    if (!ensureSession()) return false;
    PgResult result = session_.execute(sql);
    if (result.ok()) return true;
    const std::string reason = session_.describe(result, doing);
    if (session_.classify(result) != PgSession::kConnectionLost) {
      session_.execute("ROLLBACK");
      throw DatabaseError(reason);
    }
    if (!kept) {
      lose(reason);
      return false;
    }
    // A session kept from before may have died with a restart of the
    // server: one try on a new one tells.
    session_.close();
  }
  return false;
}

bool PgConnection::forwardSpool() {
  SpoolForwarder forwarder(spool_, session_, location_.redacted());
  SpoolForwarder::Outcome outcome;
  try {
    outcome = forwarder.run(kForwardBudgetMillis);
  } catch (const DatabaseError&) {
    // The spool cannot be read or changed: this transaction goes there
    // too, and its commit reports why.
    return false;
  }
  if (outcome.connectionLost) lose(outcome.reason);
  health_.forwarded(outcome.forwarded, outcome.drained, spool_.path());
  return outcome.drained;
}

void PgConnection::begin(bool writing) {
  if (mode_ != Mode::kIdle) throw DatabaseError("a transaction is already open");
  journal_.clear();
  complete_ = true;
  failed_ = false;
  changes_ = 0;
  if (!writing) {
    if (!beginOnServer("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY", "beginning to read")) {
      throw DatabaseError(unreachableText("reading"));
    }
    mode_ = Mode::kReading;
    return;
  }
  bool pending = false;
  try {
    pending = spool_.hasPending(location_.redacted());
  } catch (const DatabaseError&) {
    // The spool cannot be read (no access, not a spool of this library):
    // the server takes the writes while it can; a commit into the spool
    // would report why it failed.
  }
  if (pending && ensureSession()) pending = !forwardSpool();
  if (!pending && beginOnServer(PgSchema::beginWriting().c_str(), "beginning to write")) {
    mode_ = Mode::kServer;
    return;
  }
  mode_ = Mode::kSpool;
}

PgResult PgConnection::run(PgStatement& statement) {
  if (statement.kind() == PgStatement::kMessage) {
    statement.parameters().setText(statement.entryUidParameter(), newEntryUid());
  }
  if (mode_ == Mode::kSpool) {
    if (statement.isSpoolable()) {
      journal_.push_back(statement.pendingWrite());
      changes_ = 1;
      return PgResult();
    }
    // A read or another change needs the server. With nothing collected
    // yet the transaction can still move there, when it is back.
    if (!journal_.empty() ||
        !beginOnServer(PgSchema::beginWriting().c_str(), "beginning to write")) {
      throw DatabaseError(unreachableText(statement.kind() == PgStatement::kRead ? "reading"
                                                                                  : "this change"));
    }
    mode_ = Mode::kServer;
  }
  if (mode_ == Mode::kServer) {
    if (statement.isSpoolable()) {
      journal_.push_back(statement.pendingWrite());
    } else if (statement.kind() != PgStatement::kRead) {
      complete_ = false;
    }
  }
  return runOnServer(statement);
}

PgResult PgConnection::runOnServer(PgStatement& statement) {
  if (mode_ == Mode::kIdle && !ensureSession()) {
    throw DatabaseError(unreachableText("this statement"));
  }
  PgResult result = session_.executePrepared(statement.serverSql(), statement.parameters());
  if (result.ok()) {
    changes_ = PgSession::affectedRows(result);
    return result;
  }
  const std::string reason = session_.describe(
      result, statement.kind() == PgStatement::kRead ? "reading" : "writing");
  if (session_.classify(result) != PgSession::kConnectionLost) {
    failed_ = true;
    throw DatabaseError(reason);
  }
  lose(reason);
  if (mode_ == Mode::kServer) {
    // The server's transaction went with the connection; what it wrote is
    // in the journal, and the rest of the transaction collects there too.
    mode_ = Mode::kSpool;
    if (statement.isSpoolable() && complete_ && !failed_) {
      changes_ = 1;
      return PgResult();
    }
  }
  throw DatabaseError(reason);
}

void PgConnection::spoolJournal() {
  std::vector<PendingWrite> writes;
  writes.swap(journal_);
  if (!writes.empty()) spool_.append(location_.redacted(), writes);
}

void PgConnection::commit() {
  switch (mode_) {
    case Mode::kIdle:
      throw DatabaseError("no transaction is open");
    case Mode::kReading: {
      mode_ = Mode::kIdle;
      const PgResult result = session_.execute("COMMIT");
      // A read whose session went has nothing left to commit.
      if (!result.ok()) session_.close();
      return;
    }
    case Mode::kSpool:
      mode_ = Mode::kIdle;
      if (!complete_ || failed_) {
        journal_.clear();
        throw DatabaseError(
            "the connection to the request database server was lost during a transaction whose "
            "changes cannot be kept in the spool; nothing of it was stored");
      }
      spoolJournal();
      return;
    case Mode::kServer:
      break;
  }
  mode_ = Mode::kIdle;
  const PgResult result = session_.execute("COMMIT");
  if (result.ok()) {
    journal_.clear();
    if (std::string(PQcmdStatus(result.get())) == "COMMIT") return;
    throw DatabaseError("committing: the server had rolled the transaction back after a failure");
  }
  const std::string reason = session_.describe(result, "committing");
  if (session_.classify(result) == PgSession::kConnectionLost) {
    lose(reason);
    // The server may or may not have committed: kept in the spool, the
    // writes are stored once either way (entry uids, status times).
    if (complete_ && !failed_) {
      spoolJournal();
      return;
    }
    journal_.clear();
    throw DatabaseError(reason + "; whether the server committed the transaction is unknown");
  }
  journal_.clear();
  session_.execute("ROLLBACK");
  throw DatabaseError(reason);
}

bool PgConnection::rollback() {
  const Mode mode = mode_;
  mode_ = Mode::kIdle;
  journal_.clear();
  if (mode == Mode::kReading || mode == Mode::kServer) {
    // A session whose rollback failed is closed, which ends its
    // transaction on the server as well.
    if (!session_.execute("ROLLBACK").ok()) session_.close();
  }
  return true;
}

bool PgConnection::inTransaction() { return mode_ != Mode::kIdle; }

Statement& PgConnection::prepare(const std::string& sql) {
  auto found = statements_.find(sql);
  if (found == statements_.end()) {
    found = statements_.emplace(sql, std::make_unique<PgStatement>(*this, sql)).first;
  }
  return *found->second;
}

int64_t PgConnection::changes() { return changes_; }

bool PgConnection::refersTo(const std::string& path) { return path == location_.text(); }

std::string PgConnection::unreachableText(const char* what) {
  return "the request database server " + location_.redacted() + " is unreachable (" +
         health_.reason() + "); " + what + " needs the server";
}

}  // namespace dbinternal
}  // namespace tvan
