#pragma once
// The local spool of the PostgreSQL engine: an SQLite file that keeps the
// writes a server could not take, in order, until they are forwarded.
//
// One file per machine by default (requestSpoolPath), shared by every
// process; each row names the server it is for (its location without the
// password), so a spool outlives a change of server without mixing them up.
// Messages are kept one row each; of a request's status updates only the
// newest waits (an older one is replaced). The file is synced at every
// commit (synchronous FULL): a write the caller was told is stored survives
// a power loss. It is recognised by its application id and version; any
// other file is refused and left unchanged.
//
// Forwarding holds the spool's write lock from reading a batch to removing
// it, so two forwarders never send the same batch at once; a forwarder that
// dies between the server's commit and the removal leaves the batch to be
// sent again, which the server ignores (see SpoolForwarder).
//
// Used by one thread at a time. Every operation throws DatabaseError.
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "KEF/Database/internal/PendingWrite.h"

struct sqlite3;

namespace tvan {
namespace dbinternal {

class SqliteStatement;

class RequestSpool {
 public:
  static constexpr int kApplicationId = 0x4B454653;  // "KEFS"
  static constexpr int kVersion = 1;

  struct Row {
    int64_t seq = 0;
    PendingWrite write;
  };
  // What waits for one server.
  struct Count {
    std::string target;
    int64_t messages = 0;
    int64_t statuses = 0;
    int64_t refused = 0;  // writes the server refused for good, kept aside
  };

  explicit RequestSpool(std::string path);
  ~RequestSpool();
  RequestSpool(const RequestSpool&) = delete;
  RequestSpool& operator=(const RequestSpool&) = delete;

  const std::string& path() const { return path_; }

  // Whether writes for `target` wait; false when there is no spool file.
  bool hasPending(const std::string& target);
  // Keeps the writes of one transaction, all or none, after those waiting.
  // Creates the file (and its folder) when missing.
  void append(const std::string& target, const std::vector<PendingWrite>& writes);

  // Forwarding (see above). beginForwarding: false when there is no file.
  bool beginForwarding();
  std::vector<Row> oldest(const std::string& target, int limit);
  // Removes the rows of `target` up to and including `seq`.
  void remove(const std::string& target, int64_t seq);
  // Moves the row `seq` aside, with the server's reason.
  void refuse(int64_t seq, const std::string& reason);
  // Commits (keep) or rolls back what forwarding changed.
  void endForwarding(bool keep);

  // The spool's contents per server; empty when there is no file.
  std::vector<Count> counts();

 private:
  // Opens the file when it exists (or, with `create`, making it), again
  // when it was replaced; false when there is none.
  bool open(bool create);
  void close();
  void checkSchema();
  void execute(const char* sql, const char* doing);
  SqliteStatement& statement(const char* sql);

  std::string path_;
  sqlite3* db_ = nullptr;
  std::unordered_map<const char*, std::unique_ptr<SqliteStatement>> statements_;
  dev_t device_ = 0;
  ino_t inode_ = 0;
};

}  // namespace dbinternal
}  // namespace tvan
