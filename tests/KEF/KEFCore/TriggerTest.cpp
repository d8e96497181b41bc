#include "KEF/KEFCore/Trigger.h"

#include <ace/Message_Block.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "KEF/KEFCore/BaseController.h"

namespace {

using KEF::Trigger;

// A controller whose thread never starts: the test takes the triggers off
// its queue itself.
class IdleController : public KEF::BaseController {
 public:
  IdleController() : BaseController(nullptr, nullptr) {}
  // The head block, or null when the queue is empty.
  ACE_Message_Block* take() {
    ACE_Message_Block* block = nullptr;
    ACE_Time_Value past = ACE_Time_Value::zero;
    return msg_queue()->dequeue_head(block, &past) == -1 ? nullptr : block;
  }
};

TEST(Trigger, EachSendQueuesInOrderABlockOfTheNameAndItsNul) {
  IdleController controller;
  Trigger start("START_TRIGGER"), empty("");
  EXPECT_EQ(start.send(&controller), 1);
  EXPECT_EQ(empty.send(&controller), 2);
  EXPECT_EQ(empty.send(&controller), 3);  // a new block for every send

  for (const std::string name : {"START_TRIGGER", "", ""}) {
    ACE_Message_Block* block = controller.take();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->size(), name.size() + 1) << name;
    ASSERT_EQ(block->length(), name.size() + 1) << name;
    EXPECT_EQ(std::memcmp(block->rd_ptr(), name.c_str(), name.size() + 1), 0) << name;
    block->release();
  }
  EXPECT_EQ(controller.take(), nullptr);
}

TEST(Trigger, SendWaitsWhileTheQueueIsAboveItsHighWaterMark) {
  IdleController controller;
  controller.msg_queue()->high_water_mark(2);
  ASSERT_EQ(Trigger("A").send(&controller), 1);  // two bytes: the queue is full

  std::atomic<int> result{-2};
  std::thread sender([&] { result = Trigger("B").send(&controller); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(result.load(), -2);
  controller.take()->release();
  sender.join();
  EXPECT_EQ(result.load(), 1);
}

// A leaked block shows up in the leak check of the sanitizer build.
TEST(Trigger, DeactivatedQueueRefusesAndTheBlockIsReleased) {
  IdleController controller;
  controller.msg_queue()->deactivate();
  Trigger trigger("START_TRIGGER");
  EXPECT_EQ(trigger.send(&controller), -1);
  EXPECT_EQ(trigger.send(&controller), -1);
  EXPECT_EQ(controller.msg_queue()->message_count(), 0u);
  controller.msg_queue()->activate();
  EXPECT_EQ(trigger.send(&controller), 1);
}

}  // namespace
