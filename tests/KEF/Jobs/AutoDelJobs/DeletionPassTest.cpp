// The rules of a pass: which files and folders go, what is counted.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "DeletionTestTree.h"
#include "KEF/Jobs/AutoDelJobs/DeletionPass.h"

namespace {

using deltest::exists;
using deltest::makeFile;
using deltest::policyFor;
using deltest::runPass;
using KEF::AgeBy;
using KEF::DeletionTotals;

TEST(DeletionPass, AgeIsTakenFromTheChosenTime) {
  testutil::TempDir dir("kef_age");
  makeFile(dir.file("old"), 40);
  makeFile(dir.file("new"), 1);
  makeFile(dir.file("sub/old"), 31, "12345");
  // Read long ago, written recently.
  makeFile(dir.file("stale"), 1);
  timespec times[2] = {{::time(nullptr) - 40 * 86400, 0}, {0, UTIME_OMIT}};
  ASSERT_EQ(::utimensat(AT_FDCWD, dir.file("stale").c_str(), times, 0), 0);

  auto policy = policyFor(dir.path(), 30);
  auto byMtime = runPass(policy);
  ASSERT_TRUE(byMtime.ok) << byMtime.error;
  EXPECT_EQ(byMtime.totals.scanned, 4u);
  EXPECT_EQ(byMtime.totals.deleted, 2u);
  EXPECT_EQ(byMtime.totals.skippedYoung, 2u);
  EXPECT_EQ(byMtime.totals.bytesFreed, 9u);
  EXPECT_EQ(byMtime.deletedBytes, 9u);
  EXPECT_FALSE(exists(dir.file("old")) || exists(dir.file("sub/old")));
  std::sort(byMtime.deleted.begin(), byMtime.deleted.end());
  EXPECT_EQ(byMtime.deleted, (std::vector<std::string>{dir.file("old"), dir.file("sub/old")}));

  policy.ageBy = AgeBy::kAccessed;
  auto byAtime = runPass(policy);
  EXPECT_EQ(byAtime.deleted, std::vector<std::string>{dir.file("stale")});
  EXPECT_TRUE(exists(dir.file("new")));

  // ctime is always now: only a limit of 0 reaches it.
  makeFile(dir.file("changed"), 100);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  policy.ageBy = AgeBy::kChanged;
  policy.maxAgeDays = 0.001;
  EXPECT_EQ(runPass(policy).totals.deleted, 0u);
  policy.maxAgeDays = 0;
  EXPECT_EQ(runPass(policy).totals.deleted, 2u);  // "new" and "changed"
}

TEST(DeletionPass, IncludeAndProtectMatchNameOrRelativePath) {
  testutil::TempDir dir("kef_patterns");
  for (const char* name : {"a.dcm", "a.txt", "keep/b.dcm", "x/c.dcm", "x/y/d.dcm", "x/y/e.keep",
                           "cache/p.dcm", "cache/sub/q.dcm"}) {
    makeFile(dir.file(name), 40);
  }
  auto policy = policyFor(dir.path(), 30);
  policy.include = {"*.dcm"};
  policy.protect = {"*.keep", "x/y/*", "cache", "keep"};
  const auto result = runPass(policy);
  ASSERT_TRUE(result.ok) << result.error;
  // Gone: a.dcm, x/c.dcm. Protected: x/y/d.dcm and x/y/e.keep by path, and
  // the folders cache and keep by name, each counted once with its contents.
  EXPECT_FALSE(exists(dir.file("a.dcm")) || exists(dir.file("x/c.dcm")));
  for (const char* kept : {"a.txt", "keep/b.dcm", "x/y/d.dcm", "x/y/e.keep", "cache/sub/q.dcm"}) {
    EXPECT_TRUE(exists(dir.file(kept))) << kept;
  }
  EXPECT_EQ(result.totals.deleted, 2u);
  EXPECT_EQ(result.totals.skippedNotIncluded, 1u);
  EXPECT_EQ(result.totals.skippedProtected, 4u);
  EXPECT_EQ(result.totals.scanned, 5u);

  // A folder matched by its path below the root, and Include on paths.
  policy.include = {"x/*"};
  policy.protect = {"x/y"};
  makeFile(dir.file("x/c.dcm"), 40);
  const auto second = runPass(policy);
  EXPECT_EQ(second.deleted, std::vector<std::string>{dir.file("x/c.dcm")});
  EXPECT_EQ(second.totals.skippedProtected, 1u);
}

TEST(DeletionPass, ConfigurationFileSurvivesInAnyLetterCase) {
  testutil::TempDir dir("kef_config");
  for (const char* name :
       {"KEFConfiguration.xml", "sub/kefconfiguration.XML", "KEFConfiguration.xml.bak"}) {
    makeFile(dir.file(name), 400);
  }
  auto policy = policyFor(dir.path(), 0);
  policy.removeEmptyDirs = true;
  const auto result = runPass(policy);
  EXPECT_TRUE(exists(dir.file("KEFConfiguration.xml")) &&
              exists(dir.file("sub/kefconfiguration.XML")));
  EXPECT_EQ(result.deleted, std::vector<std::string>{dir.file("KEFConfiguration.xml.bak")});
  EXPECT_EQ(result.totals.skippedConfigFiles, 2u);
  EXPECT_EQ(result.totals.dirsRemoved, 0u);
}

TEST(DeletionPass, EmptyFoldersGoWhenEmptiedOrOld) {
  testutil::TempDir dir("kef_emptydirs");
  const std::string root = dir.file("root");
  makeFile(root + "/emptied/a/b/old", 40);  // the whole chain empties
  makeFile(root + "/busy/old", 40);
  makeFile(root + "/busy/new", 1);
  ::mkdir((root + "/fresh").c_str(), 0755);  // empty but new: waiting for files
  ::mkdir((root + "/stale").c_str(), 0755);  // empty and old itself
  deltest::setAge(root + "/stale", 40);
  ::mkdir((root + "/withLink").c_str(), 0755);
  ASSERT_EQ(::symlink("/nowhere", (root + "/withLink/link").c_str()), 0);
  deltest::setAge(root + "/withLink", 40);
  auto policy = policyFor(root, 30);

  // Dry run: reports what would go, deletes nothing.
  policy.removeEmptyDirs = true;
  policy.dryRun = true;
  const auto dry = runPass(policy);
  ASSERT_TRUE(dry.ok) << dry.error;
  EXPECT_TRUE(exists(root + "/emptied/a/b/old") && exists(root + "/stale"));

  policy.dryRun = false;
  const auto real = runPass(policy);
  ASSERT_TRUE(real.ok) << real.error;
  EXPECT_EQ(deltest::exists(root + "/emptied") || exists(root + "/stale"), false);
  EXPECT_TRUE(exists(root + "/busy/new") && exists(root + "/fresh") && exists(root + "/withLink"));
  EXPECT_TRUE(exists(root));
  EXPECT_EQ(real.totals.dirsRemoved, 4u);  // emptied, a, b, stale
  EXPECT_EQ(real.totals.deleted, 2u);
  EXPECT_EQ(real.totals.skippedLinks, 1u);
  for (const auto* figures : {&dry.totals, &real.totals}) {
    EXPECT_EQ(figures->deleted, real.totals.deleted);
    EXPECT_EQ(figures->bytesFreed, real.totals.bytesFreed);
    EXPECT_EQ(figures->dirsRemoved, real.totals.dirsRemoved);
  }
  EXPECT_EQ(dry.deleted.size(), real.deleted.size());

  // Without RemoveEmptyDirs only files go; the root never goes.
  makeFile(root + "/again/old", 40);
  policy.removeEmptyDirs = false;
  EXPECT_EQ(runPass(policy).totals.dirsRemoved, 0u);
  EXPECT_TRUE(exists(root + "/again"));
  policy.removeEmptyDirs = true;
  deltest::setAge(root + "/again", 40);
  deltest::setAge(root, 40);
  runPass(policy);
  EXPECT_EQ(testutil::filesIn(root), (std::set<std::string>{"busy", "fresh", "withLink"}));
  // Nor does a root below another root.
  makeFile(root + "/inner/old", 40);
  deltest::setAge(root + "/inner", 40);
  policy.roots.push_back(root + "/inner");
  EXPECT_EQ(runPass(policy).totals.deleted, 1u);
  EXPECT_TRUE(exists(root + "/inner"));
}

TEST(DeletionPass, FileGoneBeforeItsTurnIsNotAnError) {
  testutil::TempDir dir("kef_vanish");
  for (const char* name : {"a", "b", "c", "d"}) makeFile(dir.file(name), 40);
  // Whichever file goes first takes the others with it.
  const auto result = runPass(policyFor(dir.path(), 30), [&](KEF::DeletionPass& pass, auto& r) {
    pass.setOnDelete([&](const std::string& path, uint64_t) {
      r.deleted.push_back(path);
      for (const char* name : {"a", "b", "c", "d"}) ::unlink(dir.file(name).c_str());
    });
  });
  EXPECT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.totals.deleted, 1u);
  EXPECT_EQ(result.totals.scanned, 1u);
  EXPECT_EQ(result.totals.errors, 0u);
}

TEST(DeletionPass, StopCheckEndsThePassWithinItsInterval) {
  testutil::TempDir dir("kef_stop");
  for (int i = 0; i < 2000; ++i) makeFile(dir.file("f" + std::to_string(i)), 40);
  bool stopAsked = false;
  const auto started = std::chrono::steady_clock::now();
  const auto result = runPass(policyFor(dir.path(), 30), [&](KEF::DeletionPass& pass, auto& r) {
    pass.setStopCheck([&] { return stopAsked; });
    pass.setOnDelete([&](const std::string& path, uint64_t) {  // 1 ms a file: 2 s in all
      r.deleted.push_back(path);
      stopAsked = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
  });
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.error, "stopped");
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(500));
  EXPECT_GT(result.totals.deleted, 0u);
  EXPECT_LT(result.totals.deleted, 400u) << result.totals.deleted;
}

TEST(DeletionPass, UnusableRootFailsThePassButNotTheOtherRoots) {
  testutil::TempDir dir("kef_roots");
  makeFile(dir.file("good/old"), 40);
  makeFile(dir.file("file"), 40);
  auto policy = policyFor(dir.file("missing"), 30);
  policy.roots.push_back(dir.file("file"));
  policy.roots.push_back("/etc");  // read() refuses it; run() must too
  policy.roots.push_back(dir.file("good"));
  const auto result = runPass(policy);
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.error.find("Root \"" + dir.file("missing") + "\" cannot be opened"),
            std::string::npos);
  EXPECT_NE(result.error.find("\"" + dir.file("file") + "\" cannot be opened: Not a directory"),
            std::string::npos);
  EXPECT_NE(result.error.find("Root \"/etc\" is a system folder"), std::string::npos);
  EXPECT_EQ(result.deleted, std::vector<std::string>{dir.file("good/old")});
  EXPECT_TRUE(exists(dir.file("file")));
}

TEST(DeletionTotals, AddsEveryFigureAndKeepsTheFirstErrorPaths) {
  DeletionTotals a, b;
  b.scanned = 1, b.deleted = 2, b.bytesFreed = 3, b.dirsRemoved = 4, b.skippedYoung = 5;
  b.skippedNotIncluded = 6, b.skippedProtected = 7, b.skippedLocked = 8, b.skippedMountPoints = 9;
  b.skippedLinks = 10, b.skippedConfigFiles = 11, b.skippedOther = 12;
  for (int i = 0; i < 3; ++i) b.addError("/p" + std::to_string(i), "Permission denied");
  a.add(b);
  a.add(b);
  EXPECT_EQ((std::vector<uint64_t>{a.scanned, a.deleted, a.bytesFreed, a.dirsRemoved,
                                   a.skippedYoung, a.skippedNotIncluded, a.skippedProtected,
                                   a.skippedLocked, a.skippedMountPoints, a.skippedLinks,
                                   a.skippedConfigFiles, a.skippedOther, a.errors}),
            (std::vector<uint64_t>{2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 6}));
  EXPECT_EQ(a.errorPaths,
            (std::vector<std::string>{"/p0: Permission denied", "/p1: Permission denied",
                                      "/p2: Permission denied", "/p0: Permission denied",
                                      "/p1: Permission denied"}));
}

}  // namespace
