#pragma once
// What `kefhost --help` and `kefhost --version` print.

namespace kefhost {

const char* usageText();
// "kefhost <project version>".
const char* versionText();

}  // namespace kefhost
