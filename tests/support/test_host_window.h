// The host window a test passes as HostBlockD, with a way to deliver the
// plug-in's timer messages. On Linux it is the posix message loop on a
// virtual clock; the Windows build has its own implementation.
#pragma once

#include <cstdint>
#include <memory>

namespace km4r::test {

class TestHostWindow {
 public:
  // Whether Advance runs on a virtual clock (exact) or lets real time pass.
#if defined(_WIN32)
  static constexpr bool kVirtualClock = false;
#else
  static constexpr bool kVirtualClock = true;
#endif

  TestHostWindow();
  ~TestHostWindow();
  // The pointer the host hands to InitControl as HostBlockD.
  void* Handle();
  // Lets `ms` of time pass, delivering every timer message that falls due.
  void Advance(uint32_t ms);
  // Lets time pass until `total` timer messages have been delivered or `capMs`
  // has passed; returns the milliseconds that passed. A busy machine only
  // delays timer messages, so what a test may rely on is that they come and
  // never faster than their period.
  double AwaitTimerMessages(uint64_t total, uint32_t capMs);
  // Timer messages delivered so far.
  uint64_t TimerMessages() const;
  // Live child windows and timers (0 once the plug-in has destroyed its window).
  std::size_t ChildCount() const;
  std::size_t TimerCount() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace km4r::test
