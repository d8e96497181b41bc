#pragma once
// The time the database stamps rows with, and the clock of its waits.
#include <cstdint>
#include <string>

namespace tvan {
namespace dbinternal {

// Milliseconds since 1970-01-01 UTC.
int64_t nowMillis();
// Milliseconds of a monotonic clock, for deadlines and back-offs.
long long monotonicMillis();
// "YYYY-MM-DDThh:mm:ss.mmmZ" (UTC) of milliseconds since 1970.
std::string formatMillis(int64_t millis);

}  // namespace dbinternal
}  // namespace tvan
