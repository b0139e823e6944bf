// The virtual HID bus of the bench build of the plug-in: an in-memory pendant
// (and other HID devices) that tests and the bench drive. Time is the clock
// the host gives it; nothing sleeps. The bench reaches the bus inside the
// loaded module through the module's one extra export, KM4R_VirtualBus.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/clock.h"

namespace km4r::platform {

class VirtualBus {
 public:
  virtual ~VirtualBus() = default;

  // Back to an empty bus: no devices, no registrations, no clock.
  virtual void Reset() = 0;
  // The clock reads are timed against (required before reads are made).
  virtual void SetClock(const Clock* clock) = 0;

  // Adds an attached device at path; returns its id. Appended devices come
  // last in enumeration order.
  virtual int AddDevice(const char* path, uint16_t vendorId, uint16_t productId) = 0;
  // The device's interface disappears: its handles fail from now on; with
  // notify a removal message naming its path goes to every registered window.
  virtual void Unplug(int id, bool notify) = 0;
  // Attaches the device again at the same path; with notify an arrival
  // message goes to every registered window.
  virtual void Plug(int id, bool notify) = 0;

  // Queues one input report; each completed read takes one.
  virtual void QueueInput(int id, const uint8_t* report, std::size_t len) = 0;
  virtual std::size_t QueuedInputs(int id) const = 0;
  // Delay between a read being started and the next queued report
  // completing it.
  virtual void SetLatency(int id, uint32_t ms) = 0;

  // Output reports written to the device so far, and the last one.
  virtual std::size_t OutputCount(int id) const = 0;
  virtual bool LastOutput(int id, uint8_t* out, std::size_t len) const = 0;
  // Reads started on the device so far.
  virtual std::size_t ReadsStarted(int id) const = 0;
  // Handles of the device currently open.
  virtual std::size_t OpenHandles(int id) const = 0;

  // Adds a device as AddDevice does and, with notify, sends an arrival
  // message for it (a device plugged in while the host runs).
  virtual int ArriveDevice(const char* path, uint16_t vendorId, uint16_t productId,
                           bool notify) = 0;
  // Notification registrations currently held.
  virtual std::size_t Registrations() const = 0;
};

}  // namespace km4r::platform

#if defined(_WIN32)
#define KM4R_VIRTUAL_EXPORT
#else
#define KM4R_VIRTUAL_EXPORT __attribute__((visibility("default")))
#endif

// The process's one bus. Tests linked statically with the virtual device
// layer call it directly; the bench resolves it in the loaded module.
extern "C" KM4R_VIRTUAL_EXPORT km4r::platform::VirtualBus* KM4R_VirtualBus();
