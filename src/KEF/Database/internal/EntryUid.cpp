#include "KEF/Database/internal/EntryUid.h"

#include <sys/random.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>

namespace tvan {
namespace dbinternal {

namespace {

// 16 bytes from the kernel's generator; should it fail (it does not block
// once the system has booted), the clock and a counter fill in, which are
// still unique within the process.
void randomBytes(unsigned char (&bytes)[16]) {
  size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  if (got == sizeof bytes) return;
  static std::atomic<uint64_t> counter{0};
  const uint64_t now = static_cast<uint64_t>(
      std::chrono::system_clock::now().time_since_epoch().count());
  const uint64_t count = counter.fetch_add(1) ^ (static_cast<uint64_t>(::getpid()) << 40);
  std::memcpy(bytes, &now, 8);
  std::memcpy(bytes + 8, &count, 8);
}

}  // namespace

std::string newEntryUid() {
  unsigned char bytes[16];
  randomBytes(bytes);
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  text.reserve(36);
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    text += kHex[bytes[i] >> 4];
    text += kHex[bytes[i] & 0x0F];
  }
  return text;
}

}  // namespace dbinternal
}  // namespace tvan
