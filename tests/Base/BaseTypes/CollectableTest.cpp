#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Base/BaseTypes/Collectable.h"
#include "Base/BaseTypes/CollectableInit.h"
#include "Base/BaseTypes/Error.h"
#include "Base/BaseTypes/Handle.h"
#include "Base/BaseTypes/VString.h"
#include "TestUtil.h"

using tvan::Collectable;
using tvan::Handle;
using tvan::VString;

namespace collectabletest {

// Counts its destructions, so tests see exactly when the last reference went.
class Probe : public Collectable {
 public:
  explicit Probe(int* destroyed = nullptr) : destroyed_(destroyed) {}
  Handle<Probe> child;  // lets one probe own another

 protected:
  ~Probe() override {
    if (destroyed_) ++*destroyed_;
  }

 private:
  int* destroyed_;
};

class OtherProbe : public Collectable {};

// Destructible directly, to exercise a destruction while referenced.
class Loose : public Collectable {
 public:
  ~Loose() override = default;
};

}  // namespace collectabletest

using collectabletest::Loose;
using collectabletest::OtherProbe;
using collectabletest::Probe;

TEST(Handle, CountsReferencesAndDeletesWithTheLast) {
  int destroyed = 0;
  Probe* p = new Probe(&destroyed);
  EXPECT_EQ(p->referenceCount(), 0);
  Handle<Probe> first(p);
  EXPECT_EQ(p->referenceCount(), 1);
  first = p;  // the pointer it already holds
  EXPECT_EQ(p->referenceCount(), 1);
  {
    Handle<Probe> second = first;
    EXPECT_EQ(p->referenceCount(), 2);
    first = nullptr;
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(p->referenceCount(), 1);
    Handle<Probe> moved = std::move(second);
    EXPECT_EQ(second.get(), nullptr);
    EXPECT_EQ(p->referenceCount(), 1);
  }
  EXPECT_EQ(destroyed, 1);
}

TEST(Handle, ReassigningToAnObjectOwnedByTheOldOneKeepsIt) {
  int destroyed = 0;
  Handle<Probe> h(new Probe(&destroyed));
  h->child = new Probe(&destroyed);
  h = h->child.get();  // the old object holds the only other reference
  EXPECT_EQ(destroyed, 1);
  ASSERT_NE(h.get(), nullptr);
  EXPECT_EQ(h->referenceCount(), 1);
  h = nullptr;
  EXPECT_EQ(destroyed, 2);
}

TEST(Handle, CopiesOnSeveralThreadsKeepTheCount) {
  int destroyed = 0;
  Handle<Probe> shared(new Probe(&destroyed));
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&shared] {
      for (int i = 0; i < 20000; ++i) {
        Handle<Probe> copy = shared;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(shared->referenceCount(), 1);
  EXPECT_EQ(destroyed, 0);
}

TEST(Collectable, DebugTextAndIllegalCounts) {
  Loose* object = new Loose;
  object->addReference();
  object->addReference();
  std::ostringstream live;
  object->debugText(live);
  EXPECT_EQ(live.str(), "\tReference count: 2\n");
  object->removeReference();
  object->removeReference();  // reaches 0: deleted
  Loose* over = new Loose;
  over->removeReference();  // from 0: not deleted, the count goes illegal
  EXPECT_FALSE(over->isValid());
  std::ostringstream illegal;
  over->debugText(illegal);
  EXPECT_EQ(illegal.str(), "\tReference count: -1\n\tThis reference count is ILLEGAL!\n");
  char expected[64];
  std::snprintf(expected, sizeof expected, "Destructing referenced Collectable at %p\n",
                static_cast<void*>(static_cast<Collectable*>(over)));
  testing::internal::CaptureStdout();
  delete over;
  EXPECT_EQ(testing::internal::GetCapturedStdout(), expected);
  EXPECT_EQ(Loose().objectSize(), static_cast<long>(sizeof(Collectable)));

  // A destroyed object's storage keeps the count -66 (the field follows the
  // table pointer), so a use after destruction shows an illegal count.
  alignas(Loose) unsigned char storage[sizeof(Loose)];
  (new (storage) Loose)->~Loose();
  int32_t count = 0;
  std::memcpy(&count, storage + sizeof(void*), sizeof count);
  EXPECT_EQ(count, -66);
}

TEST(Collectable, TimeStampsSelectByIntervalAndType) {
  Collectable::enableTimeStamping(true);
  Handle<Probe> a(new Probe);
  Handle<OtherProbe> b(new OtherProbe);
  Collectable::enableTimeStamping(true);  // unchanged: keeps the list
  std::vector<Collectable*> found;
  std::vector<long> times;
  Collectable::findByTime(found, 0, VString(""), &times);
  EXPECT_EQ(found, (std::vector<Collectable*>{a.get(), b.get()}));
  ASSERT_EQ(times.size(), 2u);
  EXPECT_LE(times[0], times[1]);
  // "OtherProbe" ends with "Probe" but is not that class.
  for (const char* name : {"Probe", "collectabletest::Probe", "class collectabletest::Probe"}) {
    Collectable::findByTime(found, 0, VString(name));
    EXPECT_EQ(found, std::vector<Collectable*>{a.get()}) << name;
  }
  Collectable::findByTime(found, 0, VString("Collectable"));
  EXPECT_TRUE(found.empty());
  Collectable::findByTime(found, times[1] + 1, VString(""), nullptr, times[1] + 10);
  EXPECT_TRUE(found.empty());

  testing::internal::CaptureStdout();
  Collectable::printByTime(0, VString("OtherProbe"), 0, nullptr);
  std::string printed = testing::internal::GetCapturedStdout();
  char line[128];
  std::snprintf(line, sizeof line, "    collectabletest::OtherProbe\t%p\t@ id(%ld)\n",
                static_cast<void*>(b.get()), times[1]);
  EXPECT_EQ(printed.substr(0, 23), "Objects created from id");
  EXPECT_NE(printed.find(line), std::string::npos) << printed;

  b = nullptr;  // a destroyed object leaves the list
  Collectable::findByTime(found, 0, VString(""));
  EXPECT_EQ(found, std::vector<Collectable*>{a.get()});
  Collectable::enableTimeStamping(false);
  Collectable::enableTimeStamping(true);  // a change empties the list
  Collectable::findByTime(found, 0, VString(""));
  EXPECT_TRUE(found.empty());
  Collectable::enableTimeStamping(false);
}

TEST(Collectable, CreationBeforeInitialisationThrows) {
  EXPECT_EQ(0, testutil::runInChild([] {
              // Destroying an initialiser withdraws the permission, as at unload.
              { tvan::CollectableInit withdrawn; }
              try {
                Handle<Probe> p(new Probe);
              } catch (const tvan::Error& e) {
                return std::string(e.keystring()) == "Collectable: Initialization error!" ? 0 : 2;
              }
              return 1;
            }));
}
