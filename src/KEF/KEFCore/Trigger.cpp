#include "KEF/KEFCore/Trigger.h"

#include <ace/Message_Block.h>

#include <cerrno>
#include <new>

#include "Base/System/Platform/ThreadStop.h"
#include "KEF/KEFCore/BaseController.h"

namespace KEF {

Trigger::Trigger(std::string name)
    : triggerName(std::move(name)),
      size(static_cast<int32_t>(triggerName.size() + 1)),
      block(nullptr) {}

Trigger::~Trigger() = default;

int Trigger::send(BaseController* controller) {
  block = new (std::nothrow) ACE_Message_Block(static_cast<size_t>(size), ACE_Message_Block::MB_DATA,
                                               nullptr, nullptr, nullptr, nullptr, 0,
                                               ACE_Time_Value::zero, ACE_Time_Value::max_time);
  if (block == nullptr || block->size() < static_cast<size_t>(size)) {
    if (block != nullptr) block->release();
    block = nullptr;
    errno = ENOMEM;
    return -1;
  }
  block->copy(triggerName.c_str(), static_cast<size_t>(size));
  // The queue's own lock is held inside: a stop of this thread must wait
  // until the append is complete.
  tvan::platform::enterProtected();
  const int result = controller->msg_queue()->enqueue_tail(block);
  if (result == -1) block->release();
  tvan::platform::leaveProtected();
  return result;
}

}  // namespace KEF
