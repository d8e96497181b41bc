#pragma once
// The framework throws library errors, C strings and standard exceptions;
// the host turns whichever it caught into one line of text.
#include <string>

namespace kefhost {

// What the exception being handled says. Call only inside a catch block.
std::string currentExceptionText();

}  // namespace kefhost
