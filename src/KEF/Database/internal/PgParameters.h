#pragma once
// The parameter values of one run of a statement on the server, in the form
// libpq takes them: texts (and numbers as decimal text) in text format,
// bytes in binary format, so that bytea arrives byte for byte without
// escaping.
#include <cstdint>
#include <string>
#include <vector>

namespace tvan {
namespace dbinternal {

class PgParameters {
 public:
  explicit PgParameters(int count = 0) { resize(count); }

  void resize(int count);
  int count() const { return static_cast<int>(values_.size()); }

  // Parameters are numbered from 1, as in the SQL ($1, $2, ...).
  // A text is made valid UTF-8 first (see validUtf8).
  void setText(int number, const std::string& text);
  void setBytes(int number, const std::string& bytes);
  void setInt64(int number, int64_t value);
  // Every parameter back to NULL.
  void clear();

  // The arrays for PQexecPrepared, valid until the next change.
  const char* const* values() const;
  const int* lengths() const { return lengths_.data(); }
  const int* formats() const { return formats_.data(); }

  // The value of a parameter as set (empty for NULL).
  const std::string& value(int number) const { return values_[number - 1]; }

  // A compact byte form, to keep the parameters in the spool.
  std::string encode() const;
  // The parameters of encode's bytes; false when they are damaged.
  static bool decode(const std::string& bytes, PgParameters& parameters);

 private:
  std::vector<std::string> values_;
  std::vector<char> isNull_;
  std::vector<int> lengths_;
  std::vector<int> formats_;
  mutable std::vector<const char*> pointers_;
};

}  // namespace dbinternal
}  // namespace tvan
