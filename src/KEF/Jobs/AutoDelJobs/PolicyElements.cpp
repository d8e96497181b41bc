#include "KEF/Jobs/AutoDelJobs/PolicyElements.h"

#include "Base/System/FunctionMutex.h"
#include "Base/XML/XmlDOM.h"
#include "KEF/KEFCore/BaseJobData.h"

namespace KEF {

namespace {

std::string trimmed(const std::string& text) {
  const char* const space = " \t\r\n";
  const size_t first = text.find_first_not_of(space);
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(space) - first + 1);
}

}  // namespace

bool PolicyElements::exists() {
  tvan::FunctionMutex guard(data_.getDocument()->mutex);
  return data_.goToNode("Policy") > 0;
}

std::vector<std::string> PolicyElements::all(const char* name) {
  tvan::FunctionMutex guard(data_.getDocument()->mutex);
  std::vector<std::string> texts;
  // Each read moves the active node, so every match is read from a fresh
  // selection of the first Policy.
  for (int index = 0;; ++index) {
    if (data_.goToNode("Policy") == 0) break;
    std::string text;
    const int count = data_.getValue(name, text, false, index, false);
    if (index >= count) break;
    texts.push_back(trimmed(text));
  }
  return texts;
}

}  // namespace KEF
