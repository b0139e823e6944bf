#include <gtest/gtest.h>

#include <vector>

#include "platform/clock.h"
#include "platform/posix/message_loop.h"
#include "platform/window.h"

namespace km4r::platform {
namespace {

class RecordingWindow : public ChildWindow {
 public:
  std::vector<uint64_t> ticks;
  VirtualClock* clock = nullptr;
  MessageLoop* loop = nullptr;
  bool destroyOnTick = false;

 protected:
  void OnTimer(uintptr_t id) override {
    ticks.push_back(clock->NowMs() * 10 + id);
    if (destroyOnTick) loop->DetachChild(this);
  }
};

TEST(MessageLoop, VirtualTimersFireOnTimeWithoutSleeping) {
  VirtualClock clock;
  MessageLoop loop(clock);
  RecordingWindow w;
  w.clock = &clock;
  ASSERT_TRUE(w.Create(&loop, 0, 0, 10, 10, 1));
  ASSERT_TRUE(w.StartTimer(1, 25));
  loop.Advance(24);
  EXPECT_TRUE(w.ticks.empty());
  loop.Advance(1);
  loop.Advance(50);
  EXPECT_EQ(w.ticks, (std::vector<uint64_t>{251, 501, 751}));
  EXPECT_EQ(clock.NowMs(), 75u);
}

// A thread that was busy for a second gets one timer message, not forty in a
// row, and the timer keeps its beat afterwards.
TEST(MessageLoop, StallLeavesOneMessagePerTimer) {
  VirtualClock clock;
  MessageLoop loop(clock);
  RecordingWindow w;
  w.clock = &clock;
  ASSERT_TRUE(w.Create(&loop, 0, 0, 10, 10, 1));
  ASSERT_TRUE(w.StartTimer(1, 25));
  ASSERT_TRUE(w.StartTimer(2, 40));
  clock.Advance(1000);
  loop.PumpOnce(0);
  EXPECT_EQ(w.ticks, (std::vector<uint64_t>{10001, 10002}));
  loop.PumpOnce(0);
  EXPECT_EQ(w.ticks.size(), 2u);
  loop.Advance(40);
  EXPECT_EQ(w.ticks, (std::vector<uint64_t>{10001, 10002, 10251, 10402}));
}

TEST(MessageLoop, DestroyedWindowGetsNoMoreMessages) {
  VirtualClock clock;
  MessageLoop loop(clock);
  {
    RecordingWindow w;
    w.clock = &clock;
    w.Create(&loop, 0, 0, 10, 10, 1);
    w.StartTimer(1, 25);
    loop.Advance(30);
    EXPECT_EQ(w.ticks.size(), 1u);
  }
  EXPECT_EQ(loop.ChildCount(), 0u);
  EXPECT_EQ(loop.TimerCount(), 0u);
  loop.Advance(100);
  EXPECT_EQ(loop.TimerMessagesDelivered(), 1u);
}

TEST(MessageLoop, HandlerMayDetachItself) {
  VirtualClock clock;
  MessageLoop loop(clock);
  RecordingWindow w;
  w.clock = &clock;
  w.loop = &loop;
  w.destroyOnTick = true;
  w.Create(&loop, 0, 0, 10, 10, 1);
  w.StartTimer(1, 25);
  loop.Advance(200);
  EXPECT_EQ(w.ticks.size(), 1u);
}

TEST(MessageLoop, TimerOfUnknownChildIsRefused) {
  VirtualClock clock;
  MessageLoop loop(clock);
  RecordingWindow w;
  EXPECT_FALSE(w.StartTimer(1, 25));
  EXPECT_FALSE(w.IsCreated());
  EXPECT_FALSE(w.Create(nullptr, 0, 0, 10, 10, 1));
}

}  // namespace
}  // namespace km4r::platform
