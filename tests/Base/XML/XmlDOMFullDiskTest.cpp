// Saving a document replaces its file as a whole: on a full file system the
// save throws and the old file stays; a link to the file stays a link.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <set>
#include <string>

#include "Base/BaseTypes/Error.h"
#include "Base/XML/XmlDOM.h"
#include "SmallFileSystem.h"
#include "TestUtil.h"

namespace {

using tvan::XmlDOM;

const char kDeclaration[] = "<?xml version='1.0' encoding='iso-8859-1' ?>";

using testutil::filesIn;

std::string saveFailure(XmlDOM& dom, const char* fileName) {
  try {
    dom.saveToFile(fileName);
  } catch (const tvan::Error& e) {
    return e.keystring();
  }
  return "no error";
}

TEST(XmlDOMFullDisk, SaveThrowsAndKeepsTheOldFile) {
  testutil::SmallFileSystem fs("256k");
  if (!fs.mounted()) GTEST_SKIP() << fs.skipReason();
  const std::string path = fs.file("doc.xml");
  const std::string original = std::string(kDeclaration) + "<r><a>" + std::string(6000, 'a') + "</a></r>";
  testutil::writeFile(path, original);
  XmlDOM dom(path.c_str(), true);
  dom.createNode("b", "2", false, -1);
  fs.fill();

  EXPECT_EQ(saveFailure(dom, nullptr), "XML: Could not save " + path + ": No space left on device");
  EXPECT_EQ(testutil::readFile(path), original);
  const std::string other = fs.file("other.xml");
  EXPECT_EQ(saveFailure(dom, other.c_str()),
            "XML: Could not save " + other + ": No space left on device");
  EXPECT_EQ(filesIn(fs.path()), (std::set<std::string>{"doc.xml", "filler"}));

  // The document is unharmed: once there is room the same save succeeds.
  ASSERT_EQ(std::remove(fs.file("filler").c_str()), 0);
  EXPECT_EQ(saveFailure(dom, nullptr), "no error");
  EXPECT_EQ(testutil::readFile(path), std::string(kDeclaration) + "<r><a>" +
                                          std::string(6000, 'a') + "</a><b>2</b></r>");
}

TEST(XmlDOMSave, ReplacesTheTargetOfALinkAndKeepsItsMode) {
  testutil::TempDir dir("tvan_xmlsave");
  const std::string target = dir.file("real.xml");
  const std::string link = dir.file("link.xml");
  testutil::writeFile(target, "<r/>");
  ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);

  XmlDOM dom(link.c_str(), true);
  dom.createNode("a", "1", false, -1);
  dom.saveToFile(nullptr);

  struct stat info;
  ASSERT_EQ(::lstat(link.c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  ASSERT_EQ(::stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_EQ(testutil::readFile(target), std::string(kDeclaration) + "<r><a>1</a></r>");
  EXPECT_EQ(filesIn(dir.path()), (std::set<std::string>{"link.xml", "real.xml"}));
}

TEST(XmlDOMSave, UnwritableFolderThrows) {
  XmlDOM dom("<r/>", false);
  EXPECT_EQ(saveFailure(dom, "/nonexistent/dir/file.xml"),
            "XML: Could not save /nonexistent/dir/file.xml: No such file or directory");
}

}  // namespace
