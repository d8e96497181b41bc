#pragma once
// The library's SQL as the PostgreSQL engine reads it: `?` parameters
// renumbered as $1, $2, ..., and the shape of an INSERT, by which the
// engine knows the two writes it can keep in the spool (see PgStatement).
#include <string>
#include <vector>

namespace tvan {
namespace dbinternal {

// `sql` with each `?` outside quotes and comments replaced by $1, $2, ...
// in order; `count` is the number of parameters.
std::string numberParameters(const std::string& sql, int& count);

// INSERT INTO <table> (<columns>) VALUES (?, ..., ?) [<rest>]
struct InsertShape {
  std::string table;
  std::vector<std::string> columns;
  std::string rest;  // what follows the VALUES list, trimmed (ON CONFLICT ...)
};

// The shape of `sql` when it is an INSERT of one row whose values are all
// `?` (one per column); false for any other statement.
bool parseInsert(const std::string& sql, InsertShape& shape);

}  // namespace dbinternal
}  // namespace tvan
