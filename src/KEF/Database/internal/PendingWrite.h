#pragma once
// A write kept in the spool until the server has it: the SQL as the server
// runs it and its parameter values.
#include <string>

#include "KEF/Database/internal/PgParameters.h"

namespace tvan {
namespace dbinternal {

struct PendingWrite {
  enum Kind {
    kMessage = 1,  // a stored message; the server ignores an entry uid it already has
    kStatus = 2    // a request's status; a newer one of the same request replaces it
  };
  Kind kind = kMessage;
  std::string key;  // the message's entry uid, or the request's uid
  std::string sql;
  PgParameters parameters;
};

}  // namespace dbinternal
}  // namespace tvan
