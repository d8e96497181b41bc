#include "KEF/Database/internal/SharedDatabaseFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Base/System/Platform/SharedObjectAccess.h"
#include "KEF/Database/internal/DatabaseError.h"

namespace tvan {
namespace dbinternal {

using platform::SharedObjectAccess;

namespace {

std::string refusedText(const char* what, const std::string& path, const std::string& refusal) {
  return std::string(what) + " " + SharedObjectAccess::describe(SharedObjectAccess::kFile, path) +
         " " + refusal + "; refused";
}

}  // namespace

void makeFolderOf(const std::string& path, const char* what) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return;
  for (size_t at = 1; at <= slash; ++at) {
    if (at != slash && path[at] != '/') continue;
    const std::string prefix = path.substr(0, at);
    if (::mkdir(prefix.c_str(), 0775) != 0 && errno != EEXIST) {
      throw DatabaseError("cannot create the folder " + prefix + " of " + what + ": " +
                          std::strerror(errno));
    }
  }
}

void createSharedFile(const std::string& path, const char* what) {
  const SharedObjectAccess::Opened made =
      SharedObjectAccess::current().open(SharedObjectAccess::kFile, path, O_RDWR, true);
  if (made.fd >= 0) {
    ::close(made.fd);
    return;
  }
  if (!made.refusal.empty()) throw DatabaseError(refusedText(what, path, made.refusal));
  throw DatabaseError(std::string("cannot create ") + what + " " + path + ": " +
                      std::strerror(errno));
}

void refuseUntrustedFile(const std::string& path, const char* what) {
  const SharedObjectAccess::Opened opened =
      SharedObjectAccess::current().open(SharedObjectAccess::kFile, path, O_RDONLY, false);
  if (opened.fd >= 0) ::close(opened.fd);
  if (!opened.refusal.empty()) throw DatabaseError(refusedText(what, path, opened.refusal));
}

void refuseUntrustedCompanions(const std::string& path, const char* what) {
  refuseUntrustedFile(path + "-wal", (std::string(what) + "'s write-ahead log").c_str());
  refuseUntrustedFile(path + "-shm", (std::string(what) + "'s shared-memory index").c_str());
}

}  // namespace dbinternal
}  // namespace tvan
