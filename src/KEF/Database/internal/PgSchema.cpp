#include "KEF/Database/internal/PgSchema.h"

#include <cstdlib>
#include <cstring>

#include "KEF/Database/internal/PgLocation.h"
#include "KEF/Database/internal/PgSession.h"

namespace tvan {
namespace dbinternal {

namespace {

// Made in one transaction, under kCreateLock, after the marks were read
// again. Texts compared or ordered by the library use the C collation so
// that the order is bytewise, as in SQLite.
const char kSchema[] =
    "CREATE TABLE kef_schema ("
    " application_id integer NOT NULL,"
    " version integer NOT NULL);"
    "INSERT INTO kef_schema (application_id, version) VALUES (1262831186, 1);"
    "CREATE TABLE messages ("
    " id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,"
    " entry_uid uuid NOT NULL DEFAULT gen_random_uuid() UNIQUE,"
    " stored_at bigint NOT NULL,"
    " msg_type text NOT NULL,"
    " service_id text COLLATE \"C\" NOT NULL,"
    " client_id text NOT NULL,"
    " service_name text COLLATE \"C\" NOT NULL,"
    " note text NOT NULL,"
    " persistent text NOT NULL,"
    " response_status text NOT NULL,"
    " origin text NOT NULL,"
    " data text NOT NULL,"
    " record bytea NOT NULL);"
    "CREATE INDEX messages_by_service_id ON messages (service_id);"
    "CREATE INDEX messages_by_service_name ON messages (service_name);"
    "CREATE INDEX messages_by_stored_at ON messages (stored_at);"
    "CREATE TABLE requests ("
    " uid text COLLATE \"C\" PRIMARY KEY,"
    " status text NOT NULL,"
    " changed_at bigint NOT NULL);";

static_assert(PgSchema::kApplicationId == 1262831186, "the id in kSchema");

const char kMarks[] =
    "SELECT to_regclass('kef_schema') IS NOT NULL, to_regclass('messages') IS NOT NULL,"
    " to_regclass('requests') IS NOT NULL";

struct Marks {
  bool mark = false;
  bool messages = false;
  bool requests = false;
  bool isEmpty() const { return !mark && !messages && !requests; }
};

// Thrown inside this file when the connection goes.
struct Lost {
  std::string reason;
};

PgResult run(PgSession& session, const char* sql, const char* doing) {
  PgResult result = session.execute(sql);
  if (result.ok()) return result;
  if (session.classify(result) == PgSession::kConnectionLost) {
    throw Lost{session.describe(result, doing)};
  }
  throw DatabaseError(session.describe(result, doing));
}

bool isTrue(const PgResult& result, int column) {
  return std::strcmp(PQgetvalue(result.get(), 0, column), "t") == 0;
}

Marks readMarks(PgSession& session) {
  const PgResult result = run(session, kMarks, "reading the schema");
  Marks marks;
  marks.mark = isTrue(result, 0);
  marks.messages = isTrue(result, 1);
  marks.requests = isTrue(result, 2);
  return marks;
}

// Throws NotARequestDatabase unless the marks are this library's.
void checkMarks(PgSession& session, const Marks& marks, const std::string& where) {
  if (!marks.mark) {
    std::string tables = marks.messages ? "messages" : "";
    if (marks.requests) tables += tables.empty() ? "requests" : " and requests";
    throw NotARequestDatabase(where + " is not a request database (it has the table " + tables +
                              " but no kef_schema mark); left unchanged");
  }
  const PgResult result = run(session, "SELECT application_id, version FROM kef_schema",
                              "reading the schema mark");
  if (result.rows() != 1) {
    throw NotARequestDatabase(where + " is not a request database (kef_schema holds " +
                              std::to_string(result.rows()) + " rows, not one); left unchanged");
  }
  const long application = std::atol(PQgetvalue(result.get(), 0, 0));
  const long version = std::atol(PQgetvalue(result.get(), 0, 1));
  if (application != PgSchema::kApplicationId) {
    throw NotARequestDatabase(where + " is not a request database (kef_schema names application " +
                              std::to_string(application) + "); left unchanged");
  }
  if (version != PgSchema::kVersion) {
    throw NotARequestDatabase(where + " is a request database of schema version " +
                              std::to_string(version) + "; this library uses version " +
                              std::to_string(PgSchema::kVersion) + "; left unchanged");
  }
}

void create(PgSession& session, const std::string& where) {
  // A session-level lock, taken before the transaction that looks again
  // and creates: a transaction begun after the lock sees the catalog as the
  // previous holder committed it (a transaction-level lock taken inside the
  // transaction would leave its catalog lookups behind that commit).
  const std::string key =
      std::to_string(PgSchema::kApplicationId) + ", " + std::to_string(PgSchema::kCreateLock);
  run(session, ("SELECT pg_advisory_lock(" + key + ")").c_str(),
      "locking the schema for its creation");
  const std::string unlock = "SELECT pg_advisory_unlock(" + key + ")";
  try {
    run(session, "BEGIN", "creating the schema");
    // Another process may have made it since the first look.
    const Marks marks = readMarks(session);
    if (marks.isEmpty()) {
      run(session, kSchema, "creating the schema");
    } else {
      checkMarks(session, marks, where);
    }
    run(session, "COMMIT", "committing the schema");
  } catch (...) {
    session.execute("ROLLBACK");
    session.execute(unlock.c_str());
    throw;
  }
  run(session, unlock.c_str(), "unlocking the schema");
}

}  // namespace

const std::string& PgSchema::beginWriting() {
  static const std::string sql = "BEGIN; SELECT pg_advisory_xact_lock(" +
                                 std::to_string(kApplicationId) + ", " +
                                 std::to_string(kWriteLock) + ")";
  return sql;
}

bool PgSchema::check(PgSession& session, const PgLocation& location, bool createMissing,
                     std::string& lostReason) {
  const std::string& where = location.redacted();
  try {
    // A writer waits for another's write lock as long as an SQLite writer
    // waits for the file's (SqliteConnection::kBusyTimeoutMs).
    run(session, "SET lock_timeout = '10s'", "setting up the session");
    const Marks marks = readMarks(session);
    if (!marks.isEmpty()) {
      checkMarks(session, marks, where);
    } else if (!createMissing) {
      throw DatabaseError(where + " holds no request database yet");
    } else {
      create(session, where);
    }
  } catch (const Lost& lost) {
    lostReason = lost.reason;
    return false;
  }
  return true;
}

}  // namespace dbinternal
}  // namespace tvan
