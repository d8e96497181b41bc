#pragma once
// The request database tests against PostgreSQL: one server for the whole
// test program (a gtest environment), a fresh schema per test, the server
// read with libpq, the spool's length, and the framework log.
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <stdlib.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Base/Log/LogFileReader.h"
#include "Base/Log/LogTestUtil.h"
#include "DatabaseTestUtil.h"
#include "KEF/Database/internal/RequestSpool.h"
#include "PgTestServer.h"
#include "TestUtil.h"

namespace pgtest {

// The server, and a framework configuration whose log the tests read.
class ServerEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    config_ = std::make_unique<testutil::TempDir>("kef_pg_config");
    ::setenv("TVAN_REGISTRY_FILE", config_->file("registry").c_str(), 1);
    ::setenv("KEF_CONFIGURATION", config_->path().c_str(), 1);
    tvan::testing::useOwnLogMutex("pg");
    testutil::writeFile(config_->file("KEFConfiguration.xml"),
                        "<KEFPrefs><Log><LogFile>" + logFile() +
                            "</LogFile><LevelMask>0x17</LevelMask><LocationMask>0x1"
                            "</LocationMask><MaximumSize>20</MaximumSize></Log></KEFPrefs>");
    server_ = std::make_unique<ScratchServer>(std::vector<std::string>{"fsync = off"});
    if (!server_->start()) problem_ = server_->problem();
  }
  void TearDown() override {
    server_.reset();
    config_.reset();
  }

  // Null when no server could be started (problem() says why).
  static ScratchServer* server() { return problem_.empty() ? server_.get() : nullptr; }
  static const std::string& problem() { return problem_; }
  static std::string logFile() { return config_->file("kef.log"); }

 private:
  static inline std::unique_ptr<testutil::TempDir> config_;
  static inline std::unique_ptr<ScratchServer> server_;
  static inline std::string problem_;
};

inline ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new ServerEnvironment);

#define PG_SERVER_OR_SKIP()                                                             \
  if (pgtest::ServerEnvironment::server() == nullptr)                                   \
  GTEST_SKIP() << "no PostgreSQL server for the test: " << pgtest::ServerEnvironment::problem()

inline ScratchServer& server() { return *ServerEnvironment::server(); }

// A test's own request database: a new schema of the server, named by
// KEF_REQUEST_DATABASE, and its own spool (KEF_REQUEST_SPOOL), for the life
// of the object.
class Scratch {
 public:
  explicit Scratch(const std::string& extra = "") : dir_("kef_pg_test") {
    static int counter = 0;
    schema_ = "t" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
    server().execute("kef", "CREATE SCHEMA " + schema_);
    location_ = server().location("kef", "options=-csearch_path=" + schema_ +
                                             (extra.empty() ? "" : " " + extra));
    environment_.set("KEF_REQUEST_DATABASE", location_.c_str());
    environment_.set("KEF_REQUEST_SPOOL", spool().c_str());
  }
  const std::string& location() const { return location_; }
  const std::string& schema() const { return schema_; }
  std::string spool() const { return dir_.file("spool.db"); }
  const testutil::TempDir& dir() const { return dir_; }

  // Rows of `sql` on the schema, each row's columns joined by '|'; one
  // "ERROR: ..." row when it fails.
  std::vector<std::string> rows(const std::string& sql) const {
    std::vector<std::string> rows;
    PGconn* connection = PQconnectdb(server().location("kef", "options=-csearch_path=" + schema_).c_str());
    PGresult* result = PQexec(connection, sql.c_str());
    if (PQresultStatus(result) != PGRES_TUPLES_OK && PQresultStatus(result) != PGRES_COMMAND_OK) {
      rows.push_back(std::string("ERROR: ") + PQerrorMessage(connection));
    } else {
      for (int row = 0; row < PQntuples(result); ++row) {
        std::string text;
        for (int column = 0; column < PQnfields(result); ++column) {
          if (column > 0) text += '|';
          text += PQgetvalue(result, row, column);
        }
        rows.push_back(text);
      }
    }
    PQclear(result);
    PQfinish(connection);
    return rows;
  }
  // The first column of the first row as a number; -1 when there is none.
  int64_t number(const std::string& sql) const {
    const std::vector<std::string> found = rows(sql);
    return found.empty() || found[0].compare(0, 6, "ERROR:") == 0 ? -1 : std::stoll(found[0]);
  }

 private:
  testutil::TempDir dir_;
  std::string schema_;
  std::string location_;
  dbtest::Environment environment_;
};

// Writes waiting in the spool at `path` (messages and status updates).
inline int64_t spooled(const std::string& path) {
  int64_t total = 0;
  tvan::dbinternal::RequestSpool spool(path);
  for (const auto& count : spool.counts()) total += count.messages + count.statuses;
  return total;
}

// Writes the server refused, set aside in the spool at `path`.
inline int64_t refused(const std::string& path) {
  int64_t total = 0;
  tvan::dbinternal::RequestSpool spool(path);
  for (const auto& count : spool.counts()) total += count.refused;
  return total;
}

// The framework log's entries written since the window was made.
class LogWindow {
 public:
  LogWindow() : start_(messages().size()) {}
  // Entries whose message contains `text`.
  size_t count(const std::string& text) const {
    const std::vector<std::string> all = messages();
    size_t n = 0;
    for (size_t i = start_; i < all.size(); ++i) n += all[i].find(text) != std::string::npos;
    return n;
  }
  std::string all() const {
    std::string text;
    const std::vector<std::string> found = messages();
    for (size_t i = start_; i < found.size(); ++i) text += found[i] + "\n";
    return text;
  }

 private:
  static std::vector<std::string> messages() {
    std::vector<tvan::LogEntry> entries;
    tvan::LogFileReader::readAll(ServerEnvironment::logFile(), entries);
    std::vector<std::string> texts;
    for (const auto& entry : entries) texts.push_back(entry.level + " " + entry.message);
    return texts;
  }
  size_t start_;
};

}  // namespace pgtest
