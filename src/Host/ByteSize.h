#pragma once
// Byte counts for people.
#include <cstdint>
#include <string>

namespace kefhost {

// "512 B", "4.0 KiB", "5.0 MiB", "1.2 GiB", ... up to EiB; one decimal above
// bytes. Negative counts (a report's nonsense) are shown as bytes.
std::string formatByteSize(int64_t bytes);

}  // namespace kefhost
