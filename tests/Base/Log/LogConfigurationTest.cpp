#include "Base/Log/LogConfiguration.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "Base/Log/LogConfigurationInternal.h"
#include "ConfigTestUtil.h"

namespace {

// One scratch directory for the whole program. It is also the framework
// configuration directory (KEF_CONFIGURATION) and holds the registry store,
// so that nothing outside it is read. Set before the first test because the
// caches take their default file name once.
std::string scratchDir;

class ScratchEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    char pattern[] = "/tmp/tvan_config_testXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    scratchDir = pattern;
    setenv("TVAN_REGISTRY_FILE", (scratchDir + "/registry").c_str(), 1);
    setenv("KEF_CONFIGURATION", scratchDir.c_str(), 1);
  }
  void TearDown() override {
    std::string command = "rm -rf '" + scratchDir + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
  }
};

testing::Environment* const scratch = testing::AddGlobalTestEnvironment(new ScratchEnvironment);

// Scratch files go to scratchDir, the configuration directory.
using configtest::freshConfigName;
using configtest::readFile;
using configtest::writeFile;

std::string config(const std::string& logBody) {
  return "<KEFPrefs><Log>" + logBody + "</Log></KEFPrefs>";
}

struct Values {
  std::string logFile;
  long levelMask = -7;
  long locationMask = -7;
  int maxSize = -7;
  bool flushAlways = true;
  int updateTime = -7;
  bool memoryProfile = true;
};

Values read(tvan::LogConfiguration& handle) {
  Values v;
  handle.getData(v.logFile, v.levelMask, v.locationMask, v.maxSize, v.flushAlways, v.updateTime,
                 v.memoryProfile);
  return v;
}

// Moves the file's modification time without changing its content.
void touch(const std::string& name, long nanos) {
  struct timespec times[2];
  clock_gettime(CLOCK_REALTIME, &times[0]);
  times[1] = times[0];
  times[1].tv_nsec = nanos;
  ASSERT_EQ(utimensat(AT_FDCWD, name.c_str(), times, 0), 0);
}

}  // namespace

TEST(LogConfiguration, ReadsEverySettingAndDefaultsForMissingOnes) {
  const std::string full = freshConfigName("full");
  writeFile(full, config("<LogFile>/tmp/x.log</LogFile><LevelMask>0xff</LevelMask>"
                         "<LocationMask>9</LocationMask><MaximumSize>7</MaximumSize>"
                         "<FlushAlways>yes</FlushAlways><UpdateTime>3</UpdateTime>"
                         "<MemoryProfile>yes</MemoryProfile>"));
  tvan::LogConfiguration handle(full.c_str());
  Values v = read(handle);
  EXPECT_EQ(v.logFile, "/tmp/x.log");
  EXPECT_EQ(v.levelMask, 0xff);
  EXPECT_EQ(v.locationMask, 9);
  EXPECT_EQ(v.maxSize, 7);
  EXPECT_TRUE(v.flushAlways);
  EXPECT_EQ(v.updateTime, 3);
  EXPECT_TRUE(v.memoryProfile);
  EXPECT_STREQ(handle.getLogFile(), "/tmp/x.log");
  EXPECT_EQ(handle.getDebugMask(), 0xff);
  EXPECT_EQ(handle.getLocationMask(), 9);
  EXPECT_EQ(handle.getMaxSize(), 7);
  EXPECT_TRUE(handle.getFlushAlways());
  EXPECT_EQ(handle.getUpdateTime(), 3);

  const std::string empty = freshConfigName("empty");
  writeFile(empty, config(""));
  tvan::LogConfiguration defaults(empty.c_str());
  v = read(defaults);
  EXPECT_EQ(v.logFile, "");
  EXPECT_EQ(v.levelMask, 0);
  EXPECT_EQ(v.locationMask, 0);
  EXPECT_EQ(v.maxSize, 5);
  EXPECT_FALSE(v.flushAlways);
  EXPECT_EQ(v.updateTime, 60);
  EXPECT_FALSE(v.memoryProfile);
}

TEST(LogConfiguration, MasksAreHexadecimalAndFlagsNeedExactYes) {
  struct Case {
    const char* mask;
    long expected;
  } masks[] = {{"0x12", 0x12}, {"12", 0x12}, {"255", 0x255}, {"0X1f", 0x1f}, {"ffffffff", -1}};
  for (const Case& c : masks) {
    const std::string name = freshConfigName("mask");
    writeFile(name, config(std::string("<LevelMask>") + c.mask + "</LevelMask><LocationMask>" +
                           c.mask + "</LocationMask>"));
    tvan::LogConfiguration handle(name.c_str());
    EXPECT_EQ(handle.getDebugMask(), c.expected) << c.mask;
    EXPECT_EQ(handle.getLocationMask(), c.expected) << c.mask;
  }
  for (const char* text : {"Yes", "YES", "1", "true", "y", ""}) {
    const std::string name = freshConfigName("flag");
    writeFile(name, config(std::string("<FlushAlways>") + text + "</FlushAlways><MemoryProfile>" +
                           text + "</MemoryProfile>"));
    tvan::LogConfiguration handle(name.c_str());
    Values v = read(handle);
    EXPECT_FALSE(v.flushAlways) << "'" << text << "'";
    EXPECT_FALSE(v.memoryProfile) << "'" << text << "'";
  }
}

TEST(LogConfiguration, MissingLogFileElementDoesNotHideTheOthers) {
  const std::string name = freshConfigName("nofile");
  writeFile(name, config("<LevelMask>0x10</LevelMask><MaximumSize>2</MaximumSize>"));
  tvan::LogConfiguration handle(name.c_str());
  EXPECT_STREQ(handle.getLogFile(), "");
  EXPECT_EQ(handle.getDebugMask(), 0x10);
  EXPECT_EQ(handle.getMaxSize(), 2);
}

TEST(LogConfiguration, MissingLogNodeIsReportedAndLeavesValues) {
  const std::string name = freshConfigName("nolog");
  writeFile(name, "<KEFPrefs><LevelMask>0x10</LevelMask></KEFPrefs>");
  testing::internal::CaptureStderr();
  tvan::LogConfiguration handle(name.c_str());
  EXPECT_EQ(handle.getDebugMask(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Unable to find Log node in configuration file (" + name + ").\n");
}

TEST(LogConfiguration, RereadsOnlyWhenTheStampChangesEvenTwiceWithinOneSecond) {
  const std::string name = freshConfigName("reread");
  writeFile(name, config("<LevelMask>0x1</LevelMask>"));
  tvan::LogConfiguration handle(name.c_str());
  EXPECT_EQ(handle.getDebugMask(), 0x1);

  writeFile(name, config("<LevelMask>0x2</LevelMask>"));
  handle.updateIfNeeded();
  EXPECT_EQ(handle.getDebugMask(), 0x2);
  writeFile(name, config("<LevelMask>0x4</LevelMask><UpdateTime>1</UpdateTime>"));
  handle.updateIfNeeded();
  EXPECT_EQ(handle.getDebugMask(), 0x4);
  EXPECT_EQ(handle.getUpdateTime(), 1);

  // A change made only in memory survives as long as the file is unchanged,
  // which shows that an unchanged stamp causes no re-read ...
  tvan::LogConfigurationInternal* shared =
      tvan::ConfigFileInstMgr<tvan::LogConfigurationInternal>::instance()
          ->getInternalSharedConfig(name);
  shared->setDebugMask(0x40);
  handle.updateIfNeeded();
  handle.updateIfNeeded();
  EXPECT_EQ(handle.getDebugMask(), 0x40);
  // ... and touching the file without changing it re-reads it.
  touch(name, 123456789);
  handle.updateIfNeeded();
  EXPECT_EQ(handle.getDebugMask(), 0x4);
}

TEST(LogConfiguration, HandlesShareOneObjectAndEmptyNameIsTheFrameworkFile) {
  const std::string name = freshConfigName("shared");
  writeFile(name, config("<LevelMask>0x3</LevelMask>"));
  tvan::LogConfiguration a(name.c_str());
  tvan::LogConfiguration b(name.c_str());
  tvan::ConfigFileInstMgr<tvan::LogConfigurationInternal>* manager =
      tvan::ConfigFileInstMgr<tvan::LogConfigurationInternal>::instance();
  manager->getInternalSharedConfig(name)->setDebugMask(0x30);
  EXPECT_EQ(a.getDebugMask(), 0x30);
  EXPECT_EQ(b.getDebugMask(), 0x30);

  const std::string framework = scratchDir + "/KEFConfiguration.xml";
  EXPECT_EQ(manager->getDefaultName(), framework);
  writeFile(framework, config("<LogFile>framework.log</LogFile>"));
  tvan::LogConfiguration byDefault(nullptr);
  EXPECT_STREQ(byDefault.getLogFile(), "framework.log");
  EXPECT_EQ(manager->getInternalSharedConfig(""), manager->getInternalSharedConfig(framework));
}

TEST(LogConfiguration, UnreadableFileFailsAfterFiveAttemptsAndIsRetriedLater) {
  const std::string name = freshConfigName("missing");
  tvan::LogConfiguration handle(name.c_str());
  testing::internal::CaptureStderr();
  EXPECT_ANY_THROW(handle.getDebugMask());
  std::string err = testing::internal::GetCapturedStderr();
  size_t attempts = 0;
  size_t retries = 0;
  for (size_t at = err.find("Failed loading config file"); at != std::string::npos;
       at = err.find("Failed loading config file", at + 1)) {
    ++attempts;
  }
  for (size_t at = err.find("Trying again...\n"); at != std::string::npos;
       at = err.find("Trying again...\n", at + 1)) {
    ++retries;
  }
  EXPECT_EQ(attempts, 5u) << err;
  EXPECT_EQ(retries, 4u) << err;
  EXPECT_EQ(err.rfind("Caught Error: Failed loading config file (Reason: ", 0), 0u) << err;

  writeFile(name, config("<MaximumSize>9</MaximumSize>"));
  EXPECT_EQ(handle.getMaxSize(), 9);
}

TEST(LogConfiguration, FailedRereadKeepsValuesUntilTheFileChangesAgain) {
  const std::string name = freshConfigName("bad");
  writeFile(name, config("<LevelMask>0x5</LevelMask>"));
  tvan::LogConfiguration handle(name.c_str());
  EXPECT_EQ(handle.getDebugMask(), 0x5);

  writeFile(name, "<KEFPrefs><Log></KEFPrefs>");
  testing::internal::CaptureStderr();
  EXPECT_ANY_THROW(handle.updateIfNeeded());
  handle.updateIfNeeded();  // same stamp: not read again
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(handle.getDebugMask(), 0x5);

  writeFile(name, config("<LevelMask>0x6</LevelMask>"));
  handle.updateIfNeeded();
  EXPECT_EQ(handle.getDebugMask(), 0x6);
}

TEST(LogConfigurationInternal, SettersChangeTheDocumentOnlyWhereALogNodeExists) {
  const std::string noLog = freshConfigName("setnolog");
  writeFile(noLog, "<KEFPrefs><Other/></KEFPrefs>");
  testing::internal::CaptureStderr();
  tvan::LogConfigurationInternal bare(noLog.c_str());
  testing::internal::GetCapturedStderr();
  bare.setDebugMask(0x77);
  bare.setLogFileName("a.log");
  EXPECT_EQ(bare.getDebugMask(), 0);
  EXPECT_EQ(bare.getLogFile(), "");
  bare.save();
  EXPECT_EQ(readFile(noLog).find("LevelMask"), std::string::npos);

  const std::string name = freshConfigName("set");
  writeFile(name, config("<LevelMask>0x1</LevelMask>"));
  tvan::LogConfigurationInternal cfg(name.c_str());
  cfg.setDebugMask(0x2a);
  cfg.setLocationMask(8);
  cfg.setMaxSize(12);
  cfg.setUpdateTime(30);
  cfg.setLogFileName("b.log");
  EXPECT_EQ(cfg.getDebugMask(), 0x2a);
  EXPECT_EQ(readFile(name).find("0x2a"), std::string::npos);  // not written yet
  cfg.save();
  std::string text = readFile(name);
  EXPECT_NE(text.find("<LevelMask>0x2a</LevelMask>"), std::string::npos) << text;
  EXPECT_NE(text.find("<LocationMask>0x8</LocationMask>"), std::string::npos) << text;
  EXPECT_NE(text.find("<MaximumSize>12</MaximumSize>"), std::string::npos) << text;
  EXPECT_NE(text.find("<UpdateTime>30</UpdateTime>"), std::string::npos) << text;
  EXPECT_NE(text.find("<LogFile>b.log</LogFile>"), std::string::npos) << text;
}

TEST(LogConfigurationInternal, UpdateConfigurationCreatesLogAndMergeCopiesFiveValues) {
  const std::string source = freshConfigName("source");
  writeFile(source, "<KEFPrefs/>");
  testing::internal::CaptureStderr();
  tvan::LogConfigurationInternal from(source.c_str());
  testing::internal::GetCapturedStderr();
  from.updateConfiguration("m.log", 0x31, 0x9, 4, true, 15, true);
  tvan::LogConfigurationInternal reread(source.c_str());
  EXPECT_EQ(reread.getLogFile(), "m.log");
  EXPECT_EQ(reread.getDebugMask(), 0x31);
  EXPECT_EQ(reread.getLocationMask(), 0x9);
  EXPECT_EQ(reread.getMaxSize(), 4);
  EXPECT_TRUE(reread.getFlushAlways());
  EXPECT_EQ(reread.getUpdateTime(), 15);
  EXPECT_TRUE(reread.getMemoryProfile());

  const std::string target = freshConfigName("target");
  writeFile(target, config("<FlushAlways>no</FlushAlways>"));
  tvan::LogConfigurationInternal into(target.c_str());
  into.merge(source.c_str());
  tvan::LogConfigurationInternal merged(target.c_str());
  EXPECT_EQ(merged.getLogFile(), "m.log");
  EXPECT_EQ(merged.getDebugMask(), 0x31);
  EXPECT_EQ(merged.getLocationMask(), 0x9);
  EXPECT_EQ(merged.getMaxSize(), 4);
  EXPECT_EQ(merged.getUpdateTime(), 15);
  EXPECT_FALSE(merged.getFlushAlways());
  EXPECT_FALSE(merged.getMemoryProfile());
}

TEST(LogConfiguration, ReadersNeverSeeAHalfAppliedReload) {
  const std::string name = freshConfigName("race");
  const std::string first = config("<LevelMask>0x1</LevelMask><MaximumSize>1</MaximumSize>");
  const std::string second = config("<LevelMask>0x2</LevelMask><MaximumSize>2</MaximumSize>");
  writeFile(name, first);
  tvan::LogConfiguration writer(name.c_str());
  writer.updateIfNeeded();
  std::atomic<bool> stop{false};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    tvan::LogConfiguration handle(name.c_str());
    while (!stop) {
      Values v = read(handle);
      if (v.levelMask != v.maxSize) ++torn;
    }
  });
  std::string tmp = name + ".tmp";
  for (int i = 0; i < 200; ++i) {
    writeFile(tmp, i % 2 ? first : second);
    ASSERT_EQ(rename(tmp.c_str(), name.c_str()), 0);  // never a half-written file
    writer.updateIfNeeded();
  }
  stop = true;
  reader.join();
  EXPECT_EQ(torn, 0);
}
