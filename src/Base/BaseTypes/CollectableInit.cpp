#include "Base/BaseTypes/CollectableInit.h"

#include <atomic>

namespace tvan {

namespace {

std::atomic<bool> collectablesAllowed{false};

// The library's one instance, registered when the library loads.
CollectableInit theCollectableInit;

}  // namespace

CollectableInit::~CollectableInit() { collectablesAllowed.store(false); }

void CollectableInit::init(const VString&) { collectablesAllowed.store(true); }

void CollectableInit::fini() {}

bool CollectableInit::isInitialized() { return collectablesAllowed.load(); }

}  // namespace tvan
