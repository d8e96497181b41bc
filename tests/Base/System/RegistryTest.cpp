#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <tuple>

#include "Base/BaseTypes/Error.h"
#include "Base/System/Platform/RegistryStore.h"
#include "Base/System/Registry.h"
#include "TestUtil.h"

namespace {

using tvan::Registry;
using tvan::VString;
using tvan::platform::RegistryStore;

// Points TVAN_REGISTRY_FILE at a fresh file in a temporary directory for the
// test's lifetime.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("TVAN_REGISTRY_FILE", file_.c_str(), 1); }
  void TearDown() override { unsetenv("TVAN_REGISTRY_FILE"); }
  std::string fileText() const { return testutil::readFile(file_); }

  testutil::TempDir dir_{"tvan_registry"};
  std::string file_ = dir_.file("sub/registry");
};

std::string messageOf(const tvan::Error& e) {
  VString text;
  e.constructMessage(text);
  return text.narrow();
}

TEST(MakeRegKey, BuildsBackslashPathsFromRootSubKeyAndName) {
  // One leading separator of sub-key and name is dropped, `/` becomes `\`,
  // a separator is added between sub-key and name when missing; an unknown
  // root has no prefix. {name, root, sub-key, key}
  const std::tuple<const char*, int, const char*, const char*> cases[] = {
      {"KEFConfiguration", tvan::kKEFKey, "",
       "\\HKEY_LOCAL_MACHINE\\Software\\Tovan Studio\\KEF\\KEFConfiguration"},
      {"Home", tvan::kQuentaKey, "", "\\HKEY_LOCAL_MACHINE\\Software\\Tovan Studio\\Quenta\\Home"},
      {"x", tvan::kCompanyKey, "", "\\HKEY_LOCAL_MACHINE\\Software\\Tovan Studio\\x"},
      {"/Level", tvan::kCurrentUser, "\\Apps/Viewer", "\\HKEY_CURRENT_USER\\Apps\\Viewer\\Level"},
      {"Level", tvan::kUsers, "a/b/", "\\HKEY_USERS\\a\\b\\Level"},
      {"", tvan::kClassesRoot, "", "\\HKEY_CLASSES_ROOT\\"},
      {"", tvan::kCurrentConfig, "k", "\\HKEY_CURRENT_CONFIG\\k\\"},
      {"v", tvan::kLocalMachine, "", "\\HKEY_LOCAL_MACHINE\\v"},
      {"v", 42, "", "\\v"}};
  for (const auto& c : cases) {
    EXPECT_EQ(tvan::makeRegKey(std::get<0>(c), static_cast<tvan::RootType>(std::get<1>(c)),
                               std::get<2>(c))
                  .narrow(),
              std::get<3>(c));
  }
}

TEST_F(RegistryTest, MissingStoreReadsAsAbsent) {
  VString value("stale");
  EXPECT_FALSE(Registry::read(value, "ConfigPath", "", tvan::kKEFKey));
  EXPECT_TRUE(value.empty());
}

TEST_F(RegistryTest, DWordsAreHexadecimalBothWays) {
  Registry::create("10", "Level", "", tvan::kDWord, tvan::kKEFKey);
  // {name, written, read}
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"Level", "10", "0x10"},
      {"Other", "0x10", "0x10"},
      {"Max", "FFFFFFFF", "0xffffffff"},
      {"Zero", "0", "0x0"}};
  for (const auto& c : cases) {
    if (std::get<0>(c) != std::string("Level")) {
      Registry::write(std::get<1>(c), std::get<0>(c), "", Registry::kDWord, Registry::kKEFKey);
    }
    VString value;
    ASSERT_TRUE(Registry::read(value, std::get<0>(c), "", tvan::kKEFKey));
    EXPECT_EQ(value.narrow(), std::get<2>(c));
  }

  RegistryStore::Value stored;
  ASSERT_TRUE(RegistryStore().readValue("HKEY_LOCAL_MACHINE\\Software\\Tovan Studio\\KEF", "Level",
                                        stored));
  EXPECT_EQ(stored.type, RegistryStore::kDWord);
  EXPECT_EQ(stored.number, 16u);
}

TEST_F(RegistryTest, BogusDWordsAreRefusedAndStoreNothing) {
  Registry::create("keep", "Level", "", tvan::kString, tvan::kKEFKey);
  for (const char* bogus : {"", "zz", "0x", "12g", "-1", "1 2", "100000000", "0x1ffffffff"}) {
    try {
      Registry::write(bogus, "Level", "", tvan::kDWord, tvan::kKEFKey);
      ADD_FAILURE() << "accepted " << bogus;
    } catch (const tvan::Error& e) {
      EXPECT_NE(messageOf(e).find("Error: Registry: Bogus DWORD value. @ "), std::string::npos)
          << bogus;
    }
  }
  VString value;
  ASSERT_TRUE(Registry::read(value, "Level", "", tvan::kKEFKey));
  EXPECT_EQ(value.narrow(), "keep");
}

TEST_F(RegistryTest, StringsRoundTripAnyBytes) {
  const std::string text = "C:\\a b\t100%\nline\r\x7f\xe9 end";
  Registry::create(text, "Path", "Sub\\Deeper", tvan::kString, tvan::kCompanyKey);
  VString value;
  ASSERT_TRUE(Registry::read(value, "Path", "Sub\\Deeper", tvan::kCompanyKey));
  EXPECT_EQ(value.narrow(), text);
  Registry::create("", "Empty", "", tvan::kString, tvan::kKEFKey);
  ASSERT_TRUE(Registry::read(value, "Empty", "", tvan::kKEFKey));
  EXPECT_TRUE(value.empty());
}

TEST_F(RegistryTest, WriteNeedsAnExistingKeyCreateMakesIt) {
  try {
    Registry::write("/etc/kef", "ConfigPath", "", tvan::kString, tvan::kKEFKey);
    FAIL() << "wrote below a missing key";
  } catch (const tvan::Error& e) {
    EXPECT_NE(
        messageOf(e).find("Error: Registry: Could not open/create key. "
                          "key=\\HKEY_LOCAL_MACHINE\\Software\\Tovan Studio\\KEF\\ConfigPath @ "),
        std::string::npos);
  }
  Registry::create("/etc/kef", "ConfigPath", "", tvan::kString, tvan::kKEFKey);
  // Every key above it now exists as well.
  Registry::write("x", "Name", "", tvan::kString, tvan::kCompanyKey);
  VString value;
  EXPECT_TRUE(Registry::read(value, "ConfigPath", "", tvan::kKEFKey));
  EXPECT_EQ(value.narrow(), "/etc/kef");
  // Overwriting replaces the value and its type.
  Registry::write("20", "ConfigPath", "", tvan::kDWord, tvan::kKEFKey);
  EXPECT_TRUE(Registry::read(value, "ConfigPath", "", tvan::kKEFKey));
  EXPECT_EQ(value.narrow(), "0x20");
}

TEST_F(RegistryTest, NamesCompareCaseInsensitivelyAndKeepTheirCase) {
  Registry::create("/etc/kef", "ConfigPath", "", tvan::kString, tvan::kKEFKey);
  VString value;
  EXPECT_TRUE(Registry::read(value, "CONFIGPATH", "", tvan::kKEFKey));
  EXPECT_TRUE(
      Registry::read(value, "configpath", "software\\TOVAN STUDIO\\kef", tvan::kLocalMachine));
  EXPECT_EQ(value.narrow(), "/etc/kef");
  Registry::write("/opt", "CONFIGPATH", "", tvan::kString, tvan::kKEFKey);
  EXPECT_NE(fileText().find("\tConfigPath\t1\t/opt\n"), std::string::npos) << fileText();
}

TEST_F(RegistryTest, RemoveDeletesValuesAndReportsMissingOnes) {
  Registry::create("1", "A", "", tvan::kDWord, tvan::kKEFKey);
  Registry::remove("A", "", tvan::kKEFKey);
  VString value;
  EXPECT_FALSE(Registry::read(value, "A", "", tvan::kKEFKey));
  try {
    Registry::remove("A", "", tvan::kKEFKey);
    FAIL() << "removed a missing value";
  } catch (const tvan::Error& e) {
    EXPECT_NE(messageOf(e).find("Error: Registry: Could not remove key. @ "), std::string::npos);
  }
  EXPECT_THROW(Registry::remove("A", "NoSuchKey", tvan::kKEFKey), tvan::Error);
}

TEST_F(RegistryTest, ReadOptionalRemembersMissingValuesOnly) {
  VString value;
  EXPECT_FALSE(Registry::readOptional(value, "LateValue", "", tvan::kKEFKey));
  Registry::create("v1", "LateValue", "", tvan::kString, tvan::kKEFKey);
  EXPECT_FALSE(Registry::readOptional(value, "LateValue", "", tvan::kKEFKey));
  EXPECT_TRUE(Registry::read(value, "LateValue", "", tvan::kKEFKey));

  // A value found is read afresh every time.
  Registry::create("one", "Present", "", tvan::kString, tvan::kKEFKey);
  ASSERT_TRUE(Registry::readOptional(value, "Present", "", tvan::kKEFKey));
  Registry::write("two", "Present", "", tvan::kString, tvan::kKEFKey);
  ASSERT_TRUE(Registry::readOptional(value, "Present", "", tvan::kKEFKey));
  EXPECT_EQ(value.narrow(), "two");

  // The memory belongs to the value's full path, not to its name alone.
  Registry::create("elsewhere", "LateValue", "Other", tvan::kString, tvan::kKEFKey);
  EXPECT_TRUE(Registry::readOptional(value, "LateValue", "Other", tvan::kKEFKey));
  EXPECT_EQ(value.narrow(), "elsewhere");
}

TEST_F(RegistryTest, ConcurrentWritersInSeveralProcessesLoseNothing) {
  Registry::create("start", "Seed", "", tvan::kString, tvan::kKEFKey);
  constexpr int kProcesses = 3;
  constexpr int kValues = 25;
  pid_t children[kProcesses];
  for (int p = 0; p < kProcesses; ++p) {
    children[p] = testutil::spawnChild([p] {
      try {
        for (int i = 0; i < kValues; ++i) {
          const std::string name = "P" + std::to_string(p) + "_" + std::to_string(i);
          // Decimal text read as hexadecimal: "16" stores 0x16.
          Registry::write(std::to_string(i), name, "", tvan::kDWord, tvan::kKEFKey);
        }
      } catch (...) {
        return 1;
      }
      return 0;
    });
    ASSERT_GE(children[p], 0);
  }
  // Meanwhile readers always see a complete store.
  for (int i = 0; i < 50; ++i) {
    VString value;
    ASSERT_TRUE(Registry::read(value, "Seed", "", tvan::kKEFKey));
  }
  for (pid_t child : children) EXPECT_EQ(testutil::exitStatus(child), 0);
  for (int p = 0; p < kProcesses; ++p) {
    for (int i = 0; i < kValues; ++i) {
      VString value;
      const std::string name = "P" + std::to_string(p) + "_" + std::to_string(i);
      ASSERT_TRUE(Registry::read(value, name, "", tvan::kKEFKey)) << name;
      char expected[16];
      std::snprintf(expected, sizeof expected, "0x%d", i);
      EXPECT_EQ(value.narrow(), expected);
    }
  }
}

TEST_F(RegistryTest, StoreListsAndRemovesKeys) {
  Registry::create("a", "One", "A", tvan::kString, tvan::kKEFKey);
  Registry::create("b", "Two", "A\\B", tvan::kString, tvan::kKEFKey);
  Registry::create("c", "Three", "AB", tvan::kString, tvan::kKEFKey);
  RegistryStore store;
  std::vector<RegistryStore::Entry> values;
  std::vector<std::string> keys;
  store.list("HKEY_LOCAL_MACHINE\\Software\\Tovan Studio\\KEF\\a", values, keys);
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[0].name, "One");
  EXPECT_EQ(values[1].key, "HKEY_LOCAL_MACHINE\\Software\\Tovan Studio\\KEF\\A\\B");
  EXPECT_EQ(keys.size(), 2u);

  EXPECT_TRUE(store.removeKey("hkey_local_machine\\software\\tovan studio\\kef\\A"));
  EXPECT_FALSE(store.keyExists("HKEY_LOCAL_MACHINE\\Software\\Tovan Studio\\KEF\\A\\B"));
  EXPECT_TRUE(store.keyExists("HKEY_LOCAL_MACHINE\\Software\\Tovan Studio\\KEF\\AB"));
  EXPECT_FALSE(store.removeKey("HKEY_LOCAL_MACHINE"));
  EXPECT_TRUE(store.keyExists("HKEY_USERS"));
  EXPECT_FALSE(store.keyExists("HKEY_NOWHERE"));
  EXPECT_FALSE(store.createKey("HKEY_NOWHERE\\x"));
}

TEST_F(RegistryTest, MalformedStoreIsNeitherReadNorOverwritten) {
  Registry::create("a", "One", "", tvan::kString, tvan::kKEFKey);
  {
    std::ofstream out(file_, std::ios::app);
    out << "V\tHKEY_LOCAL_MACHINE\\X\tName\t4\tnot-a-number\n";
  }
  const std::string before = fileText();
  VString value;
  EXPECT_FALSE(Registry::read(value, "One", "", tvan::kKEFKey));
  EXPECT_THROW(Registry::create("b", "Two", "", tvan::kString, tvan::kKEFKey), tvan::Error);
  EXPECT_EQ(fileText(), before);
}

}  // namespace
