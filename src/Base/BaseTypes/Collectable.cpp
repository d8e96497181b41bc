#include "Base/BaseTypes/Collectable.h"

#include <cinttypes>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <string>

#include "Base/BaseTypes/CollectableInit.h"
#include "Base/BaseTypes/Error.h"
#include "Base/BaseTypes/TypeName.h"
#include "Base/BaseTypes/VString.h"
#include "Base/System/Platform/Clock.h"

namespace tvan {

namespace {

constexpr int32_t kDestroyedCount = -66;

struct Stamp {
  Collectable* object;
  long time;
};

// Process-wide; never destroyed, so that objects outliving static
// destruction still find it.
struct StampState {
  std::atomic<bool> enabled{false};  // read without the lock on every creation
  std::mutex mutex;
  std::vector<Stamp> stamps;  // guarded by mutex; in creation order
};

StampState& stampState() {
  static StampState* s = new StampState;
  return *s;
}

// "0x" and the address in lower-case hex, the form every address text of the
// library takes.
std::string addressText(const void* p) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%" PRIxPTR, reinterpret_cast<uintptr_t>(p));
  return text;
}

// Whether a dynamic type name is the class name given: the same qualified
// name, the name without its namespaces, or the "class X" form.
bool typeMatches(const std::string& dynamicName, const std::string& className) {
  std::string wanted = className;
  const std::string classPrefix = "class ";
  if (wanted.compare(0, classPrefix.size(), classPrefix) == 0) {
    wanted.erase(0, classPrefix.size());
  }
  if (dynamicName == wanted) return true;
  return dynamicName.size() > wanted.size() + 2 &&
         dynamicName.compare(dynamicName.size() - wanted.size(), wanted.size(), wanted) == 0 &&
         dynamicName.compare(dynamicName.size() - wanted.size() - 2, 2, "::") == 0;
}

}  // namespace

Collectable::Collectable() { checkAndStamp(); }

Collectable::Collectable(const Collectable&) { checkAndStamp(); }

void Collectable::checkAndStamp() {
  if (!CollectableInit::isInitialized()) {
    throw Error(__FILE__, __LINE__, "Collectable: Initialization error!");
  }
  StampState& s = stampState();
  if (s.enabled.load(std::memory_order_relaxed)) {
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.enabled.load(std::memory_order_relaxed)) {
      s.stamps.push_back(Stamp{this, platform::processClockMillis()});
    }
  }
}

Collectable::~Collectable() {
  if (count_.load(std::memory_order_relaxed) != 0) {
    std::cout << "Destructing referenced Collectable at " << addressText(this) << std::endl;
  }
  StampState& s = stampState();
  if (s.enabled.load(std::memory_order_relaxed)) {
    std::lock_guard<std::mutex> lock(s.mutex);
    for (auto it = s.stamps.begin(); it != s.stamps.end(); ++it) {
      if (it->object == this) {
        s.stamps.erase(it);
        break;
      }
    }
  }
  count_.store(kDestroyedCount, std::memory_order_relaxed);
}

void Collectable::addReference() { count_.fetch_add(1, std::memory_order_relaxed); }

void Collectable::removeReference() {
  // acq_rel: the deleting thread must see every other holder's writes.
  if (count_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

void Collectable::debugText(std::ostream& os) const {
  int32_t count = referenceCount();
  os << "\tReference count: " << count << '\n';
  if (count == 0) os << "\tThis should already be deleted!" << '\n';
  if (count < 0) os << "\tThis reference count is ILLEGAL!" << '\n';
}

bool Collectable::isValid() const { return referenceCount() >= 0; }

long Collectable::objectSize() const { return static_cast<long>(sizeof(Collectable)); }

void Collectable::enableTimeStamping(bool on) {
  StampState& s = stampState();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (on != s.enabled.load(std::memory_order_relaxed)) s.stamps.clear();
  s.enabled.store(on, std::memory_order_relaxed);
}

bool Collectable::timeStampingEnabled() {
  return stampState().enabled.load(std::memory_order_relaxed);
}

void Collectable::findByTime(std::vector<Collectable*>& found, long fromTime,
                             const VString& className, std::vector<long>* times,
                             long toTime) {
  if (toTime == 0) toTime = platform::processClockMillis();
  found.clear();
  if (times) times->clear();
  if (!className.isNarrow()) return;  // no type name has such characters
  const std::string wanted = className.narrow();
  StampState& s = stampState();
  std::lock_guard<std::mutex> lock(s.mutex);
  for (const Stamp& stamp : s.stamps) {
    if (stamp.time < fromTime || stamp.time > toTime) continue;
    if (!wanted.empty() && !typeMatches(typeName(typeid(*stamp.object)), wanted)) continue;
    found.push_back(stamp.object);
    if (times) times->push_back(stamp.time);
  }
}

void Collectable::printByTime(long fromTime, const VString& className, long toTime,
                              void (*printer)(const Collectable*)) {
  if (toTime == 0) toTime = platform::processClockMillis();
  std::vector<Collectable*> found;
  std::vector<long> times;
  findByTime(found, fromTime, className, &times, toTime);
  std::cout << "Objects created from id(" << fromTime << ") to id(" << toTime << ") :\n";
  for (size_t i = 0; i < found.size(); ++i) {
    std::cout << "    " << typeName(typeid(*found[i])) << '\t';
    if (printer) {
      std::cout.flush();
      printer(found[i]);
    } else {
      std::cout << addressText(found[i]);
    }
    std::cout << "\t@ id(" << times[i] << ")" << std::endl;
  }
  std::cout.flush();
}

}  // namespace tvan
