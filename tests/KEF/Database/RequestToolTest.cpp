// The kef_requests program, run as a user runs it.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "DatabaseTestUtil.h"
#include "KEF/Database/DatabaseTransaction.h"
#include "KEF/Database/KEFRequestDatabase.h"

namespace {

struct ToolRun {
  int status;
  std::string output;
};

// Runs the tool with `arguments` (shell words); its exit status and output.
ToolRun runTool(const std::string& arguments) {
  const std::string command = std::string(KEF_REQUESTS_TOOL) + " " + arguments + " 2>&1";
  ToolRun run{-1, ""};
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, got);
  const int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

void setStatus(const std::string& uid, const std::string& status) {
  tvan::DatabaseTransaction transaction;
  tvan::KEFRequestDatabase database(&transaction);
  ASSERT_TRUE(transaction.start() && database.updateStatus(uid, status) && transaction.commit())
      << transaction.getLastError();
}

}  // namespace

TEST(RequestTool, ExitStatusSaysFoundNothingFoundOrFailed) {
  dbtest::ScratchDatabase scratch;
  const std::string db = "--db " + scratch.path();
  EXPECT_EQ(runTool(db + " list").status, 2);  // no database there
  EXPECT_EQ(runTool("").status, 2);
  EXPECT_EQ(runTool(db + " frobnicate").status, 2);
  EXPECT_EQ(runTool(db + " list -f").status, 2);
  EXPECT_EQ(runTool(db + " prune soon").status, 2);
  EXPECT_EQ(runTool("--help").status, 0);
  EXPECT_NE(::access(scratch.path().c_str(), F_OK), 0);  // the tool creates nothing

  {
    tvan::DatabaseTransaction creator;
    ASSERT_TRUE(creator.start());
  }
  EXPECT_EQ(runTool(db + " list").status, 1);
  EXPECT_EQ(runTool(db + " messages").status, 1);

  const std::string id = "AUTODELETE|job|1733480400.123";
  ASSERT_EQ(dbtest::store(dbtest::statusEntry(id, "first note", "DONE")), "");
  setStatus(id, "DONE");

  const ToolRun list = runTool(db + " list");
  EXPECT_EQ(list.status, 0);
  EXPECT_TRUE(contains(list.output, id + "  DONE")) << list.output;

  const ToolRun messages = runTool(db + " messages --request '" + id + "'");
  EXPECT_EQ(messages.status, 0);
  for (const std::string& line :
       {"request " + id + "  status DONE", std::string("  type:       Status"),
        "  service id: " + id + "  (service AUTODELETE)", std::string("  client id:  KEF"),
        std::string("  status:     DONE"), std::string("  note:       first note"),
        // The response document, pretty-printed below the record.
        std::string("\n    <KEFResponse>\n        <ServiceStatus ServiceID=")}) {
    EXPECT_TRUE(contains(messages.output, line)) << line << "\n" << messages.output;
  }
  EXPECT_EQ(runTool(db + " messages --service OTHER").status, 1);
  EXPECT_EQ(runTool(db + " messages --service AUTODELETE").status, 0);

  const ToolRun keep = runTool(db + " prune 1d");
  EXPECT_EQ(keep.status, 0);
  EXPECT_TRUE(contains(keep.output, "removed 0 messages")) << keep.output;
  ::usleep(5 * 1000);
  EXPECT_TRUE(contains(runTool(db + " prune 0s").output, "removed 1 messages"));
  EXPECT_EQ(runTool(db + " messages").status, 1);
}

TEST(RequestTool, FollowPrintsMessagesAsTheyAreStored) {
  dbtest::ScratchDatabase scratch;
  ASSERT_EQ(dbtest::store(dbtest::statusEntry("F|1", "before")), "");
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  std::fflush(nullptr);
  const pid_t tool = ::fork();
  if (tool == 0) {
    ::dup2(out[1], 1);
    ::close(out[0]);
    ::execl(KEF_REQUESTS_TOOL, KEF_REQUESTS_TOOL, "messages", "-f", "-i", "20", "--db",
            scratch.path().c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(out[1]);

  // Reads the tool's output until `part` shows, at most 10 s.
  std::string output;
  auto readUntil = [&](const std::string& part) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!contains(output, part) && std::chrono::steady_clock::now() < deadline) {
      pollfd ready = {out[0], POLLIN, 0};
      if (::poll(&ready, 1, 100) <= 0) continue;
      char buffer[4096];
      const ssize_t got = ::read(out[0], buffer, sizeof buffer);
      if (got <= 0) break;
      output.append(buffer, static_cast<size_t>(got));
    }
    return contains(output, part);
  };
  EXPECT_TRUE(readUntil("note:       before")) << output;
  ASSERT_EQ(dbtest::store(dbtest::statusEntry("F|1", "after")), "");
  EXPECT_TRUE(readUntil("note:       after")) << output;

  ::kill(tool, SIGINT);
  EXPECT_EQ(testutil::exitStatus(tool), 0);
  ::close(out[0]);
}
