#pragma once
// The unique id a message gets when it is first stored: the server keeps
// one row per id, so a message that reaches it twice (forwarded from the
// spool after a commit whose answer was lost) is stored once.
#include <string>

namespace tvan {
namespace dbinternal {

// A random (version 4) UUID as text: 8-4-4-4-12 lower-case hex digits.
std::string newEntryUid();

}  // namespace dbinternal
}  // namespace tvan
