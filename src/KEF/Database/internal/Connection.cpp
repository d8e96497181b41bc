#include "KEF/Database/internal/Connection.h"

#include "KEF/Database/internal/PgConnection.h"
#include "KEF/Database/internal/PgLocation.h"
#include "KEF/Database/internal/SqliteConnection.h"

namespace tvan {
namespace dbinternal {

// The one place that picks the engine, by the form of the location: a
// PostgreSQL connection URI or keyword=value string (PgLocation::matches)
// is a server, anything else an SQLite file.
std::unique_ptr<Connection> openConnection(const std::string& path, bool createMissing) {
  if (PgLocation::matches(path)) return std::make_unique<PgConnection>(path, createMissing);
  return std::make_unique<SqliteConnection>(path, createMissing);
}

}  // namespace dbinternal
}  // namespace tvan
