#pragma once
// A PostgreSQL server of a test program's (or a benchmark's) own: a new
// cluster in a scratch folder, made and run as an unprivileged user (the
// tests run as root, which PostgreSQL refuses), listening only on a Unix
// socket in that folder. Stopped and removed with the object.
//
// No gtest here: the request database benchmark uses it too.
#include <glob.h>
#include <grp.h>
#include <libpq-fe.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace pgtest {

class ScratchServer {
 public:
  // The login with a password (scram-sha-256), for tests of a wrong one.
  static constexpr const char* kLockedRole = "kef_locked";
  static constexpr const char* kLockedPassword = "right";

  // `settings`: lines added to postgresql.conf (the benchmark keeps the
  // defaults; the tests drop fsync, which a crash of the server alone does
  // not need).
  explicit ScratchServer(std::vector<std::string> settings = {}) : settings_(std::move(settings)) {}
  ~ScratchServer() {
    if (running_) stop();
    if (!dir_.empty()) {
      const std::string command = "rm -rf '" + dir_ + "'";
      if (std::system(command.c_str()) != 0) std::fprintf(stderr, "left %s\n", dir_.c_str());
    }
  }
  ScratchServer(const ScratchServer&) = delete;
  ScratchServer& operator=(const ScratchServer&) = delete;

  // Makes the cluster, starts it and creates the database "kef"; false
  // with problem() when that fails or the binaries are missing.
  bool start() {
    bin_ = findBinaries();
    if (bin_.empty()) return fail("no PostgreSQL server binaries in /usr/lib/postgresql/*/bin");
    char pattern[] = "/tmp/kef_pg_XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return fail("cannot make a scratch folder");
    dir_ = pattern;
    if (!chooseUser()) return false;
    if (::geteuid() == 0 && ::chown(dir_.c_str(), uid_, gid_) != 0) return fail("cannot chown");
    if (!run({bin_ + "/initdb", "-D", data(), "-U", "postgres", "-A", "trust", "-E", "UTF8",
              "--locale=C", "-N"})) {
      return fail("initdb failed; see " + dir_ + "/commands.log");
    }
    std::string conf = "listen_addresses = ''\nunix_socket_directories = '" + dir_ +
                       "'\nport = " + std::to_string(kPort) +
                       "\nmax_connections = 40\nshared_buffers = 32MB\n";
    for (const std::string& setting : settings_) conf += setting + "\n";
    if (!append(data() + "/postgresql.conf", conf)) return fail("cannot write postgresql.conf");
    if (!prependHba()) return fail("cannot write pg_hba.conf");
    if (!resume()) return false;
    return execute("postgres", "CREATE DATABASE kef") &&
           execute("postgres", std::string("CREATE ROLE ") + kLockedRole + " LOGIN PASSWORD '" +
                                   kLockedPassword + "'") &&
           execute("postgres", std::string("GRANT ALL ON DATABASE kef TO ") + kLockedRole);
  }

  // Stops the server at once, as a crash would (pg_ctl -m immediate).
  bool stop() {
    running_ = false;
    return run({bin_ + "/pg_ctl", "-D", data(), "-m", "immediate", "-w", "stop"});
  }
  // Starts it (again), waiting until it takes connections.
  bool resume() {
    if (!run({bin_ + "/pg_ctl", "-D", data(), "-w", "-t", "60", "-l", dir_ + "/server.log",
              "start"})) {
      return fail("the server did not start; see " + dir_ + "/server.log");
    }
    running_ = true;
    return true;
  }

  // The keyword=value location of database `db` (as user postgres), with
  // `extra` appended.
  std::string location(const std::string& db = "kef", const std::string& extra = "") const {
    return "host=" + dir_ + " port=" + std::to_string(kPort) + " dbname=" + db +
           " user=postgres" + (extra.empty() ? "" : " " + extra);
  }
  // The socket file, which a test may move away to make the server
  // unreachable to new connections.
  std::string socket() const { return dir_ + "/.s.PGSQL." + std::to_string(kPort); }
  const std::string& dir() const { return dir_; }
  const std::string& problem() const { return problem_; }

  // Runs `sql` on database `db`; false (reported on stderr) on failure.
  bool execute(const std::string& db, const std::string& sql) const {
    PGconn* connection = PQconnectdb(location(db).c_str());
    bool ok = PQstatus(connection) == CONNECTION_OK;
    PQsetNoticeProcessor(connection, [](void*, const char*) {}, nullptr);  // "already exists, skipping"
    if (ok) {
      PGresult* result = PQexec(connection, sql.c_str());
      ok = PQresultStatus(result) == PGRES_COMMAND_OK || PQresultStatus(result) == PGRES_TUPLES_OK;
      PQclear(result);
    }
    if (!ok) std::fprintf(stderr, "%s: %s", sql.c_str(), PQerrorMessage(connection));
    PQfinish(connection);
    return ok;
  }

 private:
  static constexpr int kPort = 5432;  // names the socket; no TCP port is opened

  std::string data() const { return dir_ + "/data"; }

  bool fail(const std::string& problem) {
    problem_ = problem;
    return false;
  }

  // The newest installed major version's bin folder.
  static std::string findBinaries() {
    glob_t found;
    std::string best;
    if (::glob("/usr/lib/postgresql/*/bin/initdb", 0, nullptr, &found) == 0) {
      std::vector<std::string> paths(found.gl_pathv, found.gl_pathv + found.gl_pathc);
      std::sort(paths.begin(), paths.end(), [](const std::string& a, const std::string& b) {
        return std::atoi(a.c_str() + 20) < std::atoi(b.c_str() + 20);  // after /usr/lib/postgresql/
      });
      best = paths.back().substr(0, paths.back().size() - std::string("/initdb").size());
    }
    ::globfree(&found);
    return best;
  }

  // As root: the postgres user when there is one, else nobody.
  bool chooseUser() {
    uid_ = ::geteuid();
    gid_ = ::getegid();
    if (uid_ != 0) return true;
    const passwd* user = ::getpwnam("postgres");
    if (user == nullptr) user = ::getpwnam("nobody");
    if (user == nullptr) return fail("no unprivileged user (postgres, nobody) to run the server");
    uid_ = user->pw_uid;
    gid_ = user->pw_gid;
    return true;
  }

  // Runs a program as the server's user, its output in commands.log.
  bool run(const std::vector<std::string>& arguments) const {
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
      const std::string log = dir_ + "/commands.log";
      std::FILE* out = std::fopen(log.c_str(), "a");
      if (out != nullptr) {
        ::dup2(::fileno(out), 1);
        ::dup2(::fileno(out), 2);
      }
      if (::geteuid() == 0 &&
          (::setgroups(0, nullptr) != 0 || ::setgid(gid_) != 0 || ::setuid(uid_) != 0)) {
        ::_exit(126);
      }
      if (::chdir(dir_.c_str()) != 0) ::_exit(126);
      std::vector<char*> argv;
      for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
  }

  static bool append(const std::string& path, const std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "a");
    if (file == nullptr) return false;
    const bool ok = std::fputs(text.c_str(), file) >= 0;
    return std::fclose(file) == 0 && ok;
  }

  // pg_hba.conf takes the first matching line: the locked role's goes
  // first, before initdb's "trust" lines.
  bool prependHba() const {
    const std::string path = data() + "/pg_hba.conf";
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr) return false;
    std::string text = std::string("local all ") + kLockedRole + " scram-sha-256\n";
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
    std::fclose(file);
    file = std::fopen(path.c_str(), "w");
    if (file == nullptr) return false;
    const bool ok = std::fputs(text.c_str(), file) >= 0;
    return std::fclose(file) == 0 && ok;
  }

  std::vector<std::string> settings_;
  std::string bin_;
  std::string dir_;
  std::string problem_;
  uid_t uid_ = 0;
  gid_t gid_ = 0;
  bool running_ = false;
};

}  // namespace pgtest
