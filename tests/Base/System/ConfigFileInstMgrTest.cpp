#include "Base/System/ConfigFileInstMgr.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

std::atomic<int> built{0};
std::atomic<int> destroyed{0};

// A shared configuration whose construction can be made to fail by name.
struct FakeConfig {
  explicit FakeConfig(const char* fileName) : name(fileName) {
    if (name.find("fail") != std::string::npos) throw std::runtime_error("cannot read");
    ++built;
  }
  ~FakeConfig() { ++destroyed; }
  static void getDefaultConfigName(std::string& out) { out = "default.xml"; }
  std::string name;
};

// A manager of its own, so that shutting it down leaves the process's alone.
class LocalManager : public tvan::ConfigFileInstMgrAbstract<FakeConfig> {
 public:
  std::unique_ptr<FakeConfig> buildNewConfig(const std::string& name) override {
    return std::unique_ptr<FakeConfig>(new FakeConfig(name.c_str()));
  }
};

}  // namespace

TEST(ConfigFileInstMgr, OneSharedObjectPerNameTextAndDefaultForEmptyName) {
  tvan::ConfigFileInstMgr<FakeConfig>* manager = tvan::ConfigFileInstMgr<FakeConfig>::instance();
  EXPECT_EQ(manager, tvan::ConfigFileInstMgr<FakeConfig>::instance());
  EXPECT_EQ(manager->getDefaultName(), "default.xml");

  int before = built;
  FakeConfig* a = manager->getInternalSharedConfig("a.xml");
  EXPECT_EQ(a, manager->getInternalSharedConfig("a.xml"));
  // The key is the text unchanged: another spelling of the path is another entry.
  EXPECT_NE(a, manager->getInternalSharedConfig("./a.xml"));
  EXPECT_EQ(manager->getInternalSharedConfig(""), manager->getInternalSharedConfig("default.xml"));
  EXPECT_EQ(manager->getInternalSharedConfig("")->name, "default.xml");
  EXPECT_EQ(built - before, 3);
}

TEST(ConfigFileInstMgr, FailedBuildMakesNoEntrySoTheNextRequestTriesAgain) {
  tvan::ConfigFileInstMgr<FakeConfig>* manager = tvan::ConfigFileInstMgr<FakeConfig>::instance();
  EXPECT_THROW(manager->getInternalSharedConfig("fail.xml"), std::runtime_error);
  EXPECT_THROW(manager->getInternalSharedConfig("fail.xml"), std::runtime_error);
}

TEST(ConfigFileInstMgr, ConcurrentFirstRequestsAllGetTheStoredObject) {
  tvan::ConfigFileInstMgr<FakeConfig>* manager = tvan::ConfigFileInstMgr<FakeConfig>::instance();
  for (int round = 0; round < 20; ++round) {
    const std::string name = "race" + std::to_string(round) + ".xml";
    std::vector<FakeConfig*> seen(8, nullptr);
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
      threads.emplace_back([&, i] { seen[i] = manager->getInternalSharedConfig(name); });
    }
    for (std::thread& t : threads) t.join();
    for (FakeConfig* p : seen) EXPECT_EQ(p, seen[0]);
    EXPECT_EQ(seen[0], manager->getInternalSharedConfig(name));
  }
}

TEST(ConfigFileInstMgr, ShutdownDeletesEntriesAndLaterUseReportsDeadObject) {
  LocalManager manager;
  manager.getInternalSharedConfig("x.xml");
  manager.getInternalSharedConfig("y.xml");
  int before = destroyed;
  manager.shutdown();
  EXPECT_EQ(destroyed - before, 2);
  EXPECT_TRUE(manager.isDead());

  testing::internal::CaptureStdout();
  FakeConfig* late = manager.getInternalSharedConfig("x.xml");
  std::string out = testing::internal::GetCapturedStdout();
  ASSERT_NE(late, nullptr);
  EXPECT_EQ(late->name, "x.xml");
  const std::string prefix =
      "!!!!!!!!!!! ERROR:  Working with a dead object in ../../Base/System/ConfigFileInstMgr";
  ASSERT_EQ(out.compare(0, prefix.size(), prefix), 0) << out;
  const std::string rest = out.substr(prefix.size());
  ASSERT_GE(rest.size(), 2u);
  EXPECT_EQ(rest.find_first_not_of("0123456789"), rest.size() - 1) << rest;
  EXPECT_EQ(rest.back(), '\n');
  manager.shutdown();  // frees the late entry
}

TEST(ConfigFileInstMgr, LockGuardCopiesHoldOneRecursiveLock) {
  std::atomic<bool> acquired{false};
  std::thread other;
  {
    tvan::ConfigFileInstMgrLockGuard outer;
    tvan::ConfigFileInstMgrLockGuard inner;  // the same thread again
    tvan::ConfigFileInstMgrLockGuard copy = outer;
    other = std::thread([&] {
      tvan::ConfigFileInstMgrLockGuard guard;
      acquired = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(acquired);
  }
  other.join();
  EXPECT_TRUE(acquired);
}
