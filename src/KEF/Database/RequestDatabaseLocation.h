#pragma once
// Where the machine's request database is.
#include <string>

namespace tvan {

// The location when nothing else names one.
constexpr const char kDefaultRequestDatabase[] = "/var/lib/kef/requests.db";

// The first of: the environment variable KEF_REQUEST_DATABASE, the element
// KEFPrefs/RequestDatabase of the framework configuration file, the default
// above; an empty text counts as absent. Looked up on every call (the
// configuration file itself is read once per process). Never throws: a
// configuration that cannot be read counts as absent.
std::string requestDatabasePath();

}  // namespace tvan
