// A millisecond clock. The posix message loop and the virtual pendant share
// one, so virtual time moves only when the host (tests, the bench) says so.
#pragma once

#include <cstdint>

namespace km4r::platform {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual uint64_t NowMs() const = 0;
};

class VirtualClock final : public Clock {
 public:
  uint64_t NowMs() const override { return now_; }
  void Advance(uint64_t ms) { now_ += ms; }

 private:
  uint64_t now_ = 0;
};

}  // namespace km4r::platform
