#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "Base/System/ConfigurationLocations.h"
#include "Base/System/Registry.h"
#include "TestUtil.h"

namespace {

using tvan::Registry;

// A fresh, empty registry store and none of the location variables set.
class ConfigurationLocationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TVAN_REGISTRY_FILE", dir_.file("registry").c_str(), 1);
    for (const char* name : kVariables) unsetenv(name);
  }
  void TearDown() override {
    for (const char* name : kVariables) unsetenv(name);
    unsetenv("TVAN_REGISTRY_FILE");
  }

  static void setKEF(const char* name, const char* value) {
    Registry::create(value, name, "", tvan::kString, tvan::kKEFKey);
  }
  static void setQuenta(const char* name, const char* value) {
    Registry::create(value, name, "", tvan::kString, tvan::kQuentaKey);
  }

  static constexpr const char* kVariables[] = {"KEF_CONFIGURATION", "QUENTA_CONFIGURATION",
                                               "ORMIX_CONFIGURATION"};
  testutil::TempDir dir_{"tvan_locations"};
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
  // Viewer, Quenta, annotation list, Ormix, configuration directory, print
  // defaults, audit log, temporary root, IOR file.
  auto all = [] {
    std::string out;
    std::string text = tvan::getViewerConfigurationFileName(out);
    for (auto get : {tvan::getQuentaConfigurationFileName, tvan::getAnnotationListFileName,
                     tvan::getOrmixConfigurationFileName, tvan::getConfigurationDirectoryName,
                     tvan::getPrintConfigurationFileName, tvan::getAuditLogDirName,
                     tvan::getQuentaTempRootDirName, tvan::getCORBAIORFullyQualifiedFile}) {
      text += "|" + std::string(get(out));
    }
    return text;
  };
  EXPECT_EQ(all(),
            "ViewerConfiguration.xml|QuentaConfiguration.xml|AllAnnotationList.xml|"
            "OrmixConfiguration.xml|||||/KEF.ior");

  setenv("QUENTA_CONFIGURATION", "/q", 1);
  setenv("ORMIX_CONFIGURATION", "/o", 1);
  setenv("KEF_CONFIGURATION", "/k", 1);
  EXPECT_EQ(all(),
            "/q/ViewerConfiguration.xml|/q/QuentaConfiguration.xml|/q/AllAnnotationList.xml|"
            "/o/OrmixConfiguration.xml|/q/|/k/PrintDefaults.xml|||/KEF.ior");

  setQuenta("QuentaHome", "/opt/q");
  setQuenta("QuentaDataTop", "/data");
  setQuenta("QuentaTmpRoot", "/tmp/q");
  setKEF("ConfigPath", "/etc/kef");
  EXPECT_EQ(
      all(),
      "/opt/q/config/ViewerConfiguration.xml|/opt/q/config/QuentaConfiguration.xml|"
      "/opt/q/config/AllAnnotationList.xml|/opt/q/config/OrmixConfiguration.xml|/opt/q/config/|"
      "/etc/kef/PrintDefaults.xml|/data/AuditLog|/tmp/q|/tmp/q/KEF.ior");
}

TEST_F(ConfigurationLocationsTest, EmptyEnvironmentVariableStillCounts) {
  setenv("KEF_CONFIGURATION", "", 1);
  std::string out;
  EXPECT_EQ(tvan::getKEFConfigurationFileName(out), "/KEFConfiguration.xml");
  setenv("QUENTA_CONFIGURATION", "", 1);
  EXPECT_EQ(tvan::getViewerConfigurationFileName(out), "/ViewerConfiguration.xml");
}

}  // namespace
