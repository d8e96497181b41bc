#include "Base/System/ConfigurationLocations.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "Base/System/Registry.h"

namespace {

using tvan::Registry;

// A fresh, empty registry store and none of the location variables set.
class ConfigurationLocationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tvan_locations_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    setenv("TVAN_REGISTRY_FILE", (dir_ + "/registry").c_str(), 1);
    for (const char* name : kVariables) unsetenv(name);
  }
  void TearDown() override {
    for (const char* name : kVariables) unsetenv(name);
    unsetenv("TVAN_REGISTRY_FILE");
    ASSERT_EQ(std::system(("rm -rf '" + dir_ + "'").c_str()), 0);
  }

  static void setKEF(const char* name, const char* value) {
    Registry::create(value, name, "", tvan::kString, tvan::kKEFKey);
  }
  static void setQuenta(const char* name, const char* value) {
    Registry::create(value, name, "", tvan::kString, tvan::kQuentaKey);
  }

  static constexpr const char* kVariables[] = {"KEF_CONFIGURATION", "QUENTA_CONFIGURATION",
                                               "ORMIX_CONFIGURATION"};
  std::string dir_;
};

TEST_F(ConfigurationLocationsTest, KEFConfigurationFollowsRegistryThenEnvironment) {
  std::string out = "stale";
  EXPECT_EQ(tvan::getKEFConfigurationFileName(out), "");
  EXPECT_EQ(out, "");

  setenv("KEF_CONFIGURATION", "/cfg", 1);
  EXPECT_EQ(tvan::getKEFConfigurationFileName(out), "/cfg/KEFConfiguration.xml");

  setKEF("ConfigPath", "/etc/kef");
  EXPECT_EQ(tvan::getKEFConfigurationFileName(out), "/etc/kef/KEFConfiguration.xml");

  setKEF("KEFConfiguration", "/srv/main.xml");
  EXPECT_EQ(tvan::getKEFConfigurationFileName(out), "/srv/main.xml");

  // A registry value that exists ends the search even when empty.
  setKEF("KEFConfiguration", "");
  EXPECT_EQ(tvan::getKEFConfigurationFileName(out), "");
}

TEST_F(ConfigurationLocationsTest, QuentaFilesFallBackToBareNames) {
  std::string out;
  EXPECT_EQ(tvan::getViewerConfigurationFileName(out), "ViewerConfiguration.xml");
  EXPECT_EQ(tvan::getQuentaConfigurationFileName(out), "QuentaConfiguration.xml");
  EXPECT_EQ(tvan::getAnnotationListFileName(out), "AllAnnotationList.xml");
  EXPECT_EQ(tvan::getOrmixConfigurationFileName(out), "OrmixConfiguration.xml");
  EXPECT_EQ(tvan::getConfigurationDirectoryName(out), "");
  EXPECT_EQ(tvan::getPrintConfigurationFileName(out), "");
  EXPECT_EQ(tvan::getAuditLogDirName(out), "");
  EXPECT_EQ(tvan::getQuentaTempRootDirName(out), "");
  EXPECT_EQ(tvan::getCORBAIORFullyQualifiedFile(out), "/KEF.ior");

  setenv("QUENTA_CONFIGURATION", "/q", 1);
  setenv("ORMIX_CONFIGURATION", "/o", 1);
  setenv("KEF_CONFIGURATION", "/k", 1);
  EXPECT_EQ(tvan::getViewerConfigurationFileName(out), "/q/ViewerConfiguration.xml");
  EXPECT_EQ(tvan::getAnnotationListFileName(out), "/q/AllAnnotationList.xml");
  EXPECT_EQ(tvan::getOrmixConfigurationFileName(out), "/o/OrmixConfiguration.xml");
  EXPECT_EQ(tvan::getConfigurationDirectoryName(out), "/q/");
  EXPECT_EQ(tvan::getPrintConfigurationFileName(out), "/k/PrintDefaults.xml");

  setQuenta("QuentaHome", "/opt/q");
  setQuenta("QuentaDataTop", "/data");
  setQuenta("QuentaTmpRoot", "/tmp/q");
  setKEF("ConfigPath", "/etc/kef");
  EXPECT_EQ(tvan::getViewerConfigurationFileName(out), "/opt/q/config/ViewerConfiguration.xml");
  EXPECT_EQ(tvan::getQuentaConfigurationFileName(out), "/opt/q/config/QuentaConfiguration.xml");
  EXPECT_EQ(tvan::getOrmixConfigurationFileName(out), "/opt/q/config/OrmixConfiguration.xml");
  EXPECT_EQ(tvan::getConfigurationDirectoryName(out), "/opt/q/config/");
  EXPECT_EQ(tvan::getPrintConfigurationFileName(out), "/etc/kef/PrintDefaults.xml");
  EXPECT_EQ(tvan::getAuditLogDirName(out), "/data/AuditLog");
  EXPECT_EQ(tvan::getQuentaTempRootDirName(out), "/tmp/q");
  EXPECT_EQ(tvan::getCORBAIORFullyQualifiedFile(out), "/tmp/q/KEF.ior");
}

TEST_F(ConfigurationLocationsTest, EmptyEnvironmentVariableStillCounts) {
  setenv("KEF_CONFIGURATION", "", 1);
  std::string out;
  EXPECT_EQ(tvan::getKEFConfigurationFileName(out), "/KEFConfiguration.xml");
  setenv("QUENTA_CONFIGURATION", "", 1);
  EXPECT_EQ(tvan::getViewerConfigurationFileName(out), "/ViewerConfiguration.xml");
}

}  // namespace
