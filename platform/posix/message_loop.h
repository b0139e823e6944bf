// A host window with a message loop of its own, for hosts we write ourselves
// (the bench, the tests). Everything it dispatches runs on the thread that
// calls Advance or Run, as the real host's UI thread would.
#pragma once

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/clock.h"
#include "platform/posix/host_window.h"

namespace km4r::platform {

class MessageLoop final : public HostWindow {
 public:
  // With a VirtualClock nothing sleeps: time moves only through Advance.
  explicit MessageLoop(Clock& clock);
  ~MessageLoop() override;

  bool AttachChild(ChildWindow* child, int id) override;
  void DetachChild(ChildWindow* child) override;
  bool SetTimer(ChildWindow* child, uint32_t id, uint32_t periodMs) override;
  void WatchFd(int fd, FdWatcher* watcher) override;
  void UnwatchFd(int fd) override;

  // Virtual time: moves the clock forward by ms (which must be a VirtualClock)
  // and delivers every timer message that falls due, earliest first.
  void Advance(uint32_t ms);
  // Real time: delivers timer messages and fd readiness until *stop becomes
  // non-zero. Sleeps in poll between events.
  void Run(const volatile std::sig_atomic_t* stop);
  // Delivers whatever is due now without waiting (timers and ready fds):
  // at most one message per timer, however many periods have passed.
  void PumpOnce(int waitMs);

  std::size_t ChildCount() const { return children_.size(); }
  std::size_t TimerCount() const { return timers_.size(); }
  uint64_t TimerMessagesDelivered() const { return delivered_; }
  Clock& clock() { return clock_; }

 private:
  struct Timer {
    ChildWindow* child;
    uint32_t id;
    uint32_t period;
    uint64_t due;
  };
  struct Watch {
    int fd;
    FdWatcher* watcher;
  };
  bool DeliverOneDue(uint64_t now);

  Clock& clock_;
  std::vector<ChildWindow*> children_;
  std::vector<Timer> timers_;
  std::vector<Watch> watches_;
  uint64_t delivered_ = 0;
};

// The real-time clock (CLOCK_MONOTONIC) for live use.
class SteadyClock final : public Clock {
 public:
  uint64_t NowMs() const override;
};

}  // namespace km4r::platform
