#pragma once
// Helpers shared by the XmlDOM and XMLUtils tests.
#include <functional>
#include <string>

#include "Base/XML/XmlDOM.h"

namespace xmltest {

// The text thrown as `const char*` by f, or "<none>".
inline std::string thrown(const std::function<void()>& f) {
  try {
    f();
  } catch (const char* text) {
    return text;
  }
  return "<none>";
}

// The whole document as text.
inline std::string dumpAll(tvan::XmlDOM& dom) {
  std::string out;
  dom.dump(out, true, false);
  return out;
}

}  // namespace xmltest
