#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Base/Log/Log.h"
#include "Base/System/FileUtil.h"
#include "Base/System/ProcessDir.h"
#include "Base/System/ReadDir.h"
#include "TestUtil.h"

namespace tvan {

namespace {

// A fresh directory removed (with everything in it) after the test.
class FileUtilTest : public ::testing::Test {
 protected:
  std::string path(const std::string& rel) const { return dir_.file(rel); }
  VString vpath(const std::string& rel) const { return VString(path(rel)); }
  void write(const std::string& rel, const std::string& text) const {
    testutil::writeFile(path(rel), text);
  }
  void mkdirs(const std::string& rel) const {
    ASSERT_TRUE(FileUtil(vpath(rel)).createDirectory()) << rel;
  }
  std::string read(const std::string& rel) const { return testutil::readFile(path(rel)); }
  bool present(const std::string& rel) const {
    struct stat st;
    return lstat(path(rel).c_str(), &st) == 0;
  }
  testutil::TempDir dir_{"kef_fileutil"};
};

TEST(FileUtil, PathsUseSlashes) {
  FileUtil f(VString("dir\\sub/name.txt"));
  EXPECT_EQ(VString("dir/sub/name.txt"), f.getFile());
  VString out;
  f.getStrippedFilename(out);
  EXPECT_EQ(VString("name.txt"), out);
  f.getPath(out);
  EXPECT_EQ(VString("dir/sub"), out);
  FileUtil(VString("/top")).getPath(out);
  EXPECT_EQ(VString("/"), out);
  FileUtil(VString("plain")).getStrippedFilename(out);
  EXPECT_EQ(VString("plain"), out);
}

TEST(FileUtil, EmptyPathAnswersNo) {
  FileUtil f;
  VString out("unchanged");
  bool r = true, w = true;
  EXPECT_FALSE(f.exists() || f.isDirectory() || f.isFileAvailable());
  EXPECT_EQ(-1, f.getFileSize());
  EXPECT_FALSE(f.getFullName(out) || f.getStrippedFilename(out) || f.getPath(out) ||
               f.getFileModificationTime(out));
  EXPECT_EQ(VString(), out);
  EXPECT_FALSE(f.getPermissions(r, w) || r || w);
  EXPECT_FALSE(f.moveFile(VString("/tmp/x"), true) || f.copyFile(VString("/tmp/x")) ||
               f.createDirectory() || f.removeFile(true));
}

TEST(FileUtil, FullNameIsAbsoluteAndNormalised) {
  VString out;
  ASSERT_TRUE(FileUtil(VString("/a//b/./c/../d/")).getFullName(out));
  EXPECT_EQ(VString("/a/b/d"), out);
  ASSERT_TRUE(FileUtil(VString("/../..")).getFullName(out));
  EXPECT_EQ(VString("/"), out);
  char cwd[4096];
  ASSERT_NE(nullptr, getcwd(cwd, sizeof cwd));
  ASSERT_TRUE(FileUtil(VString("x\\.\\y\\..\\z")).getFullName(out));
  EXPECT_EQ(VString(std::string(cwd) + "/x/z"), out);
}

TEST_F(FileUtilTest, SizeAvailabilityAndPermissions) {
  write("f", "12345");
  FileUtil f(vpath("f"));
  EXPECT_EQ(5, f.getFileSize());
  EXPECT_TRUE(f.isFileAvailable());
  const int fd = open(path("f").c_str(), O_RDONLY);
  ASSERT_EQ(0, flock(fd, LOCK_EX));
  EXPECT_FALSE(f.isFileAvailable());
  close(fd);
  EXPECT_TRUE(f.isFileAvailable());

  bool r = false, w = false;
  ASSERT_TRUE(f.setPermissions(true, false) && f.getPermissions(r, w));
  EXPECT_TRUE(r && !w);
  ASSERT_TRUE(f.setPermissions(true, true) && f.getPermissions(r, w));
  EXPECT_TRUE(r && w);
}

TEST_F(FileUtilTest, TokenFollowsNanosecondTimeAndSize) {
  write("f", "abc");
  FileUtil f(vpath("f"));
  auto stamp = [&](long nanos) {
    timespec times[2] = {{1700000000, nanos}, {1700000000, nanos}};
    ASSERT_EQ(0, utimensat(AT_FDCWD, path("f").c_str(), times, 0));
  };
  VString first, again, second, third;
  stamp(100);
  ASSERT_TRUE(f.getFileModificationTime(first) && f.getFileModificationTime(again));
  EXPECT_EQ(first, again);
  stamp(200);  // same second
  ASSERT_TRUE(f.getFileModificationTime(second));
  EXPECT_NE(first, second);
  write("f", "abcd");
  stamp(200);  // same time, other size
  ASSERT_TRUE(f.getFileModificationTime(third));
  EXPECT_NE(second, third);
  EXPECT_FALSE(FileUtil(vpath("missing")).getFileModificationTime(third));
}

TEST_F(FileUtilTest, MoveHonoursOverwriteAndFollowsTheFile) {
  write("a", "from a");
  write("b", "from b");
  FileUtil f(vpath("a"));
  EXPECT_FALSE(f.moveFile(vpath("b"), false));
  EXPECT_EQ("from a", read("a"));
  EXPECT_EQ("from b", read("b"));
  EXPECT_EQ(vpath("a"), f.getFile());

  EXPECT_TRUE(f.moveFile(vpath("b"), true));
  EXPECT_FALSE(present("a"));
  EXPECT_EQ("from a", read("b"));
  EXPECT_EQ(vpath("b"), f.getFile());

  EXPECT_TRUE(f.moveFile(vpath("c"), false));
  EXPECT_EQ("from a", read("c"));
  EXPECT_EQ(vpath("c"), f.getFile());
  EXPECT_FALSE(FileUtil(vpath("gone")).moveFile(vpath("d"), true));
}

TEST_F(FileUtilTest, CopyReplacesAndFollowsTheCopy) {
  write("a", "content");
  write("b", "old");
  chmod(path("a").c_str(), 0640);
  FileUtil f(vpath("a"));
  EXPECT_TRUE(f.copyFile(vpath("b")));
  EXPECT_EQ("content", read("a"));
  EXPECT_EQ("content", read("b"));
  EXPECT_EQ(vpath("b"), f.getFile());
  struct stat st;
  ASSERT_EQ(0, stat(path("b").c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 0777);
  // Onto itself: the data survives.
  EXPECT_TRUE(f.copyFile(vpath("b")));
  EXPECT_EQ("content", read("b"));
}

TEST_F(FileUtilTest, CreateDirectoryBuildsParents) {
  FileUtil d(vpath("x\\y/z"));
  EXPECT_TRUE(d.createDirectory());
  EXPECT_TRUE(d.isDirectory());
  EXPECT_TRUE(d.createDirectory());
  write("file", "");
  EXPECT_FALSE(FileUtil(vpath("file")).createDirectory());
  EXPECT_FALSE(FileUtil(vpath("file/below")).createDirectory());
}

TEST_F(FileUtilTest, FailureTexts) {
  testing::internal::CaptureStdout();
  const std::string longName(300, 'n');
  EXPECT_FALSE(FileUtil(vpath(longName + "/below")).createDirectory());
  errno = ENOENT;
  FileUtil::DisplayLastError("CreateFile");
  EXPECT_EQ("Unable to create dir " + path(longName) + "/, Error " + std::to_string(ENAMETOOLONG) +
                "\nCreateFile error! (rc=2)\n" + strerror(ENOENT) + "\n",
            testing::internal::GetCapturedStdout());

  testing::internal::CaptureStderr();
  EXPECT_FALSE(FileUtil(vpath("missing")).setPermissions(true, false));
  EXPECT_EQ("setPermissions failed (" + path("missing") + "): GetLastError returned 2\n",
            testing::internal::GetCapturedStderr());
}

TEST_F(FileUtilTest, RemovesReadOnlyFilesAndTrees) {
  write("ro", "x");
  chmod(path("ro").c_str(), 0444);
  EXPECT_TRUE(FileUtil(vpath("ro")).removeFile());
  EXPECT_FALSE(present("ro"));

  mkdirs("t/locked");
  write("t/locked/file", "x");
  chmod(path("t/locked/file").c_str(), 0400);
  chmod(path("t/locked").c_str(), 0500);
  EXPECT_TRUE(FileUtil(vpath("t")).removeFile(true));
  EXPECT_FALSE(present("t"));
}

TEST_F(FileUtilTest, TreeWithFilesAndMoreThanTwoDirectoriesNeedsForce) {
  for (const char* dir : {"t/a", "t/b", "t/c"}) mkdirs(dir);
  write("t/a/file", "x");
  FileUtil tree(vpath("t"));
  EXPECT_FALSE(tree.removeFile(false));
  EXPECT_TRUE(present("t/a/file") && present("t/c"));

  ASSERT_EQ(0, rmdir(path("t/c").c_str()));
  EXPECT_TRUE(tree.removeFile(false));
  EXPECT_FALSE(present("t"));

  mkdirs("u/a/b/c");  // directories only: no refusal
  EXPECT_TRUE(FileUtil(vpath("u")).removeFile(false));
  EXPECT_FALSE(present("u"));
}

TEST_F(FileUtilTest, NeverRemovesTheConfigurationFile) {
  mkdirs("cfg");
  testing::internal::CaptureStderr();
  for (const char* name :
       {"cfg/KEFConfiguration.xml", "cfg/kefconfiguration.XML", "cfg/myKEFCONFIGURATION.xml"}) {
    write(name, "<x/>");
    EXPECT_FALSE(FileUtil(vpath(name)).removeFile(true)) << name;
    EXPECT_TRUE(present(name)) << name;
  }
  write("cfg/other", "x");
  EXPECT_FALSE(FileUtil(vpath("cfg")).removeFile(true));
  EXPECT_TRUE(present("cfg/other") && present("cfg/KEFConfiguration.xml"));
  // The refusal leaves the calling thread's stack on standard error.
  const std::string trace = testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, trace.find("KEFConfiguration.xml"));
  EXPECT_NE(std::string::npos, trace.find("tvan_system_tests"));
}

TEST_F(FileUtilTest, SymbolicLinksAreRemovedNotFollowed) {
  mkdirs("outside");
  write("outside/keep", "x");
  mkdirs("tree/sub");
  ASSERT_EQ(0, symlink(path("outside").c_str(), path("tree/sub/link").c_str()));
  ASSERT_EQ(0, symlink(path("outside").c_str(), path("direct").c_str()));

  EXPECT_TRUE(FileUtil(vpath("direct")).removeFile(false));
  EXPECT_FALSE(present("direct"));
  EXPECT_TRUE(FileUtil(vpath("tree")).removeFile(true));
  EXPECT_TRUE(!present("tree") && present("outside/keep"));
}

TEST_F(FileUtilTest, SetAclGrantsAccess) {
  write("f", "x");
  ASSERT_EQ(0, chmod(path("f").c_str(), 0600));
  FileUtil f(vpath("f"));
  EXPECT_TRUE(f.setAcl("Everyone", FileUtil::kGrantAccess, FileUtil::kGenericAll, 0));
  struct stat st;
  ASSERT_EQ(0, stat(path("f").c_str(), &st));
  EXPECT_EQ(0666u, st.st_mode & 0777);
  testing::internal::CaptureStdout();
  EXPECT_FALSE(
      f.setAcl("no-such-user-or-group-kef", FileUtil::kGrantAccess, FileUtil::kGenericRead, 0));
  EXPECT_NE(std::string::npos,
            testing::internal::GetCapturedStdout().find("SetEntriesInAcl error! (rc="));
}

TEST_F(FileUtilTest, ListingIsPreOrderAndSkipsIgnoredDirectories) {
  for (const char* dir : {"t/a/a1", "t/b", "t/skip/deep"}) mkdirs(dir);
  for (const char* file : {"t/top", "t/a/a1/leaf", "t/skip/hidden"}) write(file, "x");
  ProcessDir lister;
  lister.addIgnoreDir(VString("skip"));
  std::vector<VString> dirs, files;
  ASSERT_TRUE(lister.getDirTree(dirs, vpath("t/"), true));
  ASSERT_EQ(3u, dirs.size());
  for (size_t i = 0; i < dirs.size(); ++i) {
    if (dirs[i] == vpath("t/a/a1")) {
      ASSERT_GT(i, 0u);
      EXPECT_EQ(vpath("t/a"), dirs[i - 1]);
    }
  }
  bool inUse = true;
  ASSERT_TRUE(lister.getList(files, vpath("t"), true, &inUse));
  EXPECT_FALSE(inUse);
  ASSERT_EQ(2u, files.size());

  const int fd = open(path("t/a/a1/leaf").c_str(), O_RDONLY);
  ASSERT_EQ(0, flock(fd, LOCK_EX));
  files.clear();
  ASSERT_TRUE(lister.getList(files, vpath("t"), true, &inUse));
  EXPECT_TRUE(inUse);
  close(fd);

  // What the listing reports, as "LEVEL:\tmessage" from a log on standard
  // output.
  Log log(nullptr, 0xFFFF, kLocationStdout, 1, true, false);
  ProcessDir reporting(&log);
  const auto reported = [](const std::string& out) {
    std::multiset<std::string> events;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
      const size_t level = line.rfind('\t', line.find(":\t"));
      events.insert(line.substr(level + 1));
    }
    return events;
  };
  files.clear();
  testing::internal::CaptureStdout();
  EXPECT_FALSE(reporting.getList(files, vpath("missing"), true));
  EXPECT_EQ(reported(testing::internal::GetCapturedStdout()),
            (std::multiset<std::string>{"ERROR:\tUnable to process directory " +
                                        path("missing") + ": " + std::to_string(ENOENT)}));
  testing::internal::CaptureStdout();
  EXPECT_TRUE(reporting.getDirTree(dirs, vpath("t/b"), false));
  EXPECT_EQ(reported(testing::internal::GetCapturedStdout()),
            (std::multiset<std::string>{"DEBUG3:\tIgnoring entry .", "DEBUG3:\tIgnoring entry .."}));
  ReadDir reader;
  EXPECT_FALSE(reader.readFirst(vpath("missing")));
}

}  // namespace
}  // namespace tvan
