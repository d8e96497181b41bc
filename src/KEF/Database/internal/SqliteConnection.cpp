#include "KEF/Database/internal/SqliteConnection.h"

#include <errno.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "KEF/Database/internal/Clock.h"
#include "KEF/Database/internal/DatabaseError.h"
#include "KEF/Database/internal/SharedDatabaseFile.h"
#include "KEF/Database/internal/SqliteStatement.h"

namespace tvan {
namespace dbinternal {

namespace {

// The schema of version 1 (see the README, "Request database").
const char kSchema[] =
    "CREATE TABLE messages ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " stored_at INTEGER NOT NULL,"
    " msg_type TEXT NOT NULL,"
    " service_id TEXT NOT NULL,"
    " client_id TEXT NOT NULL,"
    " service_name TEXT NOT NULL,"
    " note TEXT NOT NULL,"
    " persistent TEXT NOT NULL,"
    " response_status TEXT NOT NULL,"
    " origin TEXT NOT NULL,"
    " data TEXT NOT NULL,"
    " record BLOB NOT NULL);"
    "CREATE INDEX messages_by_service_id ON messages(service_id);"
    "CREATE INDEX messages_by_service_name ON messages(service_name);"
    "CREATE INDEX messages_by_stored_at ON messages(stored_at);"
    "CREATE TABLE requests ("
    " uid TEXT PRIMARY KEY NOT NULL,"
    " status TEXT NOT NULL,"
    " changed_at INTEGER NOT NULL);";

const char kSqliteHeader[] = "SQLite format 3";  // and its NUL: 16 bytes

// How reasons name the file.
const char kWhat[] = "the request database";


}  // namespace

SqliteConnection::SqliteConnection(const std::string& path, bool createMissing)
    : path_(path), db_(nullptr), device_(0), inode_(0), busySince_(0) {
  checkFileBeforeOpening(createMissing);
  const int flags =
      SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (createMissing ? SQLITE_OPEN_CREATE : 0);
  const int code = sqlite3_open_v2(path_.c_str(), &db_, flags, nullptr);
  if (code != SQLITE_OK) {
    const std::string reason = sqliteFailure(db_, code, ("opening " + path_).c_str());
    sqlite3_close(db_);
    throw DatabaseError(reason);
  }
  try {
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_handler(db_, &SqliteConnection::waitWhileBusy, this);
    checkSchema(createMissing);
    // SQLite made the companions with the database's mode; they get its group.
    refuseUntrustedCompanions(path_, kWhat);
    execute("PRAGMA synchronous=NORMAL", "setting the synchronous mode");
    struct stat st;
    if (::stat(path_.c_str(), &st) == 0) {
      device_ = st.st_dev;
      inode_ = st.st_ino;
    }
  } catch (...) {
    statements_.clear();
    sqlite3_close(db_);
    throw;
  }
}

SqliteConnection::~SqliteConnection() {
  if (inTransaction()) rollback();
  statements_.clear();  // statements are finalised before their connection
  sqlite3_close(db_);
}

void SqliteConnection::checkFileBeforeOpening(bool createMissing) {
  refuseUntrustedCompanions(path_, kWhat);
  struct stat st;
  if (::stat(path_.c_str(), &st) != 0) {
    if (errno != ENOENT) {
      throw DatabaseError("cannot reach the request database " + path_ + ": " +
                          std::strerror(errno));
    }
    if (!createMissing) throw DatabaseError("there is no request database at " + path_);
    makeFolderOf(path_, kWhat);
    // Made here, 0660 with the shared group (0600 without), rather than by
    // SQLite with the umask's mode; SQLite takes an empty file as new.
    createSharedFile(path_, kWhat);
    return;
  }
  if (!S_ISREG(st.st_mode)) {
    throw DatabaseError(path_ + " is not a request database (not a regular file); left unchanged");
  }
  refuseUntrustedFile(path_, kWhat);
  // An empty file is a new database to SQLite, which would write into it:
  // only a writer that may create the database takes it.
  if (st.st_size == 0) {
    if (!createMissing) throw DatabaseError(path_ + " is an empty file, not a request database yet");
    return;
  }
  FILE* file = std::fopen(path_.c_str(), "rb");
  if (file == nullptr) {
    throw DatabaseError("cannot read the request database " + path_ + ": " +
                        std::strerror(errno));
  }
  char header[sizeof kSqliteHeader] = {};
  const size_t got = std::fread(header, 1, sizeof header, file);
  std::fclose(file);
  if (got != sizeof header || std::memcmp(header, kSqliteHeader, sizeof header) != 0) {
    throw DatabaseError(path_ + " is not a request database (not an SQLite file); left unchanged");
  }
}

SqliteConnection::SchemaMarks SqliteConnection::readSchemaMarks() {
  SchemaMarks marks;
  marks.applicationId = queryNumber("PRAGMA application_id");
  marks.version = queryNumber("PRAGMA user_version");
  marks.objects = queryNumber("SELECT count(*) FROM sqlite_schema");
  return marks;
}

void SqliteConnection::checkSchema(bool createMissing) {
  // Only reads until the file is known to be ours or new. One read
  // transaction, so that the three marks are of one moment even while
  // another process creates the schema.
  SchemaMarks marks;
  try {
    execute("BEGIN", "reading the schema");
    marks = readSchemaMarks();
    execute("COMMIT", "reading the schema");
  } catch (const DatabaseError& error) {
    rollback();
    throw DatabaseError(path_ + " is not a request database (" + error.what() +
                        "); left unchanged");
  }
  if (marks.isEmpty()) {
    if (!createMissing) throw DatabaseError(path_ + " holds no request database yet");
    createSchema();
    return;
  }
  if (marks.applicationId != kApplicationId) {
    throw DatabaseError(path_ + " is an SQLite database of another application (application id " +
                        std::to_string(marks.applicationId) + ", " +
                        std::to_string(marks.objects) + " schema objects); left unchanged");
  }
  if (marks.version != kSchemaVersion) {
    throw DatabaseError(path_ + " is a request database of schema version " +
                        std::to_string(marks.version) + "; this library uses version " +
                        std::to_string(kSchemaVersion) + "; left unchanged");
  }
  // Ours: WAL is a property of the file, set when it was made; a reader
  // without write access leaves the mode as it is.
  if (queryText("PRAGMA journal_mode") != "wal" && !sqlite3_db_readonly(db_, "main")) {
    switchToWal();
  }
}

void SqliteConnection::createSchema() {
  switchToWal();
  begin(true);
  try {
    // Another process may have made the schema since the check above.
    const SchemaMarks marks = readSchemaMarks();
    if (marks.isEmpty()) {
      execute(kSchema, "creating the schema");
      execute(("PRAGMA application_id=" + std::to_string(kApplicationId)).c_str(),
              "marking the file");
      execute(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str(),
              "setting the schema version");
    } else if (marks.applicationId != kApplicationId || marks.version != kSchemaVersion) {
      throw DatabaseError(path_ + " was filled by another program while it was being created; "
                                  "left unchanged");
    }
    commit();
  } catch (...) {
    rollback();
    throw;
  }
}

void SqliteConnection::switchToWal() {
  std::string mode;
  try {
    mode = queryText("PRAGMA journal_mode=WAL");
  } catch (const DatabaseError& error) {
    throw DatabaseError(std::string(error.what()) + " while switching " + path_ + " to WAL");
  }
  if (mode != "wal") {
    throw DatabaseError("cannot switch " + path_ + " to the WAL journal (mode stays " + mode + ")");
  }
}

int64_t SqliteConnection::queryNumber(const char* sql) {
  sqlite3_stmt* statement = nullptr;
  int code = sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr);
  if (code == SQLITE_OK) code = sqlite3_step(statement);
  const int64_t value = code == SQLITE_ROW ? sqlite3_column_int64(statement, 0) : 0;
  const std::string reason =
      code == SQLITE_ROW ? std::string() : sqliteFailure(db_, code, sql);
  sqlite3_finalize(statement);
  if (!reason.empty()) throw DatabaseError(reason);
  return value;
}

std::string SqliteConnection::queryText(const char* sql) {
  sqlite3_stmt* statement = nullptr;
  int code = sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr);
  if (code == SQLITE_OK) code = sqlite3_step(statement);
  std::string value;
  if (code == SQLITE_ROW) {
    const unsigned char* text = sqlite3_column_text(statement, 0);
    if (text != nullptr) value = reinterpret_cast<const char*>(text);
  }
  const std::string reason =
      code == SQLITE_ROW ? std::string() : sqliteFailure(db_, code, sql);
  sqlite3_finalize(statement);
  if (!reason.empty()) throw DatabaseError(reason);
  return value;
}

void SqliteConnection::execute(const char* sql, const char* doing) {
  const int code = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
  if (code != SQLITE_OK) throw DatabaseError(sqliteFailure(db_, code, doing));
}

void SqliteConnection::begin(bool writing) {
  Statement& statement = prepare(writing ? "BEGIN IMMEDIATE" : "BEGIN");
  StatementRun run(statement);
  run->step();
}

void SqliteConnection::commit() {
  Statement& statement = prepare("COMMIT");
  StatementRun run(statement);
  run->step();
}

bool SqliteConnection::rollback() {
  if (sqlite3_get_autocommit(db_)) return true;  // nothing open (or SQLite ended it)
  try {
    Statement& statement = prepare("ROLLBACK");
    StatementRun run(statement);
    run->step();
  } catch (const DatabaseError&) {
    return false;
  }
  return sqlite3_get_autocommit(db_) != 0;
}

bool SqliteConnection::inTransaction() { return db_ != nullptr && !sqlite3_get_autocommit(db_); }

Statement& SqliteConnection::prepare(const std::string& sql) {
  auto found = statements_.find(sql);
  if (found != statements_.end()) return *found->second;
  auto statement = std::make_unique<SqliteStatement>(db_, sql);
  SqliteStatement& result = *statement;
  statements_.emplace(sql, std::move(statement));
  return result;
}

int64_t SqliteConnection::changes() { return sqlite3_changes64(db_); }

bool SqliteConnection::refersTo(const std::string& path) {
  struct stat st;
  return path == path_ && ::stat(path.c_str(), &st) == 0 && st.st_dev == device_ &&
         st.st_ino == inode_;
}

int SqliteConnection::waitWhileBusy(void* connection, int attempt) {
  auto* self = static_cast<SqliteConnection*>(connection);
  const long long now = monotonicMillis();
  if (attempt == 0) self->busySince_ = now;
  if (now - self->busySince_ >= kBusyTimeoutMs) return 0;
  // 50 us doubling up to 2 ms: a short transaction of another process is
  // waited for without much delay, a long one without spinning.
  const int shift = attempt < 6 ? attempt : 6;
  ::usleep(static_cast<useconds_t>(50u << shift > 2000u ? 2000u : 50u << shift));
  return 1;
}

}  // namespace dbinternal
}  // namespace tvan
