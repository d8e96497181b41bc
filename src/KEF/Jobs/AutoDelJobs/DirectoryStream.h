#pragma once
// The entries of one open directory, read with getdents64(2) into a buffer
// of this stream's own: no allocation per entry and none per directory once
// the buffer exists, which keeps a walk's memory a function of its depth.
//
// Each bufferful is handed out in inode order rather than in the directory's
// hash order: looking at and deleting files in the order of their inodes
// touches the inode table in sequence, which makes a pass over a large
// folder about a tenth faster on ext4.
#include <dirent.h>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace KEF {

class DirectoryStream {
 public:
  // `bufferSize` at most 64 KiB (entries are indexed by 16-bit offsets).
  explicit DirectoryStream(size_t bufferSize);
  ~DirectoryStream() { close(); }
  DirectoryStream(const DirectoryStream&) = delete;
  DirectoryStream& operator=(const DirectoryStream&) = delete;

  // Starts reading `fd` from its first entry; with `owned` the stream
  // closes it. Any directory open before is closed first.
  void open(int fd, bool owned);
  void close();
  int fd() const { return fd_; }

  // The next entry ("." and ".." included), or null at the end or on a read
  // error, which is then left in `error` (0 at the end).
  const struct dirent64* next(int& error);

 private:
  // Reads the next bufferful and orders it; false at the end or on error.
  bool fill(int& error);

  static constexpr size_t kSmallestRecord = 24;  // an entry with a 1-byte name
  std::unique_ptr<char[]> buffer_;
  std::unique_ptr<uint16_t[]> order_;  // offsets of the buffer's entries
  size_t capacity_;
  size_t count_ = 0;  // entries in the buffer
  size_t index_ = 0;  // of the next one in order_
  int fd_ = -1;
  bool owned_ = false;
};

}  // namespace KEF
