#include "KEF/KEFCore/Trigger.h"

#include <ace/Message_Block.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

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
  // The name on the head block, as the controller thread reads it.
  std::string takeName() {
    ACE_Message_Block* block = take();
    if (block == nullptr) return "(empty queue)";
    const std::string name = block->rd_ptr();
    block->release();
    return name;
  }
};

TEST(Trigger, BlockHoldsExactlyTheNameAndItsNul) {
  IdleController controller;
  for (const std::string name : {"START_TRIGGER", ""}) {
    Trigger trigger(name);
    ASSERT_EQ(trigger.getSize(), static_cast<int32_t>(name.size() + 1));
    ASSERT_EQ(trigger.send(&controller), 1) << name;

    ACE_Message_Block* block = controller.take();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->size(), name.size() + 1) << name;
    EXPECT_EQ(block->length(), name.size() + 1) << name;
    EXPECT_EQ(std::memcmp(block->rd_ptr(), name.c_str(), name.size() + 1), 0) << name;
    EXPECT_EQ(block->msg_type(), ACE_Message_Block::MB_DATA);
    EXPECT_EQ(block->msg_priority(), 0u);
    EXPECT_EQ(block->cont(), nullptr);
    block->release();
  }
}

TEST(Trigger, ArriveInSendOrderAndSendReturnsTheQueuedCount) {
  IdleController controller;
  Trigger a("A"), b("B");
  EXPECT_EQ(a.send(&controller), 1);
  EXPECT_EQ(b.send(&controller), 2);
  EXPECT_EQ(a.send(&controller), 3);  // each send queues a block of its own
  EXPECT_EQ(controller.takeName(), "A");
  EXPECT_EQ(b.send(&controller), 3);
  EXPECT_EQ(controller.takeName(), "B");
  EXPECT_EQ(controller.takeName(), "A");
  EXPECT_EQ(controller.takeName(), "B");
  EXPECT_EQ(controller.take(), nullptr);
}

TEST(Trigger, SendersOnSeveralThreadsKeepTheirOwnOrder) {
  IdleController controller;
  constexpr int kThreads = 4;
  constexpr int kEach = 500;
  std::vector<std::thread> senders;
  for (int t = 0; t < kThreads; ++t) {
    senders.emplace_back([&controller, t] {
      for (int i = 0; i < kEach; ++i) {
        Trigger(std::to_string(t) + ":" + std::to_string(i)).send(&controller);
      }
    });
  }
  for (std::thread& sender : senders) sender.join();

  std::vector<int> next(kThreads, 0);
  for (int n = 0; n < kThreads * kEach; ++n) {
    const std::string name = controller.takeName();
    const size_t colon = name.find(':');
    ASSERT_NE(colon, std::string::npos) << name;
    const int t = std::stoi(name.substr(0, colon));
    ASSERT_EQ(std::stoi(name.substr(colon + 1)), next[t]++) << name;
  }
  EXPECT_EQ(controller.take(), nullptr);
}

TEST(Trigger, SendWaitsWhileTheQueueIsFull) {
  IdleController controller;
  controller.msg_queue()->high_water_mark(2);
  ASSERT_EQ(Trigger("A").send(&controller), 1);  // two bytes: the queue is full

  std::atomic<int> result{-2};
  std::thread sender([&] { result = Trigger("B").send(&controller); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(result.load(), -2);
  EXPECT_EQ(controller.takeName(), "A");
  sender.join();
  EXPECT_EQ(result.load(), 1);
  EXPECT_EQ(controller.takeName(), "B");
}

TEST(Trigger, RefusedBlockIsReleased) {
  // A leaked block shows up in the leak check of the sanitizer build.
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
