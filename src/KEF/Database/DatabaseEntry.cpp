#include "KEF/Database/DatabaseEntry.h"

namespace tvan {

// Defined here so that the class's virtual table lives in the library.
DatabaseEntry::~DatabaseEntry() = default;

}  // namespace tvan
