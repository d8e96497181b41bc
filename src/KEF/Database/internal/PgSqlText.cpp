#include "KEF/Database/internal/PgSqlText.h"

#include <cctype>

namespace tvan {
namespace dbinternal {

namespace {

bool isBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

bool isWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; }

// Reads SQL word by word: identifiers and keywords (case kept), and single
// punctuation characters; blanks skipped.
class Tokens {
 public:
  explicit Tokens(const std::string& sql) : sql_(sql) {}

  std::string next() {
    while (at_ < sql_.size() && isBlank(sql_[at_])) ++at_;
    if (at_ >= sql_.size()) return "";
    const size_t start = at_;
    if (isWordChar(sql_[at_])) {
      while (at_ < sql_.size() && isWordChar(sql_[at_])) ++at_;
    } else {
      ++at_;
    }
    return sql_.substr(start, at_ - start);
  }
  bool nextIs(const char* word) { return upper(next()) == word; }
  std::string rest() const {
    size_t start = at_, end = sql_.size();
    while (start < end && isBlank(sql_[start])) ++start;
    while (end > start && isBlank(sql_[end - 1])) --end;
    return sql_.substr(start, end - start);
  }

  static std::string upper(std::string word) {
    for (char& c : word) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return word;
  }

 private:
  const std::string& sql_;
  size_t at_ = 0;
};

}  // namespace

std::string numberParameters(const std::string& sql, int& count) {
  std::string result;
  result.reserve(sql.size() + 16);
  count = 0;
  size_t at = 0;
  while (at < sql.size()) {
    const char c = sql[at];
    if (c == '\'' || c == '"') {
      // A quoted literal or identifier; a doubled quote stays inside.
      const size_t end = sql.find(c, at + 1);
      const size_t stop = end == std::string::npos ? sql.size() : end + 1;
      result.append(sql, at, stop - at);
      at = stop;
    } else if (c == '-' && at + 1 < sql.size() && sql[at + 1] == '-') {
      const size_t end = sql.find('\n', at);
      const size_t stop = end == std::string::npos ? sql.size() : end;
      result.append(sql, at, stop - at);
      at = stop;
    } else if (c == '/' && at + 1 < sql.size() && sql[at + 1] == '*') {
      const size_t end = sql.find("*/", at + 2);
      const size_t stop = end == std::string::npos ? sql.size() : end + 2;
      result.append(sql, at, stop - at);
      at = stop;
    } else if (c == '?') {
      result += '$' + std::to_string(++count);
      ++at;
    } else {
      result += c;
      ++at;
    }
  }
  return result;
}

bool parseInsert(const std::string& sql, InsertShape& shape) {
  Tokens tokens(sql);
  if (!tokens.nextIs("INSERT") || !tokens.nextIs("INTO")) return false;
  shape = InsertShape();
  shape.table = tokens.next();
  if (shape.table.empty() || !isWordChar(shape.table[0]) || tokens.next() != "(") return false;
  for (;;) {
    const std::string column = tokens.next();
    if (column.empty() || !isWordChar(column[0])) return false;
    shape.columns.push_back(column);
    const std::string separator = tokens.next();
    if (separator == ")") break;
    if (separator != ",") return false;
  }
  if (!tokens.nextIs("VALUES") || tokens.next() != "(") return false;
  for (size_t i = 0; i < shape.columns.size(); ++i) {
    if (tokens.next() != "?") return false;
    if (tokens.next() != (i + 1 == shape.columns.size() ? ")" : ",")) return false;
  }
  shape.rest = tokens.rest();
  return true;
}

}  // namespace dbinternal
}  // namespace tvan
