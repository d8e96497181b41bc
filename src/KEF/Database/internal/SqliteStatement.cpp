#include "KEF/Database/internal/SqliteStatement.h"

#include <sqlite3.h>

#include <cerrno>

#include "KEF/Database/internal/DatabaseError.h"

namespace tvan {
namespace dbinternal {

namespace {

bool isDiskFull(sqlite3* db, int code) {
  const int primary = code & 0xff;
  if (primary == SQLITE_FULL) return true;
  if (primary != SQLITE_IOERR || db == nullptr) return false;
  const int err = sqlite3_system_errno(db);
  return err == ENOSPC || err == EDQUOT;
}

}  // namespace

std::string sqliteFailure(sqlite3* db, int code, const char* doing) {
  std::string text = doing;
  text += ": ";
  const int primary = code & 0xff;
  if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) {
    text += "the database stayed locked by another connection beyond the busy time-out";
  } else if (isDiskFull(db, code)) {
    // SQLite reports a full file system as SQLITE_FULL, or as an I/O error
    // when the write that ran out of space was one of its own files'.
    text += "disk full: no room left for the request database";
  } else {
    // sqlite3_errmsg describes the connection's last failure, which is this
    // one; without a connection only the code's generic text is known.
    text += db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(code);
  }
  text += " (SQLite code " + std::to_string(code) + ")";
  return text;
}

SqliteStatement::SqliteStatement(sqlite3* db, const std::string& sql)
    : db_(db), statement_(nullptr) {
  const int code = sqlite3_prepare_v3(db_, sql.data(), static_cast<int>(sql.size()),
                                      SQLITE_PREPARE_PERSISTENT, &statement_, nullptr);
  if (code != SQLITE_OK) {
    sqlite3_finalize(statement_);
    throw DatabaseError(sqliteFailure(db_, code, "preparing a statement"));
  }
}

SqliteStatement::~SqliteStatement() { sqlite3_finalize(statement_); }

void SqliteStatement::bindText(int index, const std::string& text) {
  const int code = sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()),
                                     SQLITE_STATIC);
  if (code != SQLITE_OK) throw DatabaseError(sqliteFailure(db_, code, "binding a text"));
}

void SqliteStatement::bindBlob(int index, const std::string& bytes) {
  // A zero-length blob bound from an empty string's pointer is a blob, not
  // NULL, because the pointer is never null.
  const int code = sqlite3_bind_blob(statement_, index, bytes.data(),
                                     static_cast<int>(bytes.size()), SQLITE_STATIC);
  if (code != SQLITE_OK) throw DatabaseError(sqliteFailure(db_, code, "binding bytes"));
}

void SqliteStatement::bindInt64(int index, int64_t value) {
  const int code = sqlite3_bind_int64(statement_, index, value);
  if (code != SQLITE_OK) throw DatabaseError(sqliteFailure(db_, code, "binding a number"));
}

bool SqliteStatement::step() {
  const int code = sqlite3_step(statement_);
  if (code == SQLITE_ROW) return true;
  if (code == SQLITE_DONE) return false;
  throw DatabaseError(sqliteFailure(db_, code, "running a statement"));
}

int64_t SqliteStatement::columnInt64(int column) {
  return sqlite3_column_int64(statement_, column);
}

std::string SqliteStatement::columnText(int column) {
  const unsigned char* text = sqlite3_column_text(statement_, column);
  const int size = sqlite3_column_bytes(statement_, column);
  return text != nullptr ? std::string(reinterpret_cast<const char*>(text), size) : std::string();
}

std::string SqliteStatement::columnBlob(int column) {
  const void* bytes = sqlite3_column_blob(statement_, column);
  const int size = sqlite3_column_bytes(statement_, column);
  return bytes != nullptr ? std::string(static_cast<const char*>(bytes), size) : std::string();
}

void SqliteStatement::reset() {
  sqlite3_reset(statement_);
  sqlite3_clear_bindings(statement_);
}

}  // namespace dbinternal
}  // namespace tvan
