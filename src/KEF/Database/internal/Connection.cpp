#include "KEF/Database/internal/Connection.h"

#include "KEF/Database/internal/SqliteConnection.h"

namespace tvan {
namespace dbinternal {

// The one place that picks the engine: another engine would be chosen here,
// for example by the form of the location.
std::unique_ptr<Connection> openConnection(const std::string& path, bool createMissing) {
  return std::make_unique<SqliteConnection>(path, createMissing);
}

}  // namespace dbinternal
}  // namespace tvan
