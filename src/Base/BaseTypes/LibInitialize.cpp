#include "Base/BaseTypes/LibInitialize.h"

#include <algorithm>
#include <iostream>
#include <mutex>
#include <vector>

#include "Base/BaseTypes/TypeName.h"

namespace tvan {

namespace {

constexpr int kLowestPriority = 0;
constexpr int kHighestPriority = 100;
constexpr size_t kMaxNameUnits = 99;

// Process-wide; never destroyed, so that initialisers destroyed at process
// exit (in any order) still find it.
struct InitState {
  // Guards everything below. Recursive so that an init() may ask for the
  // application name.
  std::recursive_mutex mutex;
  LibInitialize* head = nullptr;              // registration list, newest first
  std::vector<LibInitialize*> initialised;    // in initialisation order
  bool verbose = false;
  bool warnWhenNotFinalized = false;
  bool isInitialized = false;
  bool isFinalized = false;
  std::u16string applicationName;
};

InitState& state() {
  static InitState* s = new InitState;
  return *s;
}

}  // namespace

LibInitialize::LibInitialize() {
  InitState& s = state();
  std::lock_guard<std::recursive_mutex> lock(s.mutex);
  next_ = s.head;
  s.head = this;
}

LibInitialize::~LibInitialize() {
  InitState& s = state();
  std::lock_guard<std::recursive_mutex> lock(s.mutex);
  if (s.warnWhenNotFinalized && !s.isFinalized) {
    std::cout << "LibInitialize object " << typeName(typeid(LibInitialize))
              << " not finalized properly!" << std::endl;
  }
  // Only this object leaves: the others stay registered and reachable.
  for (LibInitialize** link = &s.head; *link != nullptr; link = &(*link)->next_) {
    if (*link == this) {
      *link = next_;
      break;
    }
  }
  next_ = nullptr;
  s.initialised.erase(std::remove(s.initialised.begin(), s.initialised.end(), this),
                      s.initialised.end());
}

void LibInitialize::init(const VString&) {}

void LibInitialize::fini() {}

void LibInitialize::initialize(const VString& applicationName, bool verbose,
                               bool warnWhenNotFinalized) {
  InitState& s = state();
  std::lock_guard<std::recursive_mutex> lock(s.mutex);
  s.verbose = verbose;
  s.warnWhenNotFinalized = warnWhenNotFinalized;
  for (int p = kLowestPriority; p <= kHighestPriority; ++p) {
    for (LibInitialize* object = s.head; object != nullptr; object = object->next_) {
      if (object->priority() != p) continue;
      if (verbose) {
        std::cout << "\tInitializing (" << p << "): " << typeName(typeid(*object))
                  << std::endl;
      }
      object->init(applicationName);
      s.initialised.push_back(object);
    }
  }
  s.isInitialized = true;
  s.isFinalized = false;
  const std::u16string& name = applicationName.wide();
  s.applicationName = name.substr(0, std::min(name.size(), kMaxNameUnits));
}

void LibInitialize::finalize() {
  InitState& s = state();
  std::lock_guard<std::recursive_mutex> lock(s.mutex);
  // Each object initialised leaves the list as it is finalised, so a second
  // finalize() has nothing left to do.
  while (!s.initialised.empty()) {
    LibInitialize* object = s.initialised.back();
    s.initialised.pop_back();
    if (s.verbose) {
      std::cout << "\tFinalizing: " << typeName(typeid(*object)) << std::endl;
    }
    object->fini();
  }
  s.isInitialized = false;
  s.isFinalized = true;
}

VString LibInitialize::applicationName() {
  InitState& s = state();
  std::lock_guard<std::recursive_mutex> lock(s.mutex);
  return VString(s.applicationName);
}

bool LibInitialize::isInitialized() {
  InitState& s = state();
  std::lock_guard<std::recursive_mutex> lock(s.mutex);
  return s.isInitialized;
}

}  // namespace tvan
