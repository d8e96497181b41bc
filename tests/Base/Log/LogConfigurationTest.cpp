#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "Base/Log/LogConfiguration.h"
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

using configtest::freshConfigName;
using configtest::readFile;
using configtest::writeFile;

std::string config(const std::string& logBody) {
  return "<KEFPrefs><Log>" + logBody + "</Log></KEFPrefs>";
}

// Every setting as one text: file, level mask, location mask (hexadecimal),
// size, flush, update time, memory profile.
template <class Config>
std::string settings(Config& c) {
  std::string file;
  long level = -7, location = -7;
  int size = -7, update = -7;
  bool flush = true, memory = true;
  c.getData(file, level, location, size, flush, update, memory);
  char text[160];
  std::snprintf(text, sizeof text, "%s %lx %lx %d %d %d %d", file.c_str(), level, location, size,
                flush, update, memory);
  return text;
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
  EXPECT_EQ(settings(handle), "/tmp/x.log ff 9 7 1 3 1");
  EXPECT_STREQ(handle.getLogFile(), "/tmp/x.log");
  EXPECT_EQ(handle.getDebugMask() + handle.getLocationMask(), 0xff + 9);
  EXPECT_EQ(handle.getMaxSize() + handle.getUpdateTime(), 7 + 3);
  EXPECT_TRUE(handle.getFlushAlways());

  const std::string empty = freshConfigName("empty");
  writeFile(empty, config(""));
  tvan::LogConfiguration defaults(empty.c_str());
  EXPECT_EQ(settings(defaults), " 0 0 5 0 60 0");

  // A missing LogFile element does not hide the others.
  const std::string noFile = freshConfigName("nofile");
  writeFile(noFile, config("<LevelMask>0x10</LevelMask><MaximumSize>2</MaximumSize>"));
  tvan::LogConfiguration partial(noFile.c_str());
  EXPECT_EQ(settings(partial), " 10 0 2 0 60 0");
}

TEST(LogConfiguration, MasksAreHexadecimalAndFlagsNeedExactYes) {
  const std::pair<const char*, long> masks[] = {
      {"0x12", 0x12}, {"12", 0x12}, {"255", 0x255}, {"0X1f", 0x1f}, {"ffffffff", -1}};
  for (const auto& c : masks) {
    const std::string name = freshConfigName("mask");
    writeFile(name, config(std::string("<LevelMask>") + c.first + "</LevelMask><LocationMask>" +
                           c.first + "</LocationMask>"));
    tvan::LogConfiguration handle(name.c_str());
    EXPECT_EQ(handle.getDebugMask(), c.second) << c.first;
    EXPECT_EQ(handle.getLocationMask(), c.second) << c.first;
  }
  for (const char* text : {"Yes", "YES", "1", "true", "y", ""}) {
    const std::string name = freshConfigName("flag");
    writeFile(name, config(std::string("<FlushAlways>") + text + "</FlushAlways><MemoryProfile>" +
                           text + "</MemoryProfile>"));
    tvan::LogConfiguration handle(name.c_str());
    EXPECT_EQ(settings(handle), " 0 0 5 0 60 0") << "'" << text << "'";
  }
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
  tvan::ConfigFileInstMgr<tvan::LogConfigurationInternal>::instance()
      ->getInternalSharedConfig(name)
      ->setDebugMask(0x40);
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
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(testutil::countOf(err, "Failed loading config file"), 5u) << err;
  EXPECT_EQ(testutil::countOf(err, "Trying again...\n"), 4u) << err;
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
  const std::string text = readFile(name);
  for (const char* element : {"<LevelMask>0x2a</LevelMask>", "<LocationMask>0x8</LocationMask>",
                              "<MaximumSize>12</MaximumSize>", "<UpdateTime>30</UpdateTime>",
                              "<LogFile>b.log</LogFile>"}) {
    EXPECT_NE(text.find(element), std::string::npos) << element << "\n" << text;
  }
}

TEST(LogConfigurationInternal, UpdateConfigurationCreatesLogAndMergeCopiesFiveValues) {
  const std::string source = freshConfigName("source");
  writeFile(source, "<KEFPrefs/>");
  testing::internal::CaptureStderr();
  tvan::LogConfigurationInternal from(source.c_str());
  testing::internal::GetCapturedStderr();
  from.updateConfiguration("m.log", 0x31, 0x9, 4, true, 15, true);
  tvan::LogConfigurationInternal reread(source.c_str());
  EXPECT_EQ(settings(reread), "m.log 31 9 4 1 15 1");

  // Flush and memory profile stay as the target has them.
  const std::string target = freshConfigName("target");
  writeFile(target, config("<FlushAlways>no</FlushAlways>"));
  tvan::LogConfigurationInternal into(target.c_str());
  into.merge(source.c_str());
  tvan::LogConfigurationInternal merged(target.c_str());
  EXPECT_EQ(settings(merged), "m.log 31 9 4 0 15 0");
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
      const std::string s = settings(handle);  // " <mask> 0 <size> ..."
      if (s[1] != s[5]) ++torn;
    }
  });
  const std::string tmp = name + ".tmp";
  for (int i = 0; i < 200; ++i) {
    writeFile(tmp, i % 2 ? first : second);
    ASSERT_EQ(rename(tmp.c_str(), name.c_str()), 0);  // never a half-written file
    writer.updateIfNeeded();
  }
  stop = true;
  reader.join();
  EXPECT_EQ(torn, 0);
}
