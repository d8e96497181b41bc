// The plug-in as the host sees it: a library loaded with dlopen whose two
// exports make and destroy services driven through their operation table.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <string>

#include "AutoDelTestUtil.h"
#include "Base/BaseTypes/LibInitialize.h"
#include "Base/BaseTypes/VString.h"

namespace {

using coretest::eventually;
using coretest::ScratchEnvironment;

::testing::Environment* const scratch =
    ::testing::AddGlobalTestEnvironment(new ScratchEnvironment);

using CreateService = KEF::BaseService* (*)();
using DeleteService = void (*)(KEF::BaseService*);

// Counts how often the library's initialisers run and finish.
class CountingInitialiser : public tvan::LibInitialize {
 public:
  void init(const tvan::VString&) override { ++inits; }
  void fini() override { ++finis; }
  int priority() const override { return 100; }
  int inits = 0;
  int finis = 0;
};
CountingInitialiser counter;

bool pluginMapped() {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    if (line.find("libtq_AutoDelService.so") != std::string::npos) return true;
  }
  return false;
}

TEST(PluginLibrary, LoadAndUnloadInitialiseAndFinaliseTheLibraryOnce) {
  // Start from a finalised library, as a host that does not initialise it.
  tvan::LibInitialize::finalize();
  const int inits = counter.inits, finis = counter.finis;
  void* library = ::dlopen(KEF_AUTODEL_PLUGIN, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << ::dlerror();
  EXPECT_EQ(counter.inits, inits + 1);
  EXPECT_EQ(counter.finis, finis);
  EXPECT_TRUE(tvan::LibInitialize::isInitialized());
  EXPECT_EQ(tvan::LibInitialize::applicationName().narrow(), "KEF_DLL");

  auto create = reinterpret_cast<CreateService>(::dlsym(library, "create_service"));
  auto destroy = reinterpret_cast<DeleteService>(::dlsym(library, "delete_service"));
  ASSERT_NE(create, nullptr);
  ASSERT_NE(destroy, nullptr);
  destroy(nullptr);  // nothing to do

  ASSERT_EQ(::dlclose(library), 0);
  EXPECT_FALSE(pluginMapped()) << "the plug-in stayed loaded";
  EXPECT_EQ(counter.inits, inits + 1);
  EXPECT_EQ(counter.finis, finis + 1);
  EXPECT_FALSE(tvan::LibInitialize::isInitialized());
}

TEST(PluginLibrary, AServiceRunsPausesResumesAndFinishesThroughTheTable) {
  autodeltest::useFreshDatabase();
  testutil::TempDir tree("autodel_plugin");
  testutil::writeFile(tree.file("old.dat"), "x");
  const timespec old = {std::time(nullptr) - 5 * 86400, 0};
  const timespec times[2] = {old, old};
  ASSERT_EQ(::utimensat(AT_FDCWD, tree.file("old.dat").c_str(), times, 0), 0);

  void* library = ::dlopen(KEF_AUTODEL_PLUGIN, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << ::dlerror();
  auto create = reinterpret_cast<CreateService>(::dlsym(library, "create_service"));
  auto destroy = reinterpret_cast<DeleteService>(::dlsym(library, "delete_service"));
  ASSERT_TRUE(create != nullptr && destroy != nullptr);
  {
    autodeltest::CountingManager manager;
    KEF::BaseService* service = create();
    ASSERT_NE(service, nullptr);
    EXPECT_EQ(service->getController(), nullptr);
    std::string data = autodeltest::serviceData(
        manager, "<Root>" + tree.path() + "</Root><MaxAgeDays>1</MaxAgeDays>");
    service->initialize(&data[0]);
    ASSERT_EQ(service->run(), 0);
    ASSERT_TRUE(eventually([&] { return testutil::filesIn(tree.path()).empty(); }));
    EXPECT_EQ(service->pause(), 0);
    ASSERT_TRUE(eventually([&] { return service->getController()->getFSM().isPaused(); }));
    EXPECT_EQ(service->resume(), 0);
    EXPECT_EQ(service->finish(), 0);
    ASSERT_TRUE(eventually([&] { return !service->isControllerThreadAlive(); }, 5000));
    EXPECT_EQ(service->getController()->getFSM().getCurrentState()->name, "DONE");
    destroy(service);
  }
  ASSERT_EQ(::dlclose(library), 0);
  EXPECT_FALSE(pluginMapped());
}

}  // namespace
