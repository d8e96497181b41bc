#pragma once
// The files of an SQLite database that several processes share (the request
// database, the spool): made 0660 with the shared group (0600 without) by
// this library rather than by SQLite with the umask's mode, and refused when
// an existing one may not be trusted (Base/System/Platform/SharedObjectAccess.h).
// `what` names the file in the reasons ("the request database", ...). Every
// failure throws DatabaseError.
#include <string>

namespace tvan {
namespace dbinternal {

// mkdir -p of the folder of `path` (0775 less the umask).
void makeFolderOf(const std::string& path, const char* what);

// Creates the empty file `path` (it must not exist yet).
void createSharedFile(const std::string& path, const char* what);

// Refuses `path` when it exists and may not be trusted; one of this user's
// own that grants too much is narrowed.
void refuseUntrustedFile(const std::string& path, const char* what);

// The same for SQLite's companions of `path` (-wal, -shm): a planted
// write-ahead log would be replayed into the database.
void refuseUntrustedCompanions(const std::string& path, const char* what);

}  // namespace dbinternal
}  // namespace tvan
