#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "Base/BaseTypes/Error.h"
#include "Base/Log/Log.h"
#include "Base/Log/LogConfiguration.h"
#include "Base/Log/LogFileReader.h"
#include "Base/System/GeneralConfiguration.h"
#include "ConfigTestUtil.h"

namespace {

// Scratch files go to the directory KEF_CONFIGURATION names, prepared by
// the program's test environment.
using configtest::freshConfigName;
using configtest::readFile;
using configtest::writeFile;

// A configuration with the sections every file carries and no log output.
std::string prefs(const std::string& body) {
  return "<KEFPrefs><VolumePrefs/><Log><LevelMask>0</LevelMask></Log>" + body + "</KEFPrefs>";
}

// A service's options as one text: found, enabled, singleton, persistent,
// exe, priority (H, M or L), value, remote.
std::string options(tvan::GeneralConfiguration& gc, const std::string& service) {
  bool enabled = true, persistent = true, exe = true, remote = true;
  int singleton = -1;
  tvan::PriorityEnum priority = tvan::kPriorityHigh;
  std::string value = "stale";
  const bool found =
      gc.getServiceOptions(service, enabled, singleton, persistent, exe, priority, value, remote);
  return std::to_string(found) + " " + std::to_string(enabled) + " " + std::to_string(singleton) +
         " " + std::to_string(persistent) + " " + std::to_string(exe) + " " + "HML"[priority] +
         " '" + value + "' " + std::to_string(remote);
}

// Retry count and timeout, complete timeout, active services, KEF number.
std::vector<int> numbers(tvan::GeneralConfiguration& gc) {
  return {gc.getRetryCount(), gc.getRetryTimeout(), gc.getCompleteTimeout(),
          gc.getMaxActiveServices(), gc.getKEFNumber()};
}

const char kAbsent[] = "0 0 999999 0 0 L '' 0";

}  // namespace

TEST(GeneralConfiguration, ServiceTimeoutsAndOptions) {
  const std::string name = freshConfigName("gc_services");
  writeFile(name,
            prefs("<SupportedServices>"
                  "<FULL ENABLED=\"1\" timeOut=\"45\" Singleton=\"3\" Persistent=\"yes\" "
                  "Exe=\"yes\" Priority=\"HIGH\" Remote=\"yes\">opts</FULL>"
                  "<BARE/>"
                  "<ONE ENABLED=\"yes\" Singleton=\"yes\" Priority=\"MEDIUM\" Persistent=\"Yes\"/>"
                  "<NONE Singleton=\"no\" Priority=\"low\"/>"
                  "<LOWP Priority=\"LOW\" timeOut=\"\"/>"
                  "</SupportedServices>"));
  tvan::GeneralConfiguration gc(name.c_str());
  EXPECT_EQ(gc.getServicesTimeout("FULL"), 45);
  for (const char* service : {"BARE", "LOWP", "UNKNOWN", ""}) {
    EXPECT_EQ(gc.getServicesTimeout(service), -1) << service;
  }
  EXPECT_EQ(options(gc, "FULL"), "1 1 3 1 1 H 'opts' 1");
  EXPECT_EQ(options(gc, "ONE"), "1 0 1 0 0 M '' 0");  // only "1" enables, only "yes" is yes
  EXPECT_EQ(options(gc, "NONE"), "1 0 999999 0 0 L '' 0");
  EXPECT_EQ(options(gc, "BARE"), "1 0 999999 0 0 L '' 0");
  EXPECT_EQ(options(gc, "UNKNOWN"), kAbsent);
}

TEST(GeneralConfiguration, EveryDefaultOfAnEmptyFile) {
  const std::string name = freshConfigName("gc_defaults");
  writeFile(name, "<KEFPrefs/>");
  tvan::GeneralConfiguration gc(name.c_str());
  std::string path = "unchanged";
  EXPECT_FALSE(gc.getStatisticsFile(path));
  EXPECT_EQ(path, "unchanged");
  EXPECT_EQ(numbers(gc), (std::vector<int>{5, 5, 30, 10, 0}));
  EXPECT_EQ(gc.getVersion(), "4.0");
  EXPECT_EQ(gc.getServiceExeName(), "");
  EXPECT_FALSE(gc.test());
  std::vector<std::string> names;
  EXPECT_FALSE(gc.getSupportedServices(names) || gc.getStartupServices(names));
  EXPECT_FALSE(gc.getKEFRootDir(path));
  EXPECT_EQ(options(gc, "AUTODELETE"), kAbsent);
}

TEST(GeneralConfiguration, WritesItsFindingsToItsOwnLog) {
  const std::string name = freshConfigName("gc_logged");
  const std::string logName = name + ".log";
  writeFile(name, "<KEFPrefs><Log><LogFile>" + logName +
                      "</LogFile><LevelMask>0xFFFF</LevelMask>"
                      "<LocationMask>0x1</LocationMask><MaximumSize>1</MaximumSize>"
                      "<FlushAlways>yes</FlushAlways></Log><SupportedServices>"
                      "<SVC ENABLED=\"0\" timeOut=\"45\" Singleton=\"2\" Priority=\"low\"/>"
                      "</SupportedServices></KEFPrefs>");
  tvan::GeneralConfiguration gc(name.c_str());
  EXPECT_EQ(gc.getServicesTimeout("SVC"), 45);
  EXPECT_EQ(gc.getServicesTimeout("GONE"), -1);
  EXPECT_EQ(options(gc, "SVC"), "1 0 2 0 0 L '' 0");
  options(gc, "GONE");
  std::string path;
  gc.getStatisticsFile(path);
  gc.getMaxExeRuns();

  std::vector<tvan::LogEntry> entries;
  ASSERT_TRUE(tvan::LogFileReader::readAll(logName, entries));
  std::vector<std::string> seen;
  for (const tvan::LogEntry& e : entries) {
    EXPECT_EQ(e.component, "GeneralConfiguration");
    if (e.level != "TRACE") seen.push_back(e.level + " " + e.message);
  }
  const std::vector<std::string> expected = {
      "ERROR No DICOM section in configuration file.",
      "DEBUG3 Search for services Timeout",
      "DEBUG3 SVC Timeout set to 45",
      "DEBUG3 Search for services Timeout",
      "DEBUG3 Cannot find services tag",
      "DEBUG3 Search for Service",
      "DEBUG2 SVC: ENABLED=n",
      "DEBUG2 SVC: Singleton=2",
      "WARNING SVC: Priority setting invalid (low), defaulting to LOW",
      "DEBUG3 Search for Service",
      "DEBUG2 Service GONE not found in configuration",
      "DEBUG4 Search for Statistics Filename",
      "WARNING Cannot find StatFile tag",
      "DEBUG2 MaxExeRuns not found, setting default",
  };
  EXPECT_EQ(seen, expected);
  // Every operation is framed by an Enter and an Exit trace.
  ASSERT_GE(entries.size(), 2u);
  EXPECT_EQ(entries[1].level, "TRACE");
  EXPECT_EQ(entries[1].message, "Enter");
  EXPECT_EQ(entries.back().message, "Exit");
}

TEST(GeneralConfiguration, MissingLimitsAreWrittenIntoTheFileOnce) {
  const std::string name = freshConfigName("gc_limits");
  writeFile(name, prefs("<MinAvailExes>8</MinAvailExes>"));
  tvan::GeneralConfiguration gc(name.c_str());
  EXPECT_EQ(gc.getMaxExeRuns(), 1);
  std::string text = readFile(name);
  EXPECT_NE(text.find("<MaxExeRuns>1</MaxExeRuns>"), std::string::npos) << text;
  EXPECT_EQ(gc.getMinAvailableExes(), 8);  // present: read, not replaced
  EXPECT_EQ(gc.getMaxBlockTime(), 15);
  text = readFile(name);
  EXPECT_NE(text.find("<MaxBlockTime>15</MaxBlockTime>"), std::string::npos) << text;
  EXPECT_NE(text.find("<MinAvailExes>8</MinAvailExes>"), std::string::npos) << text;

  // Later reads, also through another handle, find the written element.
  writeFile(name, prefs("<MaxExeRuns>4</MaxExeRuns>"));  // not reloaded by the object
  tvan::GeneralConfiguration again(name.c_str());
  EXPECT_EQ(again.getMaxExeRuns(), 1);
}

TEST(GeneralConfiguration, UnloadableFileAnswersDefaultsAndIsNotRetriedUntilItChanges) {
  const std::string name = freshConfigName("gc_absent");
  tvan::GeneralConfiguration gc(name.c_str());
  testing::internal::CaptureStderr();
  EXPECT_EQ(gc.getServicesTimeout("AUTODELETE"), -1);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("GeneralConfiguration: Failed loading config file " + name), std::string::npos)
      << err;

  // Further calls are answered at once, without another load or report.
  testing::internal::CaptureStderr();
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 200; ++i) {
    EXPECT_EQ(gc.getServicesTimeout("AUTODELETE"), -1);
    std::string path;
    EXPECT_FALSE(gc.getStatisticsFile(path));
    EXPECT_EQ(options(gc, "AUTODELETE"), kAbsent);
  }
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(), 2000);
  EXPECT_THROW(gc.getRetryCount(), tvan::Error);

  // Once the file exists it is loaded.
  writeFile(name, prefs("<SupportedServices><AUTODELETE timeOut=\"7\"/></SupportedServices>"));
  EXPECT_EQ(gc.getServicesTimeout("AUTODELETE"), 7);
}

TEST(GeneralConfiguration, SettersAndSaveRoundTrip) {
  const std::string name = freshConfigName("gc_setters");
  writeFile(name, prefs("<SupportedServices><KEEP ENABLED=\"1\" timeOut=\"9\"/><DROP/>"
                        "</SupportedServices>"));
  tvan::GeneralConfiguration gc(name.c_str());
  gc.setRetryCount(7);
  gc.setRetryTimeout(8);
  gc.setCompleteTimeout(31);
  gc.setMaxActiveServices(3);
  gc.setKEFNumber(2);
  gc.setVersion("4.1");
  gc.setStatisticsFile("stats.txt");
  gc.setSupportedServices({"KEEP", "NEW"});
  gc.setStartupServices({"KEEP", "NEW"});
  gc.save();

  // A second file name for the same path loads the saved file afresh.
  const std::string other = std::string(name).insert(name.rfind('/'), "/.");
  tvan::GeneralConfiguration reread(other.c_str());
  EXPECT_EQ(numbers(reread), (std::vector<int>{7, 8, 31, 3, 2}));
  EXPECT_EQ(reread.getVersion(), "4.1");
  std::string path;
  EXPECT_TRUE(reread.getStatisticsFile(path));
  EXPECT_EQ(path, "stats.txt");
  std::vector<std::string> supported, startup;
  EXPECT_TRUE(reread.getSupportedServices(supported) && reread.getStartupServices(startup));
  EXPECT_EQ(supported, (std::vector<std::string>{"KEEP", "NEW"}));
  EXPECT_EQ(startup, supported);
  EXPECT_EQ(reread.getServicesTimeout("KEEP"), 9);  // kept with its options
  EXPECT_EQ(options(reread, "NEW")[2], '1');        // enabled
}

TEST(GeneralConfiguration, BundledExampleServesTheAutoDeleteService) {
  std::string source = __FILE__;
  source = source.substr(0, source.rfind("/tests/")) + "/examples/KEFConfiguration.xml";
  const std::string name = freshConfigName("gc_example");
  writeFile(name, readFile(source));
  tvan::GeneralConfiguration gc(name.c_str());
  EXPECT_EQ(gc.getServicesTimeout("AUTODELETE"), 20);
  EXPECT_EQ(options(gc, "AUTODELETE"), "1 1 1 0 0 L '' 0");
  std::string path;
  EXPECT_TRUE(gc.getStatisticsFile(path));
  EXPECT_FALSE(path.empty());
  EXPECT_EQ(gc.getMaxExeRuns(), 1);
  EXPECT_EQ(gc.getMinAvailableExes(), 5);
  EXPECT_EQ(gc.getMaxBlockTime(), 15);

  tvan::LogConfiguration log(name.c_str());
  EXPECT_STREQ(log.getLogFile(), "kef.log");
  EXPECT_NE(log.getDebugMask() & 0x3, 0);
  EXPECT_EQ(log.getLocationMask() & 0x1, 1);
}

TEST(GeneralConfiguration, FirstLoadsRunBesideLogsThatRereadTheirSettings) {
  // Loading a configuration writes to its log (no VolumePrefs: an error
  // entry); a log re-reading its settings holds the log lock and then asks
  // the configuration cache. Neither order may block the other.
  std::vector<std::string> names;
  for (int i = 0; i < 30; ++i) {
    names.push_back(freshConfigName("gc_busy"));
    writeFile(names.back(),
              "<KEFPrefs><Log><LevelMask>0</LevelMask>"
              "<UpdateTime>0</UpdateTime></Log><SupportedServices>"
              "<S timeOut=\"3\"/></SupportedServices></KEFPrefs>");
  }
  std::thread logger([&] {
    for (const std::string& name : names) {
      tvan::Log log(name.c_str(), tvan::kConfigFileLog);
      for (int i = 0; i < 5; ++i) log.log(tvan::kInfo, __FILE__, __LINE__, "logger", "entry %d", i);
    }
  });
  std::thread reader([&] {
    for (const std::string& name : names) {
      tvan::GeneralConfiguration gc(name.c_str());
      EXPECT_EQ(gc.getServicesTimeout("S"), 3);
    }
  });
  logger.join();
  reader.join();
}
