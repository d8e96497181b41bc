#include "KEF/Jobs/AutoDelJobs/DirectoryStream.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace KEF {

DirectoryStream::DirectoryStream(size_t bufferSize)
    : capacity_(std::min<size_t>(bufferSize, 64 * 1024)) {
  buffer_.reset(new char[capacity_]);
  order_.reset(new uint16_t[capacity_ / kSmallestRecord + 1]);
}

void DirectoryStream::open(int fd, bool owned) {
  close();
  fd_ = fd;
  owned_ = owned;
  count_ = index_ = 0;
  // A descriptor read before (the root, walked once per rule) starts over.
  ::lseek(fd_, 0, SEEK_SET);
}

void DirectoryStream::close() {
  if (fd_ >= 0 && owned_) ::close(fd_);
  fd_ = -1;
  owned_ = false;
}

bool DirectoryStream::fill(int& error) {
  const ssize_t got = ::getdents64(fd_, buffer_.get(), capacity_);
  if (got <= 0) {
    if (got < 0) error = errno;
    return false;
  }
  count_ = index_ = 0;
  // The kernel aligns every record to 8 bytes within the buffer, and new[]
  // aligns the buffer itself.
  for (size_t offset = 0; offset < static_cast<size_t>(got);) {
    order_[count_++] = static_cast<uint16_t>(offset);
    offset += reinterpret_cast<const struct dirent64*>(buffer_.get() + offset)->d_reclen;
  }
  const char* base = buffer_.get();
  std::sort(order_.get(), order_.get() + count_, [base](uint16_t a, uint16_t b) {
    return reinterpret_cast<const struct dirent64*>(base + a)->d_ino <
           reinterpret_cast<const struct dirent64*>(base + b)->d_ino;
  });
  return true;
}

const struct dirent64* DirectoryStream::next(int& error) {
  error = 0;
  if (index_ >= count_ && !fill(error)) return nullptr;
  return reinterpret_cast<const struct dirent64*>(buffer_.get() + order_[index_++]);
}

}  // namespace KEF
