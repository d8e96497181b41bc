#pragma once
// A Statement of the PostgreSQL engine (see PgConnection).
//
// The library's SQL is translated once: `?` parameters become $1, $2, ...
// Two writes are recognised by their shape, because they can be kept in
// the spool when the server is unreachable:
//  - a message (INSERT INTO messages (...) VALUES (?, ...)) gets one more
//    column, entry_uid, a new id per run, and ON CONFLICT (entry_uid) DO
//    NOTHING, so that it is stored once however often it is sent;
//  - a status (INSERT INTO requests (uid, ...) VALUES (...) ON CONFLICT
//    ... DO UPDATE SET ...) is kept keyed by its uid; sent from the spool
//    it applies only when it is not older than the server's (changed_at).
// Any other statement runs on the server only.
//
// Values are copied when bound; results are read in binary format.
#include <string>

#include "KEF/Database/internal/PgParameters.h"
#include "KEF/Database/internal/PgResult.h"
#include "KEF/Database/internal/PendingWrite.h"
#include "KEF/Database/internal/Statement.h"

namespace tvan {
namespace dbinternal {

class PgConnection;

class PgStatement : public Statement {
 public:
  enum Kind { kRead, kMessage, kStatus, kOtherWrite };

  PgStatement(PgConnection& connection, const std::string& sql);

  PgStatement(const PgStatement&) = delete;
  PgStatement& operator=(const PgStatement&) = delete;

  void bindText(int index, const std::string& text) override;
  void bindBlob(int index, const std::string& bytes) override;
  void bindInt64(int index, int64_t value) override;

  bool step() override;

  int64_t columnInt64(int column) override;
  std::string columnText(int column) override;
  std::string columnBlob(int column) override;

  void reset() override;

  Kind kind() const { return kind_; }
  bool isSpoolable() const { return kind_ == kMessage || kind_ == kStatus; }
  const std::string& serverSql() const { return serverSql_; }
  // The parameters of the current run; a message's entry uid is set here.
  PgParameters& parameters() { return parameters_; }
  // The current run as the spool keeps it (spoolable statements only).
  PendingWrite pendingWrite() const;
  // The parameter that carries a message's entry uid.
  int entryUidParameter() const { return parameters_.count(); }

 private:
  void checkIndex(int index) const;
  void checkRow(int column) const;

  PgConnection& connection_;
  Kind kind_;
  std::string serverSql_;
  std::string spoolSql_;
  int count_;         // parameters of the library's SQL
  int keyParameter_;  // a status's uid
  PgParameters parameters_;
  PgResult result_;
  bool ran_;
  int row_;
};

}  // namespace dbinternal
}  // namespace tvan
