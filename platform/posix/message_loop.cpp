#include "platform/posix/message_loop.h"

#include <poll.h>
#include <time.h>

#include <algorithm>

#include "platform/window.h"

namespace km4r::platform {

uint64_t SteadyClock::NowMs() const {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

MessageLoop::MessageLoop(Clock& clock) : clock_(clock) {}

// A host window going takes its children with it; they hear of it, as child
// windows do, and forget it.
MessageLoop::~MessageLoop() {
  const std::vector<ChildWindow*> children = children_;
  children_.clear();
  timers_.clear();
  for (ChildWindow* child : children) child->ParentDestroyed();
}

bool MessageLoop::AttachChild(ChildWindow* child, int /*id*/) {
  if (child == nullptr) return false;
  if (std::find(children_.begin(), children_.end(), child) == children_.end())
    children_.push_back(child);
  return true;
}

void MessageLoop::DetachChild(ChildWindow* child) {
  children_.erase(std::remove(children_.begin(), children_.end(), child), children_.end());
  timers_.erase(std::remove_if(timers_.begin(), timers_.end(),
                               [child](const Timer& t) { return t.child == child; }),
                timers_.end());
}

bool MessageLoop::SetTimer(ChildWindow* child, uint32_t id, uint32_t periodMs) {
  if (std::find(children_.begin(), children_.end(), child) == children_.end()) return false;
  if (periodMs == 0) periodMs = 1;
  const uint64_t due = clock_.NowMs() + periodMs;
  for (Timer& t : timers_) {
    if (t.child == child && t.id == id) {
      t.period = periodMs;
      t.due = due;
      return true;
    }
  }
  timers_.push_back(Timer{child, id, periodMs, due});
  return true;
}

void MessageLoop::WatchFd(int fd, FdWatcher* watcher) {
  UnwatchFd(fd);
  watches_.push_back(Watch{fd, watcher});
}

void MessageLoop::UnwatchFd(int fd) {
  watches_.erase(
      std::remove_if(watches_.begin(), watches_.end(), [fd](const Watch& w) { return w.fd == fd; }),
      watches_.end());
}

// Delivers the earliest due timer, if any. A handler may add or remove timers
// and children, so nothing is held across the dispatch.
bool MessageLoop::DeliverOneDue(uint64_t now) {
  auto it = std::min_element(timers_.begin(), timers_.end(),
                             [](const Timer& a, const Timer& b) { return a.due < b.due; });
  if (it == timers_.end() || it->due > now) return false;
  ChildWindow* child = it->child;
  const uint32_t id = it->id;
  // As a window timer: periods missed while the thread was busy collapse into
  // this one message, and the next stays on the timer's beat.
  it->due += ((now - it->due) / it->period + 1) * it->period;
  ++delivered_;
  child->Dispatch(kMsgTimer, id, 0);
  return true;
}

void MessageLoop::Advance(uint32_t ms) {
  auto* virtual_clock = dynamic_cast<VirtualClock*>(&clock_);
  if (virtual_clock == nullptr) return;
  const uint64_t end = virtual_clock->NowMs() + ms;
  for (;;) {
    auto it = std::min_element(timers_.begin(), timers_.end(),
                               [](const Timer& a, const Timer& b) { return a.due < b.due; });
    if (it == timers_.end() || it->due > end) break;
    if (it->due > virtual_clock->NowMs()) virtual_clock->Advance(it->due - virtual_clock->NowMs());
    DeliverOneDue(virtual_clock->NowMs());
  }
  virtual_clock->Advance(end - virtual_clock->NowMs());
}

void MessageLoop::PumpOnce(int waitMs) {
  std::vector<pollfd> fds;
  fds.reserve(watches_.size());
  for (const Watch& w : watches_) fds.push_back(pollfd{w.fd, POLLIN, 0});
  if (!fds.empty() || waitMs > 0) {
    if (poll(fds.data(), fds.size(), waitMs) > 0) {
      for (const pollfd& p : fds) {
        if ((p.revents & POLLIN) == 0) continue;
        for (const Watch& w : watches_) {
          if (w.fd == p.fd) {
            w.watcher->OnReadable();
            break;
          }
        }
      }
    }
  }
  const uint64_t now = clock_.NowMs();
  while (DeliverOneDue(now)) {
  }
}

void MessageLoop::Run(const volatile std::sig_atomic_t* stop) {
  while (stop == nullptr || *stop == 0) {
    int wait = 25;
    if (!timers_.empty()) {
      const uint64_t now = clock_.NowMs();
      uint64_t next = timers_.front().due;
      for (const Timer& t : timers_) next = std::min(next, t.due);
      wait = next > now ? static_cast<int>(std::min<uint64_t>(next - now, 25)) : 0;
    }
    PumpOnce(wait);
  }
}

}  // namespace km4r::platform
