#pragma once
// Writes the calling thread's stack (one frame a line) to a file descriptor.
// Async-signal-tolerant: allocates nothing once the unwinder is loaded.
namespace tvan {
namespace platform {

void writeStackTrace(int fd);

}  // namespace platform
}  // namespace tvan
