#pragma once
// A request database location that names a PostgreSQL server, and the rule
// that tells it from an SQLite file name.
//
// The rule: after leading blanks, the location starts with `postgresql://`
// or `postgres://` (a connection URI), or with one of libpq's connection
// keywords followed by `=` (`host=db1 dbname=kef`, `dbname = kef`, ...).
// Anything else is a file name. A file whose name starts with such a
// keyword is still reachable as a file with a directory in front
// (`./host=x.db`).
#include <string>
#include <vector>

namespace tvan {
namespace dbinternal {

class PgLocation {
 public:
  // Whether `location` names a PostgreSQL server (see above).
  static bool matches(const std::string& location);

  explicit PgLocation(const std::string& location);
  // Not copied: the arrays point into the object's own strings.
  PgLocation(const PgLocation&) = delete;
  PgLocation& operator=(const PgLocation&) = delete;

  // The location as given.
  const std::string& text() const { return text_; }
  // The location with any password replaced by "***": for logs, error
  // texts and the spool's record of where its entries go.
  const std::string& redacted() const { return redacted_; }

  // libpq's keyword and value arrays (null-terminated) for
  // PQconnectdbParams with expand_dbname: the library's defaults (a 2 s
  // connect time-out, TCP keep-alives, the application name), which the
  // location overrides, then the location itself, then UTF-8 as the client
  // encoding, which the texts the library sends rely on.
  const char* const* keywords() const { return keywordPointers_.data(); }
  const char* const* values() const { return valuePointers_.data(); }

  static constexpr int kConnectTimeoutSeconds = 2;

 private:
  std::string text_;
  std::string redacted_;
  std::vector<std::string> keywords_;
  std::vector<std::string> values_;
  std::vector<const char*> keywordPointers_;
  std::vector<const char*> valuePointers_;
};

}  // namespace dbinternal
}  // namespace tvan
