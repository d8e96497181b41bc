#pragma once
// The failure of a database operation inside the library. The engine throws
// it with a text that says why; the public classes catch it at their
// boundary and answer false with that text as their last error, so it never
// reaches a caller of the library.
#include <stdexcept>
#include <string>

namespace tvan {
namespace dbinternal {

class DatabaseError : public std::runtime_error {
 public:
  explicit DatabaseError(const std::string& what) : std::runtime_error(what) {}
};

}  // namespace dbinternal
}  // namespace tvan
