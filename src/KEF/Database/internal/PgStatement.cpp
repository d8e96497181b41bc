#include "KEF/Database/internal/PgStatement.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "KEF/Database/internal/DatabaseError.h"
#include "KEF/Database/internal/PgConnection.h"
#include "KEF/Database/internal/PgSqlText.h"

namespace tvan {
namespace dbinternal {

namespace {

// Type oids of the integer types a result may carry (pg_type.h).
constexpr Oid kBoolOid = 16;
constexpr Oid kInt8Oid = 20;
constexpr Oid kInt2Oid = 21;
constexpr Oid kInt4Oid = 23;

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

bool startsWithWord(const std::string& sql, const char* word) {
  size_t at = 0;
  while (at < sql.size() && std::isspace(static_cast<unsigned char>(sql[at]))) ++at;
  return upper(sql.substr(at, std::strlen(word))) == word;
}

int columnIndex(const InsertShape& shape, const char* name) {
  for (size_t i = 0; i < shape.columns.size(); ++i) {
    if (shape.columns[i] == name) return static_cast<int>(i);
  }
  return -1;
}

// A big-endian integer of `size` bytes, sign-extended.
int64_t bigEndian(const char* bytes, int size) {
  uint64_t value = static_cast<unsigned char>(bytes[0]) & 0x80 ? ~uint64_t(0) : 0;
  for (int i = 0; i < size; ++i) value = (value << 8) | static_cast<unsigned char>(bytes[i]);
  return static_cast<int64_t>(value);
}

}  // namespace

PgStatement::PgStatement(PgConnection& connection, const std::string& sql)
    : connection_(connection), kind_(kOtherWrite), count_(0), keyParameter_(0), ran_(false),
      row_(-1) {
  serverSql_ = numberParameters(sql, count_);
  if (startsWithWord(sql, "SELECT") || startsWithWord(sql, "WITH")) kind_ = kRead;
  InsertShape shape;
  if (parseInsert(sql, shape)) {
    const std::string rest = upper(shape.rest);
    if (shape.table == "messages" && shape.rest.empty() && columnIndex(shape, "entry_uid") < 0) {
      kind_ = kMessage;
      std::string columns, values;
      for (size_t i = 0; i < shape.columns.size(); ++i) {
        columns += shape.columns[i] + ", ";
        values += "$" + std::to_string(i + 1) + ", ";
      }
      serverSql_ = "INSERT INTO messages (" + columns + "entry_uid) VALUES (" + values + "$" +
                   std::to_string(count_ + 1) + ") ON CONFLICT (entry_uid) DO NOTHING";
      spoolSql_ = serverSql_;
    } else if (shape.table == "requests" && columnIndex(shape, "uid") >= 0 &&
               rest.compare(0, 11, "ON CONFLICT") == 0 &&
               rest.find("DO UPDATE SET") != std::string::npos &&
               rest.find(" WHERE ") == std::string::npos) {
      kind_ = kStatus;
      keyParameter_ = columnIndex(shape, "uid") + 1;
      spoolSql_ = serverSql_;
      if (columnIndex(shape, "changed_at") >= 0) {
        spoolSql_ += " WHERE requests.changed_at <= excluded.changed_at";
      }
    }
  }
  parameters_.resize(kind_ == kMessage ? count_ + 1 : count_);
}

void PgStatement::checkIndex(int index) const {
  if (index < 1 || index > count_) {
    throw DatabaseError("binding parameter " + std::to_string(index) + " of a statement with " +
                        std::to_string(count_));
  }
}

void PgStatement::bindText(int index, const std::string& text) {
  checkIndex(index);
  parameters_.setText(index, text);
}

void PgStatement::bindBlob(int index, const std::string& bytes) {
  checkIndex(index);
  parameters_.setBytes(index, bytes);
}

void PgStatement::bindInt64(int index, int64_t value) {
  checkIndex(index);
  parameters_.setInt64(index, value);
}

bool PgStatement::step() {
  if (!ran_) {
    result_ = connection_.run(*this);
    ran_ = true;
    row_ = -1;
  }
  return ++row_ < result_.rows();
}

void PgStatement::checkRow(int column) const {
  if (!ran_ || row_ < 0 || row_ >= result_.rows() || column < 0 ||
      column >= PQnfields(result_.get())) {
    throw DatabaseError("reading column " + std::to_string(column) + " without a row there");
  }
}

int64_t PgStatement::columnInt64(int column) {
  checkRow(column);
  PGresult* result = result_.get();
  if (PQgetisnull(result, row_, column)) return 0;
  const char* value = PQgetvalue(result, row_, column);
  const int length = PQgetlength(result, row_, column);
  const Oid type = PQftype(result, column);
  if ((type == kInt8Oid && length == 8) || (type == kInt4Oid && length == 4) ||
      (type == kInt2Oid && length == 2)) {
    return bigEndian(value, length);
  }
  if (type == kBoolOid && length == 1) return value[0] != 0;
  return std::strtoll(std::string(value, length).c_str(), nullptr, 10);
}

std::string PgStatement::columnText(int column) {
  checkRow(column);
  return std::string(PQgetvalue(result_.get(), row_, column),
                     PQgetlength(result_.get(), row_, column));
}

std::string PgStatement::columnBlob(int column) { return columnText(column); }

void PgStatement::reset() {
  result_ = PgResult();
  ran_ = false;
  row_ = -1;
  parameters_.clear();
}

PendingWrite PgStatement::pendingWrite() const {
  PendingWrite write;
  write.kind = kind_ == kStatus ? PendingWrite::kStatus : PendingWrite::kMessage;
  write.key = parameters_.value(kind_ == kStatus ? keyParameter_ : entryUidParameter());
  write.sql = spoolSql_;
  write.parameters = parameters_;
  return write;
}

}  // namespace dbinternal
}  // namespace tvan
