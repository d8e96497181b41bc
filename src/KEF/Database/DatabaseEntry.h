#pragma once
// The base of the entries of the request database: a value with the two
// texts every entry has. Entries are copied member by member and passed by
// value.
#include <string>

namespace tvan {

class DatabaseEntry {
 public:
  DatabaseEntry() = default;
  explicit DatabaseEntry(std::string kind) : kind(std::move(kind)) {}
  virtual ~DatabaseEntry();

  DatabaseEntry(const DatabaseEntry&) = default;
  DatabaseEntry& operator=(const DatabaseEntry&) = default;
  DatabaseEntry(DatabaseEntry&&) = default;
  DatabaseEntry& operator=(DatabaseEntry&&) = default;

  // The entry's key in the database, set on entries read back from it
  // (decimal text); empty on an entry not stored yet.
  std::string key;
  // What the entry is, for example ServiceRequestDatabaseEntry::kKind.
  std::string kind;
};

}  // namespace tvan
