// The pendant on the virtual bus, read on a clock of the test's own, and the
// input report its controls make.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "pendant/pendant_window.h"
#include "platform/clock.h"
#include "platform/virtual/virtual_bus.h"

namespace km4r::sim {

// Input report fields, as the pendant lays them out.
struct InputFields {
  int counter = 0;
  int speed = 0;
  int axisSel = 0;
  int enable = 0;
  int estop = 0;
  int mode = 0;
  int stepSel = 0;

  void Fill(uint8_t* r) const {
    std::memset(r, 0, kInputReportSize);
    r[1] = static_cast<uint8_t>(counter);
    r[2] = static_cast<uint8_t>(speed);
    r[3] = static_cast<uint8_t>((axisSel & 0x0F) | (enable & 1) << 4 | (estop & 1) << 5 |
                                (mode & 3) << 6);
    r[4] = static_cast<uint8_t>(stepSel & 0x7F);
  }
};

inline std::vector<uint8_t> MakeReport(const InputFields& f) {
  std::vector<uint8_t> r(kInputReportSize);
  f.Fill(r.data());
  return r;
}

// Resets the bus and adds the pendant at path; resets the bus again when it goes.
struct VirtualPendant {
  explicit VirtualPendant(const char* path) : bus(KM4R_VirtualBus()) {
    bus->Reset();
    bus->SetClock(&clock);
    id = bus->AddDevice(path, kPendantVendorId, kPendantProductId);
  }
  ~VirtualPendant() { bus->Reset(); }
  VirtualPendant(const VirtualPendant&) = delete;
  VirtualPendant& operator=(const VirtualPendant&) = delete;

  // Queued without allocating.
  void Queue(const InputFields& f) {
    uint8_t r[kInputReportSize];
    f.Fill(r);
    bus->QueueInput(id, r, sizeof r);
  }

  platform::VirtualClock clock;
  platform::VirtualBus* bus;
  int id = -1;
};

}  // namespace km4r::sim
