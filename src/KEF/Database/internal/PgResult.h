#pragma once
// A libpq result, owned: cleared when the object goes.
#include <libpq-fe.h>

#include <string>
#include <utility>

namespace tvan {
namespace dbinternal {

class PgResult {
 public:
  PgResult() = default;
  explicit PgResult(PGresult* result) : result_(result) {}
  ~PgResult() { PQclear(result_); }
  PgResult(PgResult&& other) noexcept : result_(std::exchange(other.result_, nullptr)) {}
  PgResult& operator=(PgResult&& other) noexcept {
    if (this != &other) {
      PQclear(result_);
      result_ = std::exchange(other.result_, nullptr);
    }
    return *this;
  }
  PgResult(const PgResult&) = delete;
  PgResult& operator=(const PgResult&) = delete;

  PGresult* get() const { return result_; }
  // Whether the command succeeded (with or without rows).
  bool ok() const {
    const ExecStatusType status = result_ != nullptr ? PQresultStatus(result_) : PGRES_FATAL_ERROR;
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
  }
  // The SQLSTATE of a failure; empty when the server sent none (a lost
  // connection).
  std::string sqlState() const {
    const char* state = result_ != nullptr ? PQresultErrorField(result_, PG_DIAG_SQLSTATE) : nullptr;
    return state != nullptr ? state : "";
  }
  int rows() const { return result_ != nullptr ? PQntuples(result_) : 0; }

 private:
  PGresult* result_ = nullptr;
};

}  // namespace dbinternal
}  // namespace tvan
