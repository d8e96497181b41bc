#pragma once
// kefhost run as a child process, with its output in files, for the host's
// tests; and a scratch environment (configuration, registry, request
// database, TMPDIR) of the test's own.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "TestUtil.h"

extern char** environ;

namespace hosttest {

// A scratch folder that the framework's environment variables point into.
class Scratch {
 public:
  Scratch() : dir_("kefhost_test") {
    ::mkdir(dir_.file("config").c_str(), 0755);
    testutil::writeFile(dir_.file("config/KEFConfiguration.xml"),
                        "<KEFPrefs><SupportedServices/><StatFile>" + dir_.file("statistics.txt") +
                            "</StatFile><Log><LogFile>" + dir_.file("kef.log") +
                            "</LogFile><LevelMask>0x0317</LevelMask><LocationMask>0x1"
                            "</LocationMask></Log></KEFPrefs>");
    environment["KEF_CONFIGURATION"] = dir_.file("config");
    environment["KEF_REQUEST_DATABASE"] = dir_.file("requests.db");
    environment["TVAN_REGISTRY_FILE"] = dir_.file("registry");
    environment["TMPDIR"] = dir_.path();
  }

  const std::string& path() const { return dir_.path(); }
  std::string file(const std::string& name) const { return dir_.file(name); }

  // A fake service's data file (FakePlugin.cpp) with the given elements.
  std::string fakeService(const std::string& name, const std::string& elements) const {
    const std::string path = file(name);
    testutil::writeFile(path, "<Fake><ServiceName>FAKE</ServiceName>" + elements + "</Fake>");
    return path;
  }

  std::map<std::string, std::string> environment;

 private:
  testutil::TempDir dir_;
};

class HostProcess {
 public:
  HostProcess(const Scratch& scratch, const std::vector<std::string>& arguments)
      : out_(scratch.file("out-" + std::to_string(++runs()))),
        err_(scratch.file("err-" + std::to_string(runs()))) {
    std::vector<std::string> words{KEFHOST_PROGRAM};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string text = *entry;
      const size_t equals = text.find('=');
      if (equals != std::string::npos) variables[text.substr(0, equals)] = text.substr(equals + 1);
    }
    for (const auto& variable : scratch.environment) variables[variable.first] = variable.second;
    std::vector<std::string> settings;
    for (const auto& variable : variables) settings.push_back(variable.first + "=" + variable.second);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const std::vector<char*> argv = pointers(words);
    const std::vector<char*> envp = pointers(settings);
    if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }

  ~HostProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  void signal(int number) const { ::kill(pid_, number); }

  // The exit status; -1 when it did not exit by itself within the time.
  int wait(long millis = 20000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(millis);
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // Waits until the output holds `part` `times` times (or more).
  bool waitForOutput(const std::string& part, size_t times = 1, long millis = 10000) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(millis);
    while (testutil::countOf(out(), part) < times) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }

  std::string out() const { return testutil::readFile(out_); }
  std::string err() const { return testutil::readFile(err_); }
  std::vector<std::string> outLines() const { return lines(out()); }
  // The host's own diagnostics (the framework may add lines of its own).
  std::vector<std::string> hostErrors() const {
    std::vector<std::string> mine;
    for (const std::string& line : lines(err())) {
      if (line.compare(0, 9, "kefhost: ") == 0) mine.push_back(line);
    }
    return mine;
  }

  static std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
  }

 private:
  static int& runs() {
    static int count = 0;
    return count;
  }
  static std::vector<char*> pointers(const std::vector<std::string>& texts) {
    std::vector<char*> result;
    for (const std::string& text : texts) result.push_back(const_cast<char*>(text.c_str()));
    result.push_back(nullptr);
    return result;
  }

  std::string out_;
  std::string err_;
  pid_t pid_ = -1;
};

}  // namespace hosttest
