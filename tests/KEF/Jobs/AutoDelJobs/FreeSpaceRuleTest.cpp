// The free-space rule against a disk whose free space the test decides: the
// fake probe reports a fixed capacity minus what the tree still holds.
#include <gtest/gtest.h>
#include <sys/statvfs.h>

#include <filesystem>

#include "DeletionTestTree.h"
#include "KEF/Jobs/AutoDelJobs/DeletionPass.h"

namespace {

using deltest::makeFile;

uint64_t spaceOf(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_blocks) * 512 : 0;
}

uint64_t spaceOfTree(const std::string& root) {
  uint64_t total = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) total += spaceOf(entry.path());
  }
  return total;
}

class FreeSpaceRule : public ::testing::Test {
 protected:
  // Ten candidates f0..f9 (f9 oldest), one file old enough for the age rule,
  // and three the rule may never take.
  void SetUp() override {
    const std::string block(8192, 'x');
    for (int i = 0; i < 10; ++i) makeFile(file("sub/f" + std::to_string(i)), 2 + i, block);
    makeFile(file("ancient"), 40, block);
    makeFile(file("young"), 0.5, block);  // below MinAgeHours
    makeFile(file("p.keep"), 20, block);  // protected
    makeFile(file("KEFConfiguration.xml"), 20, block);
    fileSpace_ = spaceOf(file("ancient"));
    capacity_ = 4 * spaceOfTree(dir_.path());
  }

  std::string file(const std::string& name) const { return dir_.file(name); }

  // A policy whose goal is met once 2.5 files' space more is free.
  KEF::DeletionPolicy policy(bool dryRun) const {
    auto policy = deltest::policyFor(dir_.path(), 30);
    policy.protect = {"*.keep"};
    policy.minAgeHours = 24;
    policy.dryRun = dryRun;
    const double freeNow = static_cast<double>(capacity_ - spaceOfTree(dir_.path()));
    policy.minFreePercent = 100 * (freeNow + 2.5 * static_cast<double>(fileSpace_)) / capacity_;
    return policy;
  }

  deltest::PassResult run(const KEF::DeletionPolicy& policy) {
    return deltest::runPass(policy, [this](KEF::DeletionPass& pass, deltest::PassResult&) {
      pass.setFreeSpaceProbe([this](int, struct statvfs* out) {
        ++probes_;
        *out = {};
        out->f_frsize = 512;
        out->f_blocks = capacity_ / 512;
        out->f_bavail = (capacity_ - spaceOfTree(dir_.path())) / 512;
        return 0;
      });
    });
  }

  testutil::TempDir dir_{"kef_freespace"};
  uint64_t fileSpace_ = 0;
  uint64_t capacity_ = 0;
  int probes_ = 0;
};

TEST_F(FreeSpaceRule, DeletesTheOldestCandidatesUntilTheGoalIsMet) {
  const auto result = run(policy(false));
  ASSERT_TRUE(result.ok) << result.error;
  // The age rule takes "ancient" (one file's space); two more complete 2.5.
  EXPECT_EQ(result.deleted,
            (std::vector<std::string>{file("ancient"), file("sub/f9"), file("sub/f8")}));
  EXPECT_EQ(result.totals.deleted, 3u);
  EXPECT_EQ(result.totals.bytesFreed, 3u * 8192);
  EXPECT_EQ(result.totals.scanned, 14u);  // the ranking walk counts nothing again
  EXPECT_EQ(result.totals.skippedProtected, 1u);
  EXPECT_EQ(probes_, 1);
}

TEST_F(FreeSpaceRule, DryRunChoosesTheSameFilesAndDeletesNone) {
  const auto dry = run(policy(true));
  ASSERT_TRUE(dry.ok) << dry.error;
  EXPECT_EQ(dry.deleted,
            (std::vector<std::string>{file("ancient"), file("sub/f9"), file("sub/f8")}));
  EXPECT_EQ(testutil::filesIn(file("sub")).size(), 10u);
  EXPECT_TRUE(deltest::exists(file("ancient")));
}

TEST_F(FreeSpaceRule, NeverTakesYoungProtectedOrConfigurationFiles) {
  auto unreachable = policy(false);
  unreachable.minFreePercent = 100;
  const auto result = run(unreachable);
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.totals.deleted, 11u);
  EXPECT_EQ(testutil::filesIn(dir_.path()),
            (std::set<std::string>{"young", "p.keep", "KEFConfiguration.xml", "sub"}));

  // A goal already met leaves the candidates alone.
  makeFile(file("sub/f0"), 5);
  auto met = policy(false);
  met.minFreePercent = 0;
  EXPECT_EQ(run(met).totals.deleted, 0u);
}

}  // namespace
