#pragma once
// Readable run-time type names ("tvan::Error"), as the compiler's demangler
// gives them.
#include <string>
#include <typeinfo>

namespace tvan {

std::string typeName(const std::type_info& type);

}  // namespace tvan
