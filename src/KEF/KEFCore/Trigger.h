#pragma once
// A trigger: the only kind of message on a controller's queue. The name is
// packed into one message block (the name's bytes and a NUL) and appended to
// the controller's queue; the controller thread pulls it through its state
// machine. The sender does not wait for it to be processed.
//
// Threads: send() may be called from any thread; triggers are processed in
// the order they were appended.
#include <cstdint>
#include <string>

class ACE_Message_Block;

namespace KEF {

class BaseController;

class Trigger {
 public:
  explicit Trigger(std::string name);
  // Frees the name; never the block, which belongs to the queue once sent.
  virtual ~Trigger();

  // Appends a new block holding the name to the controller's queue, waiting
  // without limit while the queue is above its high water mark. Returns the
  // number of messages on the queue afterwards, or -1 when the block could
  // not be made or the queue refused it (deactivated); a refused block is
  // released here. May be called more than once; each call makes a new block.
  int send(BaseController* controller);

  const std::string& getName() const { return triggerName; }
  int32_t getSize() const { return size; }

 private:
  std::string triggerName;
  int32_t size;                // length of the name + its NUL
  ACE_Message_Block* block;    // the block of the last send; not owned
};

}  // namespace KEF
