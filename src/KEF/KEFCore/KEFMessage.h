#pragma once
// A framework message: how a job talks to another service (its parent, a
// child, the owner of its request). The message is one flat record,
// KEF_MESSAGE, owned by a KEFMessage. Sending it stores it in the request
// database for the host's service manager and then notifies the manager.
//
// Threads: a message is built and sent on one thread.
#include <cstddef>
#include <cstdint>
#include <string>

#include <ace/Task.h>

// The message record: one contiguous block in the machine's byte order. The
// three header texts are NUL-terminated and hold at most 149 characters;
// `data` holds dataLength bytes and a NUL. The block is allocated with
// kFixedSize + dataLength + 1 bytes.
struct KEF_MESSAGE {
  static constexpr size_t kTextSize = 150;
  // The fixed part as counted for allocation: the declared size with a
  // one-byte data array, rounded to 4.
  static constexpr size_t kFixedSize = 460;

  char msgType[kTextSize];
  char serviceID[kTextSize];
  char clientID[kTextSize];
  int32_t dataLength;  // bytes of data without its NUL
  char data[1];        // dataLength + 1 bytes in the block
};
static_assert(offsetof(KEF_MESSAGE, msgType) == 0, "msgType at 0");
static_assert(offsetof(KEF_MESSAGE, serviceID) == 150, "serviceID at 150");
static_assert(offsetof(KEF_MESSAGE, clientID) == 300, "clientID at 300");
static_assert(offsetof(KEF_MESSAGE, dataLength) == 452, "dataLength at 452");
static_assert(offsetof(KEF_MESSAGE, data) == 456, "data at 456");
static_assert(sizeof(KEF_MESSAGE) == 460, "fixed part of 460 bytes");

class KEFMessage {
 public:
  // Builds the record. Header texts longer than 149 characters are cut
  // silently; null data gives an empty data text. `reserved` is ignored.
  // Throws the text "Unable to allocate buffer" (a const char*) when the
  // record cannot be allocated.
  KEFMessage(std::string msgType, std::string serviceID, std::string clientID, const char* data,
             const char* reserved);
  virtual ~KEFMessage();

  KEFMessage(const KEFMessage&) = delete;
  KEFMessage& operator=(const KEFMessage&) = delete;

  // The record; the message keeps ownership.
  KEF_MESSAGE* getMessagePtr() const { return message; }
  // The record's size in bytes as allocated (kFixedSize + dataLength + 1).
  size_t getMessageSize() const {
    return KEF_MESSAGE::kFixedSize + static_cast<size_t>(message->dataLength) + 1;
  }

  // Stores the message in the request database for `target`, which must be
  // the host's ServiceManager task, and notifies it. A non-null `note`
  // replaces the entry's first own text. Returns 0 when stored; otherwise a
  // non-zero error code (errno when set, else EIO), after logging why.
  int send(ACE_Task<ACE_MT_SYNCH>* target, const char* note);

 private:
  KEF_MESSAGE* message;  // owned (malloc'd block)
  int32_t reserved;      // kept for derived uses; 0
};

// "<first>|<second>|<seconds>.<milliseconds>" of the current time, the
// milliseconds without leading zeros.
std::string createServiceID(const char* first, const char* second);
