// Saving the framework configuration onto a full file system: the caller gets
// the error and the file keeps its previous content, byte for byte.
#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "Base/BaseTypes/Error.h"
#include "Base/System/GeneralConfiguration.h"
#include "SmallFileSystem.h"
#include "TestUtil.h"

namespace {

using testutil::filesIn;

TEST(GeneralConfigurationFullDisk, SaveThrowsAndKeepsTheFile) {
  testutil::SmallFileSystem fs("256k");
  if (!fs.mounted()) GTEST_SKIP() << fs.skipReason();
  const std::string name = fs.file("KEFConfiguration.xml");
  // Padding makes the saved document longer than one partly used page.
  const std::string original =
      "<KEFPrefs><VolumePrefs/><Log><LevelMask>0</LevelMask></Log><RetryCount>5</RetryCount>"
      "<Padding>" + std::string(6000, 'p') + "</Padding></KEFPrefs>";
  testutil::writeFile(name, original);

  tvan::GeneralConfiguration gc(name.c_str());
  ASSERT_EQ(gc.getRetryCount(), 5);
  fs.fill();
  const std::set<std::string> files = filesIn(fs.path());
  gc.setRetryCount(42);
  try {
    gc.save();
    ADD_FAILURE() << "save onto a full disk did not throw";
  } catch (const tvan::Error& e) {
    EXPECT_EQ(std::string(e.keystring()),
              "XML: Could not save " + name + ": No space left on device");
  }
  EXPECT_EQ(testutil::readFile(name), original);
  EXPECT_EQ(filesIn(fs.path()), files);  // no temporary file left behind

  ASSERT_EQ(std::remove(fs.file("filler").c_str()), 0);
  gc.save();
  EXPECT_NE(testutil::readFile(name).find("<RetryCount>42</RetryCount>"), std::string::npos);
  EXPECT_EQ(filesIn(fs.path()), std::set<std::string>{"KEFConfiguration.xml"});
}

}  // namespace
