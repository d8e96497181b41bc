#pragma once
// A Statement of the SQLite engine (see SqliteConnection).
#include <string>

#include "KEF/Database/internal/Statement.h"

struct sqlite3;
struct sqlite3_stmt;

namespace tvan {
namespace dbinternal {

class SqliteStatement : public Statement {
 public:
  // Prepares `sql` on `db`, which must outlive the statement. Throws
  // DatabaseError when the text does not compile.
  SqliteStatement(sqlite3* db, const std::string& sql);
  ~SqliteStatement() override;

  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  // Bound texts and bytes are not copied: they must stay unchanged until the
  // statement is reset (a StatementRun over the bound values' scope does
  // that). Temporaries are refused at compile time for that reason.
  void bindText(int index, const std::string& text) override;
  void bindText(int index, std::string&& text) = delete;
  void bindBlob(int index, const std::string& bytes) override;
  void bindBlob(int index, std::string&& bytes) = delete;
  void bindInt64(int index, int64_t value) override;

  bool step() override;

  int64_t columnInt64(int column) override;
  std::string columnText(int column) override;
  std::string columnBlob(int column) override;

  void reset() override;

 private:
  sqlite3* db_;               // not owned
  sqlite3_stmt* statement_;   // owned
};

// The text of a failed SQLite call: what was being done and the engine's
// reason; a time-out on the write lock and a full disk say so in plain words.
std::string sqliteFailure(sqlite3* db, int code, const char* doing);

}  // namespace dbinternal
}  // namespace tvan
