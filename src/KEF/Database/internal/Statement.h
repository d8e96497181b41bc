#pragma once
// A prepared statement of a Connection: SQL with `?` parameters, prepared
// once per connection and reused for every run.
//
// The connection owns its statements; a statement lives as long as its
// connection and is used by one thread at a time (the one holding the
// connection). Every operation throws DatabaseError on failure.
#include <cstdint>
#include <string>

namespace tvan {
namespace dbinternal {

class Statement {
 public:
  virtual ~Statement() = default;

  // Parameters are numbered from 1 in the order of the `?`s.
  virtual void bindText(int index, const std::string& text) = 0;
  virtual void bindBlob(int index, const std::string& bytes) = 0;
  virtual void bindInt64(int index, int64_t value) = 0;

  // Runs the statement or moves to its next row: true when a row is there,
  // false when the statement has finished.
  virtual bool step() = 0;

  // Columns of the current row, numbered from 0.
  virtual int64_t columnInt64(int column) = 0;
  virtual std::string columnText(int column) = 0;
  virtual std::string columnBlob(int column) = 0;

  // Ends the current run and clears the parameters. Never throws.
  virtual void reset() = 0;
};

// Resets a statement when the scope ends, so that a cached statement never
// stays in the middle of a run (which would keep a read open) after an
// early return or a throw.
class StatementRun {
 public:
  explicit StatementRun(Statement& statement) : statement_(statement) {}
  ~StatementRun() { statement_.reset(); }
  StatementRun(const StatementRun&) = delete;
  StatementRun& operator=(const StatementRun&) = delete;

  Statement* operator->() const { return &statement_; }

 private:
  Statement& statement_;
};

}  // namespace dbinternal
}  // namespace tvan
