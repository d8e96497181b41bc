#include "KEF/Database/internal/RequestSpool.h"

#include <errno.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <cstring>

#include "KEF/Database/internal/Clock.h"
#include "KEF/Database/internal/DatabaseError.h"
#include "KEF/Database/internal/SharedDatabaseFile.h"
#include "KEF/Database/internal/SqliteStatement.h"
#include "KEF/Database/internal/Statement.h"

namespace tvan {
namespace dbinternal {

namespace {

const char kSchema[] =
    "CREATE TABLE pending ("
    " seq INTEGER PRIMARY KEY AUTOINCREMENT,"
    " target TEXT NOT NULL,"
    " kind INTEGER NOT NULL,"
    " key TEXT NOT NULL,"
    " spooled_at INTEGER NOT NULL,"
    " sql TEXT NOT NULL,"
    " parameters BLOB NOT NULL);"
    "CREATE INDEX pending_by_target ON pending (target, seq);"
    "CREATE INDEX pending_by_key ON pending (target, kind, key);"
    "CREATE TABLE refused ("
    " seq INTEGER PRIMARY KEY,"
    " target TEXT NOT NULL,"
    " kind INTEGER NOT NULL,"
    " key TEXT NOT NULL,"
    " spooled_at INTEGER NOT NULL,"
    " sql TEXT NOT NULL,"
    " parameters BLOB NOT NULL,"
    " reason TEXT NOT NULL,"
    " refused_at INTEGER NOT NULL);";

const char kHasPending[] = "SELECT 1 FROM pending WHERE target = ? LIMIT 1";
const char kReplaceStatus[] = "DELETE FROM pending WHERE target = ? AND kind = ? AND key = ?";
const char kAppend[] =
    "INSERT INTO pending (target, kind, key, spooled_at, sql, parameters)"
    " VALUES (?, ?, ?, ?, ?, ?)";
const char kOldest[] =
    "SELECT seq, kind, key, sql, parameters FROM pending WHERE target = ? ORDER BY seq LIMIT ?";
const char kRemove[] = "DELETE FROM pending WHERE target = ? AND seq <= ?";
const char kMoveAside[] =
    "INSERT INTO refused SELECT seq, target, kind, key, spooled_at, sql, parameters, ?, ?"
    " FROM pending WHERE seq = ?";
const char kRemoveOne[] = "DELETE FROM pending WHERE seq = ?";
const char kCountPending[] = "SELECT target, kind, count(*) FROM pending GROUP BY target, kind";
const char kCountRefused[] = "SELECT target, count(*) FROM refused GROUP BY target";

// How reasons name the file.
const char kWhat[] = "the request spool";

}  // namespace

RequestSpool::RequestSpool(std::string path) : path_(std::move(path)) {}

RequestSpool::~RequestSpool() { close(); }

void RequestSpool::close() {
  statements_.clear();
  if (db_ != nullptr) sqlite3_close(db_);
  db_ = nullptr;
}

bool RequestSpool::open(bool create) {
  struct stat st;
  if (::stat(path_.c_str(), &st) != 0) {
    if (errno != ENOENT) {
      throw DatabaseError("cannot reach the request spool " + path_ + ": " + std::strerror(errno));
    }
    close();
    if (!create) return false;
    makeFolderOf(path_, kWhat);
    // Shared like the request database: 0660 with the shared group.
    createSharedFile(path_, kWhat);
  } else if (db_ != nullptr && st.st_dev == device_ && st.st_ino == inode_) {
    return true;
  } else {
    close();
  }
  refuseUntrustedFile(path_, kWhat);
  refuseUntrustedCompanions(path_, kWhat);
  const int code = sqlite3_open_v2(path_.c_str(), &db_,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                                   nullptr);
  if (code != SQLITE_OK) {
    const std::string reason = sqliteFailure(db_, code, ("opening the request spool " + path_).c_str());
    close();
    throw DatabaseError(reason);
  }
  try {
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, 10000);
    checkSchema();
    execute("PRAGMA synchronous=FULL", "setting the spool's synchronous mode");
  } catch (...) {
    close();
    throw;
  }
  if (::stat(path_.c_str(), &st) == 0) {
    device_ = st.st_dev;
    inode_ = st.st_ino;
  }
  return true;
}

void RequestSpool::checkSchema() {
  // Read first, in one transaction, so that a foreign file is not touched.
  int64_t application = 0, version = 0, objects = 0;
  try {
    execute("BEGIN", "reading the spool's schema");
    {
      StatementRun run(statement("PRAGMA application_id"));
      application = run->step() ? run->columnInt64(0) : 0;
    }
    {
      StatementRun run(statement("PRAGMA user_version"));
      version = run->step() ? run->columnInt64(0) : 0;
    }
    {
      StatementRun run(statement("SELECT count(*) FROM sqlite_schema"));
      objects = run->step() ? run->columnInt64(0) : 0;
    }
    execute("COMMIT", "reading the spool's schema");
  } catch (const DatabaseError& error) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw DatabaseError(path_ + " is not a request spool (" + error.what() + "); left unchanged");
  }
  const bool empty = application == 0 && version == 0 && objects == 0;
  if (!empty && (application != kApplicationId || version != kVersion)) {
    throw DatabaseError(path_ + " is not a request spool of this library (application id " +
                        std::to_string(application) + ", version " + std::to_string(version) +
                        "); left unchanged");
  }
  execute("PRAGMA journal_mode=WAL", "switching the spool to WAL");
  if (!empty) return;
  execute("BEGIN IMMEDIATE", "creating the spool");
  try {
    // Another process may have made it meanwhile.
    StatementRun run(statement("SELECT count(*) FROM sqlite_schema"));
    const bool stillEmpty = run->step() && run->columnInt64(0) == 0;
    run->reset();
    if (stillEmpty) {
      execute(kSchema, "creating the spool");
      execute(("PRAGMA application_id=" + std::to_string(kApplicationId)).c_str(),
              "marking the spool");
      execute(("PRAGMA user_version=" + std::to_string(kVersion)).c_str(), "marking the spool");
    }
    execute("COMMIT", "creating the spool");
  } catch (...) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

void RequestSpool::execute(const char* sql, const char* doing) {
  const int code = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
  if (code != SQLITE_OK) {
    throw DatabaseError(sqliteFailure(db_, code, (std::string(doing) + " in " + path_).c_str()));
  }
}

SqliteStatement& RequestSpool::statement(const char* sql) {
  auto found = statements_.find(sql);
  if (found == statements_.end()) {
    found = statements_.emplace(sql, std::make_unique<SqliteStatement>(db_, sql)).first;
  }
  return *found->second;
}

bool RequestSpool::hasPending(const std::string& target) {
  if (!open(false)) return false;
  StatementRun run(statement(kHasPending));
  run->bindText(1, target);
  return run->step();
}

void RequestSpool::append(const std::string& target, const std::vector<PendingWrite>& writes) {
  open(true);
  execute("BEGIN IMMEDIATE", "storing in the spool");
  try {
    const int64_t now = nowMillis();
    for (const PendingWrite& write : writes) {
      if (write.kind == PendingWrite::kStatus) {
        StatementRun replace(statement(kReplaceStatus));
        replace->bindText(1, target);
        replace->bindInt64(2, write.kind);
        replace->bindText(3, write.key);
        replace->step();
      }
      const std::string parameters = write.parameters.encode();
      StatementRun insert(statement(kAppend));
      insert->bindText(1, target);
      insert->bindInt64(2, write.kind);
      insert->bindText(3, write.key);
      insert->bindInt64(4, now);
      insert->bindText(5, write.sql);
      insert->bindBlob(6, parameters);
      insert->step();
    }
    execute("COMMIT", "storing in the spool");
  } catch (...) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

bool RequestSpool::beginForwarding() {
  if (!open(false)) return false;
  execute("BEGIN IMMEDIATE", "forwarding the spool");
  return true;
}

std::vector<RequestSpool::Row> RequestSpool::oldest(const std::string& target, int limit) {
  std::vector<Row> rows;
  std::vector<int64_t> damaged;
  {
    StatementRun run(statement(kOldest));
    run->bindText(1, target);
    run->bindInt64(2, limit);
    while (run->step()) {
      Row row;
      row.seq = run->columnInt64(0);
      row.write.kind = static_cast<PendingWrite::Kind>(run->columnInt64(1));
      row.write.key = run->columnText(2);
      row.write.sql = run->columnText(3);
      if (PgParameters::decode(run->columnBlob(4), row.write.parameters)) {
        rows.push_back(std::move(row));
      } else {
        damaged.push_back(row.seq);
      }
    }
  }
  for (const int64_t seq : damaged) refuse(seq, "the spooled parameters are damaged");
  return rows;
}

void RequestSpool::remove(const std::string& target, int64_t seq) {
  StatementRun run(statement(kRemove));
  run->bindText(1, target);
  run->bindInt64(2, seq);
  run->step();
}

void RequestSpool::refuse(int64_t seq, const std::string& reason) {
  {
    StatementRun move(statement(kMoveAside));
    move->bindText(1, reason);
    move->bindInt64(2, nowMillis());
    move->bindInt64(3, seq);
    move->step();
  }
  StatementRun remove(statement(kRemoveOne));
  remove->bindInt64(1, seq);
  remove->step();
}

void RequestSpool::endForwarding(bool keep) {
  if (keep) {
    execute("COMMIT", "forwarding the spool");
  } else if (db_ != nullptr) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
}

std::vector<RequestSpool::Count> RequestSpool::counts() {
  std::vector<Count> counts;
  if (!open(false)) return counts;
  auto countOf = [&counts](const std::string& target) -> Count& {
    for (Count& count : counts) {
      if (count.target == target) return count;
    }
    counts.push_back(Count());
    counts.back().target = target;
    return counts.back();
  };
  {
    StatementRun run(statement(kCountPending));
    while (run->step()) {
      Count& count = countOf(run->columnText(0));
      (run->columnInt64(1) == PendingWrite::kStatus ? count.statuses : count.messages) =
          run->columnInt64(2);
    }
  }
  StatementRun run(statement(kCountRefused));
  while (run->step()) countOf(run->columnText(0)).refused = run->columnInt64(1);
  return counts;
}

}  // namespace dbinternal
}  // namespace tvan
