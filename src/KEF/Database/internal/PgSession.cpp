#include "KEF/Database/internal/PgSession.h"

#include <cstdlib>

#include "KEF/Database/internal/PgLocation.h"
#include "KEF/Database/internal/PgParameters.h"

namespace tvan {
namespace dbinternal {

namespace {

// The server's notices (a warning that it shuts down, ...) are not the
// library's to print: libpq's default writes them to standard error.
void ignoreNotice(void*, const char*) {}

}  // namespace

std::string oneLine(const char* message) {
  std::string text;
  bool blank = false;
  for (const char* c = message != nullptr ? message : ""; *c != '\0'; ++c) {
    if (*c == '\n' || *c == '\t' || *c == '\r' || *c == ' ') {
      blank = !text.empty();
      continue;
    }
    if (blank) text += ' ';
    blank = false;
    text += *c;
  }
  return text;
}

bool PgSession::open(const PgLocation& location, std::string& reason) {
  close();
  connection_ = PQconnectdbParams(location.keywords(), location.values(), 1);
  if (connection_ != nullptr && PQstatus(connection_) == CONNECTION_OK) {
    PQsetNoticeProcessor(connection_, &ignoreNotice, nullptr);
    return true;
  }
  reason = connection_ != nullptr ? oneLine(PQerrorMessage(connection_))
                                  : std::string("out of memory for the connection");
  close();
  return false;
}

void PgSession::close() {
  PQfinish(connection_);
  connection_ = nullptr;
  prepared_.clear();
}

PgResult PgSession::execute(const char* sql) {
  return PgResult(connection_ != nullptr ? PQexec(connection_, sql) : nullptr);
}

PgResult PgSession::executePrepared(const std::string& sql, const PgParameters& parameters) {
  if (connection_ == nullptr) return PgResult();
  auto found = prepared_.find(sql);
  if (found == prepared_.end()) {
    const std::string name = "kef" + std::to_string(prepared_.size() + 1);
    PgResult prepared(PQprepare(connection_, name.c_str(), sql.c_str(), 0, nullptr));
    if (!prepared.ok()) return prepared;
    found = prepared_.emplace(sql, name).first;
  }
  return PgResult(PQexecPrepared(connection_, found->second.c_str(), parameters.count(),
                                 parameters.values(), parameters.lengths(), parameters.formats(),
                                 1));
}

PgSession::Failure PgSession::classify(const PgResult& result) const {
  if (result.ok()) return kNoFailure;
  if (connection_ == nullptr || PQstatus(connection_) != CONNECTION_OK) return kConnectionLost;
  const std::string state = result.sqlState();
  // Class 08: connection exceptions; 57P01-57P03: the server shuts down or
  // is starting up.
  if (state.empty() || state.compare(0, 2, "08") == 0 || state == "57P01" || state == "57P02" ||
      state == "57P03") {
    return kConnectionLost;
  }
  // Serialization failure, deadlock, lock time-out, cancelled statement,
  // too many connections, out of memory or disk on the server.
  if (state.compare(0, 2, "40") == 0 || state == "55P03" || state == "57014" ||
      state.compare(0, 2, "53") == 0) {
    return kTransient;
  }
  // Data exceptions, integrity constraints, syntax and access rules.
  if (state.compare(0, 2, "22") == 0 || state.compare(0, 2, "23") == 0 ||
      state.compare(0, 2, "42") == 0) {
    return kRefused;
  }
  return kOther;
}

std::string PgSession::describe(const PgResult& result, const char* doing) const {
  std::string text = std::string(doing) + ": ";
  const std::string state = result.sqlState();
  if (state == "53100") {
    text += "disk full on the request database server: ";
  }
  const char* message = result.get() != nullptr ? PQresultErrorMessage(result.get()) : "";
  if ((message == nullptr || *message == '\0') && connection_ != nullptr) {
    message = PQerrorMessage(connection_);
  }
  std::string reason = oneLine(message);
  if (reason.empty()) reason = "the connection to the request database server was lost";
  text += reason;
  if (!state.empty()) text += " (SQLSTATE " + state + ")";
  return text;
}

int64_t PgSession::affectedRows(const PgResult& result) {
  const char* rows = result.get() != nullptr ? PQcmdTuples(result.get()) : "";
  return rows != nullptr && *rows != '\0' ? std::strtoll(rows, nullptr, 10) : 0;
}

}  // namespace dbinternal
}  // namespace tvan
