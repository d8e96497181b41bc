// The host's parts that decide what it shows and accepts: the command line,
// reading status reports, progress lines and JSON, the built-in
// configuration.
#include <gtest/gtest.h>

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <sstream>
#include <string>
#include <vector>

#include "Base/XML/XmlDOM.h"
#include "Host/ByteSize.h"
#include "Host/CommandLine.h"
#include "Host/FrameworkConfiguration.h"
#include "Host/JsonObject.h"
#include "Host/ProgressFormat.h"
#include "Host/StatusReport.h"

namespace {

using kefhost::CommandLine;

CommandLine parse(std::vector<std::string> words) {
  words.insert(words.begin(), "kefhost");
  std::vector<const char*> argv;
  for (const std::string& word : words) argv.push_back(word.c_str());
  return CommandLine::parse(static_cast<int>(argv.size()), argv.data());
}

std::string runningReport(const std::string& figures, const std::string& text) {
  return "<KEFResponse><ServiceStatus ServiceID=\"AUTODELETE|h|1.2\" Status=\"RUNNING\" "
         "ResponseType=\"AUTODELETE\" Server=\"KEF\" UnsolNotify=\"NONE\"><StatusText " +
         figures + ">" + text + "</StatusText></ServiceStatus></KEFResponse>";
}

TEST(HostCommandLine, ReadsEveryOptionInBothForms) {
  const CommandLine line = parse({"run", "--plugin=/p.so", "--service-data", "a.xml",
                                  "--service-data=b.xml", "--passes", "3", "--for=1.5", "--json"});
  ASSERT_EQ(line.action(), CommandLine::Action::kRun) << line.error();
  EXPECT_EQ(line.options().pluginPath, "/p.so");
  EXPECT_EQ(line.options().serviceDataFiles, (std::vector<std::string>{"a.xml", "b.xml"}));
  EXPECT_EQ(line.options().passes, 3);
  EXPECT_DOUBLE_EQ(line.options().forSeconds, 1.5);
  EXPECT_TRUE(line.options().json);
  EXPECT_EQ(parse({"--help"}).action(), CommandLine::Action::kHelp);
  EXPECT_EQ(parse({"run", "--plugin", "p", "--help"}).action(), CommandLine::Action::kHelp);
  EXPECT_EQ(parse({"--version"}).action(), CommandLine::Action::kVersion);
}

TEST(HostCommandLine, RefusesWhatItCannotRun) {
  const std::vector<std::string> base = {"run", "--plugin", "p.so", "--service-data", "a.xml"};
  const std::vector<std::vector<std::string>> extras = {
      {"--passes", "0"}, {"--passes", "-1"}, {"--passes", "1.5"}, {"--passes", "3x"},
      {"--for", "0"},    {"--for", "-2"},    {"--for", "nan"},    {"--for", "inf"},
      {"--for"},         {"--frobnicate"},   {"stray"},           {"--quiet", "--json"},
      {"--plugin", "q.so"}};
  for (const std::vector<std::string>& extra : extras) {
    std::vector<std::string> words = base;
    words.insert(words.end(), extra.begin(), extra.end());
    const CommandLine line = parse(words);
    EXPECT_EQ(line.action(), CommandLine::Action::kUsageError) << extra[0];
    EXPECT_FALSE(line.error().empty());
  }
  EXPECT_EQ(parse({}).action(), CommandLine::Action::kUsageError);
  EXPECT_EQ(parse({"start"}).action(), CommandLine::Action::kUsageError);
  EXPECT_EQ(parse({"run", "--service-data", "a.xml"}).error(), "run needs --plugin PATH");
  EXPECT_EQ(parse({"run", "--plugin", "p.so"}).error(),
            "run needs at least one --service-data FILE");
}

TEST(HostStatusReport, ReadsFiguresTextAndDetail) {
  kefhost::StatusReport report;
  ASSERT_TRUE(kefhost::StatusReport::parse(
      runningReport("Pass=\"3\" Scanned=\"4000\" Deleted=\"1200\" BytesFreed=\"5242880\" "
                    "DirsRemoved=\"3\" Errors=\"x\" DryRun=\"yes\" Failed=\"no\"",
                    "Pass 3 &amp; more<Detail>/a\n/b</Detail>"),
      report));
  EXPECT_EQ(report.serviceID, "AUTODELETE|h|1.2");
  EXPECT_EQ(report.status, "RUNNING");
  EXPECT_EQ(report.text, "Pass 3 & more");
  EXPECT_EQ(report.detail, "/a\n/b");
  EXPECT_EQ(report.pass, 3);
  EXPECT_EQ(report.bytesFreed, 5242880);
  EXPECT_EQ(report.dirsRemoved, 3);
  EXPECT_FALSE(report.errors.has_value());  // not a number
  EXPECT_EQ(report.dryRun, true);
  EXPECT_EQ(report.failed, false);
  EXPECT_FALSE(report.isStateChange());
}

TEST(HostStatusReport, TellsStateChangesAndRefusesOtherData) {
  kefhost::StatusReport report;
  ASSERT_TRUE(kefhost::StatusReport::parse(
      "<KEFResponse><ServiceStatus ServiceID=\"S\" Status=\"RUNNING\"><ServiceStatusResp>"
      "<StateName>AUTODELJOB</StateName></ServiceStatusResp></ServiceStatus></KEFResponse>",
      report));
  EXPECT_EQ(report.state, "AUTODELJOB");
  EXPECT_FALSE(report.hasFigures());

  EXPECT_FALSE(kefhost::StatusReport::parse("not xml", report));
  EXPECT_FALSE(kefhost::StatusReport::parse("<Data><Root>/x</Root></Data>", report));
  EXPECT_FALSE(kefhost::StatusReport::parse(
      "<KEFResponse><ServiceStatus ServiceID=\"S\">x</ServiceStatus></KEFResponse>", report));
}

TEST(HostProgressText, OneLinePerReport) {
  kefhost::StatusReport running;
  running.status = "RUNNING";
  running.pass = 3;
  running.scanned = 4000;
  running.deleted = 1200;
  running.bytesFreed = 5242880;
  running.errors = 0;
  EXPECT_EQ(kefhost::progressText("AUTODELETE[1]", running),
            "AUTODELETE[1] pass 3: scanned 4000, deleted 1200, freed 5.0 MiB, errors 0");
  running.dryRun = true;
  EXPECT_EQ(kefhost::progressText("A[1]", running),
            "A[1] pass 3: scanned 4000, deleted 1200, freed 5.0 MiB, errors 0, dry run");

  kefhost::StatusReport failed;
  failed.status = "ERROR";
  failed.text = "cannot\tread";
  failed.detail = "  /a/b\n\n/c\r\n";
  EXPECT_EQ(kefhost::progressText("A[2]", failed), "A[2] ERROR: cannot read; /a/b; /c");

  kefhost::StatusReport done;
  done.status = "DONE";
  EXPECT_EQ(kefhost::progressText("A[1]", done), "A[1] DONE");
  done.state = "DONE";
  EXPECT_EQ(kefhost::progressText("A[1]", done), "A[1] state DONE");
}

TEST(HostProgressJson, IsValidJsonWhateverTheText) {
  kefhost::StatusReport report;
  report.status = "ERROR";
  report.text = std::string("quote \" backslash \\ bell \a nul-free \xff end \xc3\xa9");
  report.detail = "/a\n/b";
  const std::string line = kefhost::progressJson("AUTO\"DEL", 2, report);
  std::istringstream in(line);
  boost::property_tree::ptree record;
  ASSERT_NO_THROW(boost::property_tree::read_json(in, record)) << line;
  EXPECT_EQ(record.get<std::string>("service"), "AUTO\"DEL");
  EXPECT_EQ(record.get<int>("index"), 2);
  EXPECT_EQ(record.get<std::string>("detail"), "/a\n/b");
  EXPECT_EQ(line.find('\n'), std::string::npos);
  EXPECT_EQ(record.count("pass"), 0u);  // only the figures the report has
}

TEST(HostJsonObject, EscapesAndRepairsText) {
  using kefhost::JsonObject;
  EXPECT_EQ(JsonObject::quote("a\"b\\c\n\x01\x7f"), "\"a\\\"b\\\\c\\n\\u0001\\u007f\"");
  EXPECT_EQ(JsonObject::quote("\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"),
            "\"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\"");
  // A lone continuation byte, a cut sequence, an overlong form, a surrogate.
  EXPECT_EQ(JsonObject::quote("\x80|\xe2\x82|\xc0\xaf|\xed\xa0\x80"),
            "\"\\ufffd|\\ufffd\\ufffd|\\ufffd\\ufffd|\\ufffd\\ufffd\\ufffd\"");
  EXPECT_EQ(JsonObject().addString("s", "x").addNumber("n", -5).addBool("b", false).text(),
            "{\"s\":\"x\",\"n\":-5,\"b\":false}");
}

TEST(HostByteSize, OneDecimalInTheLargestFittingUnit) {
  EXPECT_EQ(kefhost::formatByteSize(0), "0 B");
  EXPECT_EQ(kefhost::formatByteSize(1023), "1023 B");
  EXPECT_EQ(kefhost::formatByteSize(1024), "1.0 KiB");
  EXPECT_EQ(kefhost::formatByteSize(5242880), "5.0 MiB");
  EXPECT_EQ(kefhost::formatByteSize(1048575), "1.0 MiB");  // not "1024.0 KiB"
  EXPECT_EQ(kefhost::formatByteSize(INT64_MAX), "8.0 EiB");
}

TEST(HostDefaultConfiguration, DefaultsAreAConfigurationNamingTheirFiles) {
  const std::string text =
      kefhost::FrameworkConfiguration::defaultsText("/tmp/a&b/kefhost.log", "/tmp/s.txt");
  tvan::XmlDOM document(text.c_str(), false);
  document.resetActiveToRoot();
  int count = 0;
  document.findNodes("Log/LogFile", count, true);
  ASSERT_EQ(count, 1);
  std::string logFile;
  document.getNodeValue(logFile, -1);
  EXPECT_EQ(logFile, "/tmp/a&b/kefhost.log");
  document.resetActiveToRoot();
  document.findNodes("StatFile", count, true);
  ASSERT_EQ(count, 1);
  std::string statisticsFile;
  document.getNodeValue(statisticsFile, -1);
  EXPECT_EQ(statisticsFile, "/tmp/s.txt");
  document.resetActiveToRoot();
  document.findNodes("SupportedServices/AUTODELETE", count, true);
  EXPECT_EQ(count, 1);
}

}  // namespace
