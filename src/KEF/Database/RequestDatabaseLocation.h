#pragma once
// Where the machine's request database is, and the local spool that keeps
// writes while a PostgreSQL request database cannot be reached.
#include <string>

namespace tvan {

// The location when nothing else names one.
constexpr const char kDefaultRequestDatabase[] = "/var/lib/kef/requests.db";

// The first of: the environment variable KEF_REQUEST_DATABASE, the element
// KEFPrefs/RequestDatabase of the framework configuration file, the default
// above; an empty text counts as absent. Looked up on every call (the
// configuration file itself is read once per process). Never throws: a
// configuration that cannot be read counts as absent.
//
// A location is an SQLite file name, or names a PostgreSQL server: a
// connection URI (postgresql://...) or a keyword=value string that starts
// with one of libpq's keywords (host=, dbname=, user=, port=, ...; see
// internal/PgLocation.h).
std::string requestDatabasePath();

// The spool when nothing else names one: beside the default database.
constexpr const char kDefaultRequestSpool[] = "/var/lib/kef/requests-spool.db";

// The first of: the environment variable KEF_REQUEST_SPOOL, the element
// KEFPrefs/RequestSpool of the framework configuration file, the default
// above; an empty text counts as absent. Looked up when a connection to a
// PostgreSQL request database is opened. Never throws.
std::string requestSpoolPath();

}  // namespace tvan
