// The host's window as the bench plays it. The plug-in hangs its hidden child
// window and its 25 ms cycle timer on it; the bench decides when that timer
// fires, so a run is the same on every platform and at any machine speed.
//  - posix: a message loop on the bench's clock;
//  - Windows: a real hidden top-level window whose timer messages are never
//    pumped; the bench sends the plug-in's timer message itself.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/window.h"

#if !defined(_WIN32)
#include "platform/posix/message_loop.h"
#endif

namespace km4r::bench {

class BenchWindow {
 public:
  explicit BenchWindow(platform::Clock& clock);
  ~BenchWindow();
  BenchWindow(const BenchWindow&) = delete;
  BenchWindow& operator=(const BenchWindow&) = delete;

  // Why no pendant cycle can run: the host window could not be created, or
  // (once the plug-in is started) the plug-in has no window on it. "" when
  // cycles can run.
  std::string Problem(bool pluginStarted) const;

  // What InitControl receives as the host's window.
  platform::HostWindow* Host();

  // Moves a virtual clock forward by ms and delivers the timer messages that
  // fall due. The plug-in's one timer has a 25 ms period and the bench moves
  // in whole periods, so on Windows one period is one timer message.
  void Advance(uint32_t ms);

  // Runs config (the plug-in's Config) with its dialog cancelled as soon as it
  // opens and anything it prints discarded; no pendant cycle runs meanwhile.
  void RunWithDialogCancelled(const std::function<void()>& config);

  // Waits up to ms (real time) for the module's own events and handles them
  // (device messages, descriptors), as a host's idle loop does; the cycle
  // timer stays the bench's to fire.
  void Wait(int ms);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace km4r::bench
