// kefhost run as a user or a service manager runs it: exit status, signals,
// limits, output, with the fake plug-in (FakePlugin.cpp) and the real one.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "HostProcess.h"

namespace {

using hosttest::HostProcess;
using hosttest::Scratch;

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

boost::property_tree::ptree parseJson(const std::string& line) {
  std::istringstream in(line);
  boost::property_tree::ptree tree;
  boost::property_tree::read_json(in, tree);
  return tree;
}

std::vector<std::string> fakeRun(const std::vector<std::string>& dataFiles,
                                 const std::vector<std::string>& options) {
  std::vector<std::string> arguments{"run", "--plugin", KEFHOST_FAKE_PLUGIN};
  for (const std::string& file : dataFiles) {
    arguments.push_back("--service-data");
    arguments.push_back(file);
  }
  arguments.insert(arguments.end(), options.begin(), options.end());
  return arguments;
}

TEST(HostRun, EndsEveryServiceNormallyAfterTheTimeLimit) {
  Scratch scratch;
  HostProcess host(scratch, fakeRun({scratch.fakeService("a.xml", ""),
                                     scratch.fakeService("b.xml", "")},
                                    {"--for", "0.5"}));
  ASSERT_EQ(host.wait(), 0) << host.err();
  const std::string out = host.out();
  for (const std::string label : {"FAKE[1]", "FAKE[2]"}) {
    EXPECT_TRUE(contains(out, label + " pass 1: scanned 100, deleted 10, freed 1.0 MiB, errors 0\n"))
        << out;
    EXPECT_TRUE(contains(out, label + " DONE: OK\n")) << out;
  }
  EXPECT_TRUE(host.hostErrors().empty()) << host.err();
}

TEST(HostRun, SigtermFinishesEveryServiceAndExitsZero) {
  Scratch scratch;
  HostProcess host(scratch, fakeRun({scratch.fakeService("a.xml", "")}, {}));
  ASSERT_TRUE(host.waitForOutput("FAKE[1] pass 2")) << host.err();
  host.signal(SIGTERM);
  ASSERT_EQ(host.wait(), 0) << host.err();
  EXPECT_TRUE(contains(host.out(), "FAKE[1] DONE: OK\n")) << host.out();
}

TEST(HostRun, WorkflowEndingElsewhereFailsNamingTheService) {
  Scratch scratch;
  const std::string failing = scratch.fakeService("failing.xml", "<FailAtPass>2</FailAtPass>");
  HostProcess host(scratch, fakeRun({scratch.fakeService("ok.xml", ""), failing}, {"--for", "1"}));
  ASSERT_EQ(host.wait(), 1) << host.err();
  EXPECT_TRUE(contains(host.out(), "FAKE[2] ERROR: disk on fire; /a/b; /c\n")) << host.out();
  EXPECT_TRUE(contains(host.out(), "FAKE[1] DONE: OK\n")) << host.out();
  const std::vector<std::string> errors = host.hostErrors();
  ASSERT_EQ(errors.size(), 1u) << host.err();
  EXPECT_EQ(errors[0],
            "kefhost: FAKE[2] (" + failing + "): workflow ended in state WORK, not DONE");

  // Alone, the failing service ends the host without a limit or a signal.
  HostProcess alone(scratch, fakeRun({failing}, {}));
  EXPECT_EQ(alone.wait(), 1) << alone.err();
}

TEST(HostRun, LoadProblemsExitTwoWithOneLine) {
  Scratch scratch;
  const std::string good = scratch.fakeService("good.xml", "");
  testutil::writeFile(scratch.file("malformed.xml"), "<Fake><ServiceName>FAKE</Fake>");
  testutil::writeFile(scratch.file("empty.xml"), "");
  const std::string fixedID = "<ServiceID>FAKE|fixed|1</ServiceID>";
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"run", "--plugin", scratch.file("missing.so"), "--service-data", good},
       "cannot load plug-in " + scratch.file("missing.so")},
      {{"run", "--plugin", KEFHOST_NO_DELETE_PLUGIN, "--service-data", good},
       "does not export delete_service"},
      {fakeRun({scratch.file("missing.xml")}, {}),
       "cannot read service data " + scratch.file("missing.xml") + ": No such file"},
      {fakeRun({scratch.path()}, {}), "cannot read service data " + scratch.path() + ": Is a"},
      {fakeRun({scratch.file("empty.xml")}, {}), "service data " + scratch.file("empty.xml") +
                                                     " is empty"},
      {fakeRun({scratch.file("malformed.xml")}, {}),
       "service data " + scratch.file("malformed.xml") + " is not well-formed XML"},
      {fakeRun({scratch.fakeService("x.xml", fixedID), scratch.fakeService("y.xml", fixedID)}, {}),
       "repeats the ServiceID of FAKE[1]"},
      {fakeRun({good}, {"--passes", "0"}), "--passes needs a whole number"},
      {{"run", "--service-data", good}, "run needs --plugin PATH"},
  };
  for (const auto& [arguments, expected] : cases) {
    HostProcess host(scratch, arguments);
    EXPECT_EQ(host.wait(), 2) << expected;
    const std::vector<std::string> lines = HostProcess::lines(host.err());
    ASSERT_EQ(lines.size(), 1u) << host.err();
    EXPECT_TRUE(contains(lines[0], expected)) << lines[0];
    EXPECT_EQ(host.out(), "");
  }
}

TEST(HostRun, PauseAndResumeReachEveryService) {
  Scratch scratch;
  HostProcess host(scratch, fakeRun({scratch.fakeService("a.xml", ""),
                                     scratch.fakeService("b.xml", "")},
                                    {}));
  ASSERT_TRUE(host.waitForOutput("FAKE[1] pass 1") && host.waitForOutput("FAKE[2] pass 1"));
  // Nothing is paused: a resume now would be a trigger the workflows do not
  // expect, ending them.
  host.signal(SIGUSR2);
  ASSERT_TRUE(host.waitForOutput("FAKE[1] pass 3") && host.waitForOutput("FAKE[2] pass 3"));
  host.signal(SIGUSR1);
  // A pass under way when the pause arrived may still report.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const size_t pausedAt = host.outLines().size();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(host.outLines().size(), pausedAt) << host.out();

  host.signal(SIGUSR2);
  const std::string out = host.out();
  const auto passesOf = [&](const std::string& label) { return testutil::countOf(out, label); };
  EXPECT_TRUE(host.waitForOutput("FAKE[1] pass", passesOf("FAKE[1] pass") + 2));
  EXPECT_TRUE(host.waitForOutput("FAKE[2] pass", passesOf("FAKE[2] pass") + 2));

  // A paused service is resumed so that its finish takes effect.
  host.signal(SIGUSR1);
  host.signal(SIGTERM);
  ASSERT_EQ(host.wait(), 0) << host.err();
  EXPECT_EQ(testutil::countOf(host.out(), "DONE: OK"), 2u) << host.out();
}

TEST(HostRun, PassesFinishEachServiceAndJsonLinesParse) {
  Scratch scratch;
  HostProcess host(
      scratch,
      fakeRun({scratch.fakeService("a.xml", "<IntervalMillis>100</IntervalMillis>"),
               scratch.fakeService("b.xml", "<IntervalMillis>100</IntervalMillis>"
                                            "<ReportPass>no</ReportPass>")},
              {"--passes", "3", "--json"}));
  ASSERT_EQ(host.wait(), 0) << host.err();

  std::map<int, int> runningReports;
  std::map<int, int> highestPass;
  std::map<int, std::string> closingStatus;
  for (const std::string& line : host.outLines()) {
    boost::property_tree::ptree record;
    ASSERT_NO_THROW(record = parseJson(line)) << line;
    const int index = record.get<int>("index");
    EXPECT_EQ(record.get<std::string>("service"), "FAKE");
    EXPECT_EQ(record.get<std::string>("serviceID").rfind("FAKE|kefhost-", 0), 0u) << line;
    if (record.get<std::string>("status") == "RUNNING") {
      ++runningReports[index];
      const int scanned = record.get<int>("scanned");
      EXPECT_EQ(record.get<std::string>("text"),
                "Pass " + std::to_string(scanned / 100) + ": \"quoted\" & done");
      EXPECT_EQ(record.get<int64_t>("bytesFreed"), 1048576 * int64_t{scanned / 100});
      EXPECT_EQ(record.get<std::string>("dryRun"), "false");
      highestPass[index] = std::max(highestPass[index], record.get<int>("pass", 0));
    } else {
      closingStatus[index] = record.get<std::string>("status");
    }
  }
  // Finished once the third pass is reported; one more may be under way.
  EXPECT_GE(highestPass[1], 3);
  EXPECT_LE(highestPass[1], 4);
  EXPECT_GE(runningReports[2], 3);
  EXPECT_LE(runningReports[2], 4);
  EXPECT_EQ(highestPass[2], 0);  // counted without a Pass figure
  EXPECT_EQ(closingStatus[1], "DONE");
  EXPECT_EQ(closingStatus[2], "DONE");
}

TEST(HostRun, GivenServiceIdIsKeptAndEarlierRunsDoNotCount) {
  Scratch scratch;
  const std::string data = scratch.fakeService("fixed.xml", "<ServiceID>FAKE|fixed|1</ServiceID>");
  for (int run = 0; run < 2; ++run) {
    HostProcess host(scratch, fakeRun({data}, {"--passes", "2", "--json"}));
    ASSERT_EQ(host.wait(), 0) << host.err();
    const std::vector<std::string> lines = host.outLines();
    ASSERT_FALSE(lines.empty());
    const boost::property_tree::ptree first = parseJson(lines.front());
    EXPECT_EQ(first.get<std::string>("serviceID"), "FAKE|fixed|1");
    EXPECT_EQ(first.get<int>("pass"), 1) << "run " << run;
  }
}

TEST(HostRun, MissingConfigurationIsSaidOnceAndDefaultsApply) {
  Scratch scratch;
  scratch.environment["KEF_CONFIGURATION"] = scratch.file("nowhere");
  HostProcess host(scratch, fakeRun({scratch.fakeService("a.xml", "")}, {"--for", "0.3"}));
  ASSERT_EQ(host.wait(), 0) << host.err();
  const std::string err = host.err();
  EXPECT_EQ(testutil::countOf(err, "KEFConfiguration"), 1u) << err;
  EXPECT_TRUE(contains(err, "kefhost: no framework configuration at " + scratch.file("nowhere") +
                                "/KEFConfiguration.xml")) << err;
  EXPECT_FALSE(contains(err + host.out(), "config file")) << err;
  // The defaults log below TMPDIR; their private copy is gone.
  const std::string log = "kefhost-" + std::to_string(::getuid()) + ".log";
  EXPECT_EQ(::access(scratch.file(log).c_str(), F_OK), 0);
  for (const std::string& name : testutil::filesIn(scratch.file(""))) {
    EXPECT_FALSE(name.rfind("kefhost-", 0) == 0 && name.find('.') == std::string::npos) << name;
  }
}

TEST(HostRun, SecondSigtermStopsWaitingForAWorkflow) {
  Scratch scratch;
  const std::string slow = scratch.fakeService("slow.xml", "<CloseMillis>2500</CloseMillis>");
  HostProcess host(scratch, fakeRun({slow}, {}));
  ASSERT_TRUE(host.waitForOutput("FAKE[1] pass 1"));
  host.signal(SIGTERM);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  host.signal(SIGTERM);
  ASSERT_EQ(host.wait(), 3) << host.err();
  EXPECT_EQ(host.hostErrors(),
            std::vector<std::string>{"kefhost: FAKE[1] (" + slow +
                                     "): workflow still running when the host stopped waiting"});
}

TEST(HostRun, RealPluginStartsAndFinishesCleanly) {
  Scratch scratch;
  const std::string root = scratch.file("root");
  ASSERT_EQ(::mkdir(root.c_str(), 0755), 0);
  std::string data = testutil::readFile(KEFHOST_EXAMPLE_SERVICE_DATA);
  const std::string exampleRoot = "/var/tmp/kef-autodelete";
  ASSERT_NE(data.find(exampleRoot), std::string::npos);
  data.replace(data.find(exampleRoot), exampleRoot.size(), root);
  testutil::writeFile(scratch.file("autodelete.xml"), data);

  HostProcess host(scratch, {"run", "--plugin", KEFHOST_AUTODELETE_PLUGIN, "--service-data",
                             scratch.file("autodelete.xml"), "--for", "2"});
  ASSERT_EQ(host.wait(), 0) << host.err();
  EXPECT_TRUE(host.hostErrors().empty()) << host.err();
  EXPECT_TRUE(contains(host.out(), "AUTODELETE[1] DONE")) << host.out();
}

}  // namespace
