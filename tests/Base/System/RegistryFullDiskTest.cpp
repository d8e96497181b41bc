// The registry store and tvan_reg on a file system with no room left: the
// write fails with an error, the store keeps every byte, nothing is left
// behind, and the same write succeeds once there is room again.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "Base/BaseTypes/Error.h"
#include "Base/System/Platform/RegistryStore.h"
#include "SmallFileSystem.h"
#include "TestUtil.h"

namespace {

using tvan::platform::RegistryStore;

struct ToolResult {
  int status = -1;
  std::string output;  // standard output and error
};

ToolResult runTool(const std::string& store, const std::string& arguments) {
  const std::string command =
      "TVAN_REGISTRY_FILE='" + store + "' " + TVAN_REG_TOOL + " " + arguments + " 2>&1";
  ToolResult result;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[512];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
  const int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

class RegistryFullDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs_.mounted()) GTEST_SKIP() << fs_.skipReason();
    RegistryStore store(store_);
    for (int i = 0; i < 20; ++i) {
      RegistryStore::Value value;
      value.text = "value " + std::to_string(i);
      ASSERT_TRUE(store.writeValue("HKEY_LOCAL_MACHINE\\Software\\Full", "Name" + std::to_string(i),
                                   value, true));
    }
    before_ = testutil::readFile(store_);
    ASSERT_FALSE(before_.empty());
    fs_.fill();
  }

  testutil::SmallFileSystem fs_{"256k"};
  std::string store_ = fs_.file("registry");
  std::string before_;
};

TEST_F(RegistryFullDisk, ToolWriteFailsWithStatusTwoAndKeepsTheStore) {
  const std::string big(8192, 'x');
  const ToolResult full = runTool(store_, "write 'kKEFKey' Big " + big);
  EXPECT_EQ(full.status, 2) << full.output;
  EXPECT_NE(full.output.find("No space left on device"), std::string::npos) << full.output;
  EXPECT_NE(full.output.find(store_ + ".new"), std::string::npos) << full.output;
  EXPECT_EQ(testutil::readFile(store_), before_);
  EXPECT_FALSE(exists(store_ + ".new"));

  // Reading is unaffected, and the other exit codes stay as they were.
  const ToolResult read = runTool(store_, "read 'HKEY_LOCAL_MACHINE\\Software\\Full' Name3");
  EXPECT_EQ(read.status, 0);
  EXPECT_EQ(read.output, "value 3\n");
  EXPECT_EQ(runTool(store_, "read kKEFKey Big").status, 1);

  ASSERT_EQ(std::remove(fs_.file("filler").c_str()), 0);
  const ToolResult roomy = runTool(store_, "write 'kKEFKey' Big " + big);
  EXPECT_EQ(roomy.status, 0) << roomy.output;
  EXPECT_EQ(runTool(store_, "read kKEFKey Big").output, big + "\n");
}

TEST_F(RegistryFullDisk, StoreThrowsEveryChangeAndKeepsTheStore) {
  RegistryStore store(store_);
  RegistryStore::Value value;
  value.text = std::string(8192, 'y');
  const auto refused = [&](const char* what, auto change) {
    try {
      change();
      ADD_FAILURE() << what << " did not throw";
    } catch (const tvan::Error& e) {
      EXPECT_EQ(std::string(e.keystring()),
                "Registry: Could not write " + store_ + ".new: No space left on device")
          << what;
    }
    EXPECT_EQ(testutil::readFile(store_), before_) << what;
    EXPECT_FALSE(exists(store_ + ".new")) << what;
  };
  refused("writeValue", [&] { store.writeValue("HKEY_LOCAL_MACHINE\\Software\\Full", "Big", value, true); });
  refused("createKey", [&] { store.createKey("HKEY_LOCAL_MACHINE\\Software\\Other\\Deep\\Key"); });
  // Removing shrinks the store, yet its new copy needs room too.
  refused("removeKey", [&] { store.removeKey("HKEY_LOCAL_MACHINE\\Software\\Full"); });
}

}  // namespace
