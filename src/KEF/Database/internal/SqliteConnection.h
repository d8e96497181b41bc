#pragma once
// The SQLite engine of the request database.
//
// Settings, fixed here for every connection: WAL journal (readers never
// wait for the writer), synchronous NORMAL (a commit is in the WAL file when
// it returns, so it survives the end of the writing process; the WAL is
// synced at checkpoints, so a power loss can undo the last commits, never
// corrupt the file), a busy time-out of kBusyTimeoutMs for the write lock,
// and BEGIN IMMEDIATE for writing transactions (the write lock is taken at
// the start, so a transaction never fails half way for want of it).
//
// The file is recognised by its application id (kApplicationId) and schema
// version (user_version = kSchemaVersion); a file with neither and without
// tables is new and gets the schema. Anything else is refused before
// anything is written to it.
#include <sys/types.h>

#include <memory>
#include <string>
#include <unordered_map>

#include "KEF/Database/internal/Connection.h"

struct sqlite3;

namespace tvan {
namespace dbinternal {

class SqliteStatement;

class SqliteConnection : public Connection {
 public:
  static constexpr int kSchemaVersion = 1;
  static constexpr int kApplicationId = 0x4B454652;  // "KEFR"
  static constexpr int kBusyTimeoutMs = 10000;

  // Opens and checks the file (see openConnection). Throws DatabaseError.
  SqliteConnection(const std::string& path, bool createMissing);
  ~SqliteConnection() override;

  SqliteConnection(const SqliteConnection&) = delete;
  SqliteConnection& operator=(const SqliteConnection&) = delete;

  void begin(bool writing) override;
  void commit() override;
  bool rollback() override;
  bool inTransaction() override;
  Statement& prepare(const std::string& sql) override;
  int64_t changes() override;
  bool refersTo(const std::string& path) override;

 private:
  // Refuses, without opening it, a file whose first bytes are not SQLite's;
  // a missing file is refused unless it may be created (its folder is made).
  void checkFileBeforeOpening(bool createMissing);
  // What tells a request database, and a new file, from any other.
  struct SchemaMarks {
    int64_t applicationId = 0;
    int64_t version = 0;
    int64_t objects = 0;  // tables, indexes, ...
    bool isEmpty() const { return applicationId == 0 && version == 0 && objects == 0; }
  };
  SchemaMarks readSchemaMarks();
  // Checks the schema of the open file; creates it in a new one.
  void checkSchema(bool createMissing);
  void createSchema();
  void switchToWal();
  // The first column of the first row of `sql` as a number.
  int64_t queryNumber(const char* sql);
  std::string queryText(const char* sql);
  void execute(const char* sql, const char* doing);

  // SQLite's busy handler: sleeps a little longer each time, up to
  // kBusyTimeoutMs after the first call of one wait.
  static int waitWhileBusy(void* connection, int attempt);

  std::string path_;
  sqlite3* db_;  // owned
  // Statements prepared on this connection, by SQL text; owned.
  std::unordered_map<std::string, std::unique_ptr<SqliteStatement>> statements_;
  // Identity of the file opened, to notice a replaced file.
  dev_t device_;
  ino_t inode_;
  // Start of the current busy wait (monotonic milliseconds).
  long long busySince_;
};

}  // namespace dbinternal
}  // namespace tvan
