// What a pass must never do, whatever the tree holds or does meanwhile:
// follow links, change file system, enter locked folders, stop on errors.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>

#include "DeletionTestTree.h"
#include "KEF/Jobs/AutoDelJobs/DeletionPass.h"
#include "KEF/Jobs/AutoDelJobs/DeletionPolicy.h"

namespace {

using deltest::exists;
using deltest::makeFile;
using deltest::policyFor;
using deltest::runPass;

KEF::DeletionPolicy greedyPolicy(const std::string& root) {
  auto policy = policyFor(root, 0);
  policy.removeEmptyDirs = true;
  return policy;
}

TEST(DeletionSafety, LinksAreNeitherFollowedNorDeleted) {
  testutil::TempDir dir("kef_links");
  makeFile(dir.file("outside/old"), 40);
  makeFile(dir.file("root/old"), 40);
  ASSERT_EQ(::symlink(dir.file("outside").c_str(), dir.file("root/dirlink").c_str()), 0);
  ASSERT_EQ(::symlink(dir.file("outside/old").c_str(), dir.file("root/filelink").c_str()), 0);
  const auto result = runPass(greedyPolicy(dir.file("root")));
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.deleted, std::vector<std::string>{dir.file("root/old")});
  EXPECT_EQ(result.totals.skippedLinks, 2u);
  EXPECT_TRUE(exists(dir.file("outside/old")));
  EXPECT_TRUE(exists(dir.file("root/dirlink")) && exists(dir.file("root/filelink")));
}

TEST(DeletionSafety, FolderSwappedForALinkDuringThePassLeadsNowhere) {
  testutil::TempDir dir("kef_swap");
  makeFile(dir.file("outside/old"), 40);
  const int kFolders = 5;
  for (int i = 0; i < kFolders; ++i) makeFile(dir.file("root/d" + std::to_string(i) + "/old"), 40);
  // At the first deletion, every other folder (not visited yet) is moved
  // away and a link to the outside folder takes its place.
  int swapped = 0;
  const auto result = runPass(greedyPolicy(dir.file("root")), [&](KEF::DeletionPass& pass,
                                                                  auto& r) {
    pass.setOnDelete([&](const std::string& path, uint64_t) {
      r.deleted.push_back(path);
      if (r.deleted.size() > 1) return;
      for (int i = 0; i < kFolders; ++i) {
        const std::string name = "d" + std::to_string(i);
        if (path.find("/" + name + "/") != std::string::npos) continue;
        ASSERT_EQ(::rename(dir.file("root/" + name).c_str(), dir.file("moved" + name).c_str()), 0);
        ASSERT_EQ(::symlink(dir.file("outside").c_str(), dir.file("root/" + name).c_str()), 0);
        ++swapped;
      }
    });
  });
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(swapped, kFolders - 1);
  EXPECT_EQ(result.deleted.size(), 1u);
  EXPECT_EQ(result.totals.skippedLinks, static_cast<uint64_t>(swapped));
  EXPECT_TRUE(exists(dir.file("outside/old")));
}

// A tmpfs mounted on a folder below a root, unmounted when the test ends.
class MountedBelow {
 public:
  explicit MountedBelow(const std::string& path) : path_(path) {
    ::mkdir(path.c_str(), 0755);
    mounted_ = ::mount("tmpfs", path.c_str(), "tmpfs", 0, "size=1m") == 0;
  }
  ~MountedBelow() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }

 private:
  std::string path_;
  bool mounted_ = false;
};

TEST(DeletionSafety, AnotherFileSystemIsNotEntered) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a tmpfs needs root";
  testutil::TempDir dir("kef_mount");
  makeFile(dir.file("root/old"), 40);
  MountedBelow mount(dir.file("root/mnt"));
  ASSERT_TRUE(mount.mounted());
  makeFile(dir.file("root/mnt/old"), 40);
  const auto result = runPass(greedyPolicy(dir.file("root")));
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.totals.skippedMountPoints, 1u);
  EXPECT_EQ(result.deleted, std::vector<std::string>{dir.file("root/old")});
  EXPECT_TRUE(exists(dir.file("root/mnt/old")));
}

// flock locks belong to an open file description: a second open() of the
// same folder in this process conflicts with the pass's like another
// process would.
int lockFolder(const std::string& path, int how) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0 && ::flock(fd, how | LOCK_NB) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

TEST(DeletionSafety, LockedFolderIsSkippedWithItsContents) {
  testutil::TempDir dir("kef_lock");
  for (const char* name : {"exclusive/old", "shared/sub/old", "free/old", "free/old2"}) {
    makeFile(dir.file("root/" + std::string(name)), 40);
  }
  const int exclusive = lockFolder(dir.file("root/exclusive"), LOCK_EX);
  const int shared = lockFolder(dir.file("root/shared"), LOCK_SH);
  ASSERT_GE(exclusive, 0);
  ASSERT_GE(shared, 0);
  // While the pass works in a folder it holds it shared: a writer cannot
  // have it exclusively, a reader can share it.
  int writerBlocked = 0, readerAdmitted = 0;
  const auto result =
      runPass(greedyPolicy(dir.file("root")), [&](KEF::DeletionPass& pass, auto& r) {
        pass.setOnDelete([&](const std::string& path, uint64_t) {
          r.deleted.push_back(path);
          const int writer = lockFolder(dir.file("root/free"), LOCK_EX);
          writerBlocked += writer < 0 && errno == EWOULDBLOCK;
          const int reader = lockFolder(dir.file("root/free"), LOCK_SH);
          readerAdmitted += reader >= 0;
          ::close(writer);
          ::close(reader);
        });
      });
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.totals.skippedLocked, 2u);
  EXPECT_EQ(result.totals.deleted, 2u);
  EXPECT_EQ(writerBlocked, 2);
  EXPECT_EQ(readerAdmitted, 2);
  EXPECT_TRUE(exists(dir.file("root/exclusive/old")) && exists(dir.file("root/shared/sub/old")));
  EXPECT_FALSE(exists(dir.file("root/free")));
  // Nothing stays locked after the pass.
  const int after = lockFolder(dir.file("root"), LOCK_EX);
  EXPECT_GE(after, 0);
  ::close(after);

  // A locked root is skipped whole, which is not a failure.
  const int root = lockFolder(dir.file("root"), LOCK_EX);
  const auto skipped = runPass(greedyPolicy(dir.file("root")));
  EXPECT_TRUE(skipped.ok) << skipped.error;
  EXPECT_EQ(skipped.totals.skippedLocked, 1u);
  EXPECT_EQ(skipped.totals.scanned, 0u);
  for (const int fd : {exclusive, shared, root}) ::close(fd);
}

// Runs `body` in a child process as the unprivileged user that owns the
// tree (root would pass every permission check); returns its exit status.
template <class Body>
int asTreeOwner(const std::string& tree, Body body) {
  const uid_t nobody = 65534;
  if (::geteuid() == 0 && std::system(("chown -R 65534:65534 '" + tree + "'").c_str()) != 0) {
    return -1;
  }
  return testutil::runInChild([&] {
    if (::geteuid() == 0 && (::setgid(nobody) != 0 || ::setuid(nobody) != 0)) return 100;
    return body();
  });
}

TEST(DeletionSafety, PermissionErrorsAreCountedAndThePassGoesOn) {
  testutil::TempDir dir("kef_perm");
  makeFile(dir.file("readonly/old"), 40);
  makeFile(dir.file("closed/old"), 40);
  makeFile(dir.file("open/old"), 40);
  ::chmod(dir.file("readonly").c_str(), 0555);  // the file cannot be unlinked
  ::chmod(dir.file("closed").c_str(), 0);       // the folder cannot be entered
  const int status = asTreeOwner(dir.path(), [&] {
    const auto result = runPass(greedyPolicy(dir.path()));
    int failed = 0;
    failed |= result.ok ? 0 : 1;
    failed |= result.totals.errors == 2 ? 0 : 2;
    failed |= result.totals.deleted == 1 ? 0 : 4;
    failed |= result.totals.errorPaths.size() == 2 &&
                      result.totals.errorPaths[0].find("Permission denied") != std::string::npos
                  ? 0
                  : 8;
    return failed;
  });
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(exists(dir.file("readonly/old")));
  EXPECT_FALSE(exists(dir.file("open")));
}

TEST(DeletionSafety, FoldersBeyondTheDescriptorLimitAreErrorsNotFailures) {
  testutil::TempDir dir("kef_deep");
  std::string path = dir.path();
  for (int depth = 0; depth < 60; ++depth) {
    path += "/d";
    makeFile(path + "/old", 40);
  }
  const int status = testutil::runInChild([&] {
    const rlimit tight{32, 32};
    if (::setrlimit(RLIMIT_NOFILE, &tight) != 0) return 100;
    const auto result = runPass(policyFor(dir.path(), 30));
    int failed = 0;
    failed |= result.ok ? 0 : 1;
    failed |= result.totals.errors == 1 ? 0 : 2;
    failed |= result.totals.deleted > 10 && result.totals.deleted < 40 ? 0 : 4;
    failed |= result.totals.errorPaths.size() == 1 &&
                      result.totals.errorPaths[0].find("Too many open files") != std::string::npos
                  ? 0
                  : 8;
    return failed;
  });
  EXPECT_EQ(status, 0);
}

}  // namespace
