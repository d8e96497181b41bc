#pragma once
// One session with a PostgreSQL server: the libpq connection, the
// statements prepared on it (named by their SQL text, prepared on first
// use in each session), and what its failures mean.
//
// Results are asked for in binary format: bytea comes back byte for byte,
// texts as their bytes, numbers as big-endian integers.
#include <libpq-fe.h>

#include <string>
#include <unordered_map>

#include "KEF/Database/internal/PgResult.h"

namespace tvan {
namespace dbinternal {

class PgLocation;
class PgParameters;

class PgSession {
 public:
  // What a failed call means for the caller.
  enum Failure {
    kNoFailure,
    kConnectionLost,  // the server is gone or shutting down: try again later, elsewhere
    kTransient,       // a lock time-out, a deadlock, a cancelled statement: try again
    kRefused,         // the server refuses these values or this SQL for good
    kOther
  };

  PgSession() = default;
  ~PgSession() { close(); }
  PgSession(const PgSession&) = delete;
  PgSession& operator=(const PgSession&) = delete;

  // Opens a new session (closing the one open); false with libpq's reason
  // on one line when the server cannot be reached or refuses the login.
  bool open(const PgLocation& location, std::string& reason);
  void close();
  bool isOpen() const { return connection_ != nullptr; }

  // A simple query (one or more statements; the last one's result).
  PgResult execute(const char* sql);
  // `sql` (with $n parameters) as a statement prepared in this session.
  PgResult executePrepared(const std::string& sql, const PgParameters& parameters);

  Failure classify(const PgResult& result) const;
  // "<doing>: <the server's message> (SQLSTATE <code>)", on one line; a
  // full disk and a lost connection in plain words.
  std::string describe(const PgResult& result, const char* doing) const;
  // The affected row count of a command's result.
  static int64_t affectedRows(const PgResult& result);

 private:
  PGconn* connection_ = nullptr;
  // Statement names by SQL text, for this session.
  std::unordered_map<std::string, std::string> prepared_;
};

// libpq's multi-line message on one line, trimmed.
std::string oneLine(const char* message);

}  // namespace dbinternal
}  // namespace tvan
