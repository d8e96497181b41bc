// Messages committed per second to the request database, one transaction
// per message, side by side with SQLite driven by hand.
//
//   RawSqlite/Commit       the SQLite C API alone: statements prepared once,
//                          BEGIN IMMEDIATE, the same INSERT of the same
//                          record and columns, COMMIT; WAL, synchronous
//                          NORMAL, the library's busy time-out.
//   Library/Commit         DatabaseTransaction + ServiceRequestDatabase::
//                          addEntry + commit, a new transaction object per
//                          message, as the framework sends one.
//   ServiceManager/Send    the framework's own path: ServiceManager::send of
//                          the same entry (configuration lookup of the
//                          service's persistence, transaction, addEntry,
//                          commit, notification).
//   Job/ReportStatus       a job's whole status report: job data reads, the
//                          response document, the record, the send.
//   RawSqlite/CommitFull   the raw loop with synchronous FULL (an fsync per
//                          commit): what durability against power loss
//                          would cost; the library does not use it.
//
// The same against PostgreSQL, on a server the program starts for itself
// (PgTestServer.h, default settings: synchronous_commit on, fsync on, so
// both sides wait for the same WAL flush per commit) over its Unix socket:
//   RawLibpq/Commit        libpq alone: the INSERT prepared once, BEGIN,
//                          the same INSERT of the same record (binary) and
//                          texts, COMMIT: three round trips, as the library.
//   LibraryPg/Commit       DatabaseTransaction + addEntry + commit with the
//                          location naming the server.
// and three writer processes at once for a few seconds, the aggregate rate
// of each way. Skipped, with a note, when the server binaries are missing.
//
// Each variant writes its own file (or PostgreSQL schema) in a scratch
// folder; the schema of every one is made by the library.
#include <benchmark/benchmark.h>
#include <libpq-fe.h>
#include <signal.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Base/BaseTypes/AutoLibInitialize.h"
#include "Base/BaseTypes/VString.h"
#include "KEF/Database/DatabaseTransaction.h"
#include "KEF/Database/ServiceRequestDatabase.h"
#include "KEF/Database/ServiceRequestDatabaseEntry.h"
#include "Base/XML/XmlDOM.h"
#include "KEF/KEFCore/BaseJob.h"
#include "KEF/KEFCore/BaseJobData.h"
#include "KEF/KEFCore/KEFMessage.h"
#include "KEF/KEFCore/ServiceManager.h"

#include "PgTestServer.h"
#include "RateReporter.h"

namespace {

const char kServiceID[] = "AUTODELETE|job|1733480400.123";

// A status message as a job sends one: a response document of ~250 bytes.
tvan::ServiceRequestDatabaseEntry makeEntry() {
  const std::string data =
      std::string("<KEFResponse><ServiceStatus ServiceID=\"") + kServiceID +
      "\" Status=\"RUNNING\" ResponseType=\"ServiceStatusResp\" Server=\"KEF\" "
      "UnsolNotify=\"RegServiceStat\"><ServiceStatusResp><StateName>AUTODELJOB</StateName>"
      "</ServiceStatusResp></ServiceStatus></KEFResponse>";
  std::vector<char> bytes(KEF_MESSAGE::kFixedSize + data.size() + 1, '\0');
  auto* record = reinterpret_cast<KEF_MESSAGE*>(bytes.data());
  std::strcpy(record->msgType, "Status");
  std::strcpy(record->serviceID, kServiceID);
  std::strcpy(record->clientID, "KEF");
  record->dataLength = static_cast<int32_t>(data.size());
  std::memcpy(record->data, data.c_str(), data.size() + 1);
  return tvan::ServiceRequestDatabaseEntry(record, bytes.size(), nullptr);
}

int64_t nowMillis() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

struct Scratch {
  Scratch() {
    char pattern[] = "/tmp/kef_requestdb_bench.XXXXXX";
    dir = ::mkdtemp(pattern) != nullptr ? pattern : "/tmp";
    ::setenv("KEF_REQUEST_DATABASE", (dir + "/library.db").c_str(), 1);
    // A framework configuration of its own, with the log quiet.
    ::setenv("TVAN_REGISTRY_FILE", (dir + "/registry").c_str(), 1);
    ::setenv("KEF_CONFIGURATION", dir.c_str(), 1);
    std::FILE* configuration = std::fopen((dir + "/KEFConfiguration.xml").c_str(), "w");
    if (configuration != nullptr) {
      std::fputs("<KEFPrefs><VolumePrefs/><SupportedServices><AUTODELETE ENABLED=\"1\"/>"
                 "</SupportedServices><Log><LevelMask>0x3</LevelMask><LocationMask>0x1"
                 "</LocationMask><LogFile>" ,
                 configuration);
      std::fputs((dir + "/kef.log</LogFile></Log></KEFPrefs>").c_str(), configuration);
      std::fclose(configuration);
    }
  }
  ~Scratch() {
    const std::string command = "rm -rf '" + dir + "'";
    if (std::system(command.c_str()) != 0) std::fprintf(stderr, "left %s\n", dir.c_str());
  }
  // A file with the library's schema, made by the library.
  std::string databaseFile(const char* name) const {
    const std::string path = dir + "/" + name;
    tvan::DatabaseTransaction creator(path);
    if (!creator.start()) std::fprintf(stderr, "%s\n", creator.getLastError().c_str());
    return path;
  }
  std::string dir;
};

Scratch* scratch = nullptr;

// SQLite driven by hand on its own connection: statements prepared once,
// one transaction per message.
class RawWriter {
 public:
  RawWriter(const std::string& path, const char* synchronous) {
    ok_ = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                          nullptr) == SQLITE_OK;
    sqlite3_busy_timeout(db_, 10000);
    sqlite3_exec(db_, (std::string("PRAGMA synchronous=") + synchronous).c_str(), nullptr,
                 nullptr, nullptr);
    sqlite3_prepare_v2(db_, "BEGIN IMMEDIATE", -1, &begin_, nullptr);
    sqlite3_prepare_v2(db_, "COMMIT", -1, &commit_, nullptr);
    sqlite3_prepare_v2(db_,
                       "INSERT INTO messages (stored_at, msg_type, service_id, client_id,"
                       " service_name, note, persistent, response_status, origin, data, record)"
                       " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                       -1, &insert_, nullptr);
  }
  ~RawWriter() {
    sqlite3_finalize(begin_);
    sqlite3_finalize(insert_);
    sqlite3_finalize(commit_);
    sqlite3_close(db_);
  }

  bool commitOne(const tvan::ServiceRequestDatabaseEntry& entry) {
    bool ok = ok_ && sqlite3_step(begin_) == SQLITE_DONE;
    sqlite3_reset(begin_);
    sqlite3_bind_int64(insert_, 1, nowMillis());
    text(2, entry.messageType);
    text(3, entry.serviceID);
    text(4, entry.clientID);
    text(5, entry.serviceName);
    text(6, entry.note);
    text(7, entry.persistent);
    text(8, entry.responseStatus);
    text(9, entry.origin);
    text(10, entry.data);
    sqlite3_bind_blob(insert_, 11, entry.record.data(), static_cast<int>(entry.record.size()),
                      SQLITE_STATIC);
    ok = sqlite3_step(insert_) == SQLITE_DONE && ok;
    sqlite3_reset(insert_);
    ok = sqlite3_step(commit_) == SQLITE_DONE && ok;
    sqlite3_reset(commit_);
    return ok;
  }
  const char* error() const { return sqlite3_errmsg(db_); }

 private:
  void text(int index, const std::string& value) {
    sqlite3_bind_text(insert_, index, value.data(), static_cast<int>(value.size()), SQLITE_STATIC);
  }

  sqlite3* db_ = nullptr;
  sqlite3_stmt* begin_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
  sqlite3_stmt* commit_ = nullptr;
  bool ok_ = false;
};

// The framework's way: a transaction object per message.
bool libraryCommitOne(const tvan::ServiceRequestDatabaseEntry& entry) {
  tvan::DatabaseTransaction transaction;
  tvan::ServiceRequestDatabase database(&transaction);
  transaction.start();
  return database.addEntry(entry) && transaction.commit();
}

void rawCommits(benchmark::State& state, const char* file, const char* synchronous) {
  const tvan::ServiceRequestDatabaseEntry entry = makeEntry();
  RawWriter writer(scratch->databaseFile(file), synchronous);
  ::sync();  // the previous variant's dirty pages are not written back during this one
  for (auto _ : state) {
    if (!writer.commitOne(entry)) {
      state.SkipWithError(writer.error());
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_RawCommit(benchmark::State& state) { rawCommits(state, "raw.db", "NORMAL"); }
BENCHMARK(BM_RawCommit)->Name("RawSqlite/Commit")->UseRealTime()->MinTime(2.0);

void BM_LibraryCommit(benchmark::State& state) {
  const tvan::ServiceRequestDatabaseEntry entry = makeEntry();
  ::sync();  // as in rawCommits
  for (auto _ : state) {
    if (!libraryCommitOne(entry)) {
      state.SkipWithError("the library refused a message");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LibraryCommit)->Name("Library/Commit")->UseRealTime()->MinTime(2.0);

void BM_ServiceManagerSend(benchmark::State& state) {
  const tvan::ServiceRequestDatabaseEntry entry = makeEntry();
  ::setenv("KEF_REQUEST_DATABASE", scratch->databaseFile("manager.db").c_str(), 1);
  ServiceManager manager;
  ::sync();  // as in rawCommits
  for (auto _ : state) {
    if (!manager.send(entry)) {
      state.SkipWithError("the service manager refused a message");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ServiceManagerSend)->Name("ServiceManager/Send")->UseRealTime()->MinTime(2.0);

void BM_JobReportStatus(benchmark::State& state) {
  ::setenv("KEF_REQUEST_DATABASE", scratch->databaseFile("reports.db").c_str(), 1);
  ServiceManager manager;
  const std::string xml = std::string("<AutoDelete><ServiceID>") + kServiceID +
                          "</ServiceID><ServiceName>AUTODELETE</ServiceName></AutoDelete>";
  tvan::XmlDOM document(xml.c_str(), false);
  KEF::BaseJobData data;
  data.initialize(&document);
  data.setClassPointer("MasterMgr", "ServiceManager",
                       static_cast<ACE_Task<ACE_MT_SYNCH>*>(&manager));
  KEF::BaseJob job(nullptr, &data, nullptr);
  ::sync();
  for (auto _ : state) {
    if (!job.reportStatus("RUNNING", "<StatusText>deleting</StatusText>", nullptr, nullptr,
                          nullptr, nullptr)) {
      state.SkipWithError("the report was not sent");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_JobReportStatus)->Name("Job/ReportStatus")->UseRealTime()->MinTime(2.0);

void BM_RawCommitFull(benchmark::State& state) { rawCommits(state, "rawfull.db", "FULL"); }
BENCHMARK(BM_RawCommitFull)->Name("RawSqlite/CommitFull")->UseRealTime()->MinTime(2.0);

// Alternating batches of a raw writer and of the library (the library
// writes to KEF_REQUEST_DATABASE), so that a change in the machine's load
// during the run (other builds, the disk) weighs on both alike; prints the
// rates and their ratio after `label`.
template <class RawWriterType>
void alternateBatches(RawWriterType& raw, const tvan::ServiceRequestDatabaseEntry& entry,
                      int rounds, int batch, const char* label, const char* rawName) {
  double rawSeconds = 0, librarySeconds = 0;
  for (int round = 0; round < rounds; ++round) {
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < batch; ++i) raw.commitOne(entry);
    rawSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    start = std::chrono::steady_clock::now();
    for (int i = 0; i < batch; ++i) libraryCommitOne(entry);
    librarySeconds +=
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  const double messages = static_cast<double>(rounds) * batch;
  std::printf("%s, %d x %d each: library %.0f, %s %.0f commits/s, rate ratio %.2f\n", label,
              rounds, batch, messages / librarySeconds, rawName, messages / rawSeconds,
              rawSeconds / librarySeconds);
}

// The ratio again from alternating batches of the two ways. Each writes a
// file of its own.
void compareInterleaved(int rounds, int batch) {
  const tvan::ServiceRequestDatabaseEntry entry = makeEntry();
  RawWriter raw(scratch->databaseFile("interleaved-raw.db"), "NORMAL");
  ::setenv("KEF_REQUEST_DATABASE", scratch->databaseFile("interleaved-library.db").c_str(), 1);
  alternateBatches(raw, entry, rounds, batch, "interleaved", "raw");
}


// The PostgreSQL server of the run; null when it could not be started.
pgtest::ScratchServer* pgServer = nullptr;
std::string pgProblem;

// The location of schema `name` on the server, its tables made by the
// library.
std::string pgSchema(const char* name) {
  pgServer->execute("kef", std::string("CREATE SCHEMA IF NOT EXISTS ") + name);
  const std::string location =
      pgServer->location("kef", std::string("options=-csearch_path=") + name);
  tvan::DatabaseTransaction creator(location);
  if (!creator.start()) std::fprintf(stderr, "%s\n", creator.getLastError().c_str());
  return location;
}

// libpq driven by hand: the INSERT prepared once, one transaction per
// message.
class RawPgWriter {
 public:
  explicit RawPgWriter(const std::string& location) {
    connection_ = PQconnectdb(location.c_str());
    PGresult* prepared = PQprepare(
        connection_, "insert",
        "INSERT INTO messages (stored_at, msg_type, service_id, client_id, service_name, note,"
        " persistent, response_status, origin, data, record)"
        " VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11)",
        0, nullptr);
    ok_ = PQresultStatus(prepared) == PGRES_COMMAND_OK;
    PQclear(prepared);
  }
  ~RawPgWriter() { PQfinish(connection_); }

  bool commitOne(const tvan::ServiceRequestDatabaseEntry& entry) {
    const std::string storedAt = std::to_string(nowMillis());
    const char* values[11] = {storedAt.c_str(), entry.messageType.c_str(),
                              entry.serviceID.c_str(), entry.clientID.c_str(),
                              entry.serviceName.c_str(), entry.note.c_str(),
                              entry.persistent.c_str(), entry.responseStatus.c_str(),
                              entry.origin.c_str(), entry.data.c_str(), entry.record.data()};
    int lengths[11] = {};
    int formats[11] = {};
    lengths[10] = static_cast<int>(entry.record.size());
    formats[10] = 1;
    bool ok = ok_ && command(PQexec(connection_, "BEGIN"));
    ok = command(PQexecPrepared(connection_, "insert", 11, values, lengths, formats, 1)) && ok;
    return command(PQexec(connection_, "COMMIT")) && ok;
  }
  const char* error() const { return PQerrorMessage(connection_); }

 private:
  static bool command(PGresult* result) {
    const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
    PQclear(result);
    return ok;
  }
  PGconn* connection_ = nullptr;
  bool ok_ = false;
};

void BM_RawPgCommit(benchmark::State& state) {
  if (pgServer == nullptr) {
    state.SkipWithError(("no PostgreSQL server: " + pgProblem).c_str());
    return;
  }
  const tvan::ServiceRequestDatabaseEntry entry = makeEntry();
  RawPgWriter writer(pgSchema("raw"));
  for (auto _ : state) {
    if (!writer.commitOne(entry)) {
      state.SkipWithError(writer.error());
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RawPgCommit)->Name("RawLibpq/Commit")->UseRealTime()->MinTime(2.0);

void BM_LibraryPgCommit(benchmark::State& state) {
  if (pgServer == nullptr) {
    state.SkipWithError(("no PostgreSQL server: " + pgProblem).c_str());
    return;
  }
  const tvan::ServiceRequestDatabaseEntry entry = makeEntry();
  ::setenv("KEF_REQUEST_DATABASE", pgSchema("library").c_str(), 1);
  for (auto _ : state) {
    if (!libraryCommitOne(entry)) {
      state.SkipWithError("the library refused a message");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LibraryPgCommit)->Name("LibraryPg/Commit")->UseRealTime()->MinTime(2.0);

// Processes committing at once for `seconds`, each with `commitOne` made
// in the child (its own connection); the aggregate commits per second.
double concurrentRate(int processes, double seconds,
                      const std::function<std::function<bool()>()>& makeWriter) {
  int counts[2], start[2];
  if (::pipe(counts) != 0 || ::pipe(start) != 0) return 0;
  std::vector<pid_t> children;
  std::fflush(nullptr);
  for (int i = 0; i < processes; ++i) {
    const pid_t child = ::fork();
    if (child == 0) {
      ::close(start[1]);
      std::function<bool()> commitOne = makeWriter();
      char go;
      if (::read(start[0], &go, 1) != 1) ::_exit(1);
      const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
      long done = 0;
      while (std::chrono::steady_clock::now() < end && commitOne()) ++done;
      if (::write(counts[1], &done, sizeof done) != sizeof done) ::_exit(1);
      ::_exit(0);
    }
    children.push_back(child);
  }
  ::close(start[0]);
  const std::string go(processes, 'x');
  const auto begun = std::chrono::steady_clock::now();
  if (::write(start[1], go.data(), go.size()) != static_cast<ssize_t>(go.size())) return 0;
  long total = 0;
  for (int i = 0; i < processes; ++i) {
    long done = 0;
    if (::read(counts[0], &done, sizeof done) == sizeof done) total += done;
  }
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count();
  for (const pid_t child : children) ::waitpid(child, nullptr, 0);
  for (const int fd : {counts[0], counts[1], start[1]}) ::close(fd);
  return total / elapsed;
}

// PostgreSQL side by side: alternating batches of the two ways (as
// compareInterleaved), then three writer processes of each way.
void comparePg(int rounds, int batch) {
  if (pgServer == nullptr) {
    std::printf("PostgreSQL skipped: %s\n", pgProblem.c_str());
    return;
  }
  const tvan::ServiceRequestDatabaseEntry entry = makeEntry();
  RawPgWriter raw(pgSchema("interleaved_raw"));
  ::setenv("KEF_REQUEST_DATABASE", pgSchema("interleaved_library").c_str(), 1);
  alternateBatches(raw, entry, rounds, batch, "PostgreSQL interleaved", "raw libpq");

  const std::string rawShared = pgSchema("three_raw");
  const std::string libraryShared = pgSchema("three_library");
  ::setenv("KEF_REQUEST_DATABASE", libraryShared.c_str(), 1);
  const double library = concurrentRate(3, 3.0, [&entry] {
    return std::function<bool()>([&entry] { return libraryCommitOne(entry); });
  });
  const double rawRate = concurrentRate(3, 3.0, [&entry, &rawShared] {
    auto writer = std::make_shared<RawPgWriter>(rawShared);
    return std::function<bool()>([writer, &entry] { return writer->commitOne(entry); });
  });
  std::printf("PostgreSQL, three writer processes at once: library %.0f, raw libpq %.0f"
              " commits/s in all, rate ratio %.2f\n",
              library, rawRate, rawRate > 0 ? library / rawRate : 0);
}

}  // namespace

int main(int argc, char** argv) {
  Scratch folder;
  scratch = &folder;
  tvan::AutoLibInitialize init(tvan::VString("KEF_BENCH"), false, false);
  benchmark::Initialize(&argc, argv);
  pgtest::ScratchServer server;
  if (server.start()) {
    pgServer = &server;
  } else {
    pgProblem = server.problem();
  }
  RateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.printRatio("Library/Commit/min_time:2.000/real_time",
                      "RawSqlite/Commit/min_time:2.000/real_time", "rate ratio", "commits/s");
  reporter.printRatio("ServiceManager/Send/min_time:2.000/real_time",
                      "RawSqlite/Commit/min_time:2.000/real_time", "rate ratio", "commits/s");
  reporter.printRatio("Job/ReportStatus/min_time:2.000/real_time",
                      "RawSqlite/Commit/min_time:2.000/real_time", "rate ratio", "commits/s");
  reporter.printRatio("LibraryPg/Commit/min_time:2.000/real_time",
                      "RawLibpq/Commit/min_time:2.000/real_time", "rate ratio", "commits/s");
  compareInterleaved(40, 500);
  comparePg(100, 40);
  benchmark::Shutdown();
  return 0;
}
