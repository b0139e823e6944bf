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
