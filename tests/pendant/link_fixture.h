// Shared set-up of the link tests: a recording host, the virtual bus on a
// clock of the test's own, and a PendantWindow driven by direct calls.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/host/in_process_host.h"
#include "bench/host/virtual_pendant.h"
#include "pendant/pendant_window.h"
#include "platform/clock.h"
#include "platform/virtual/virtual_bus.h"
#include "plugin/module_state.h"

namespace km4r::test {

inline constexpr const char* kPendantPath = "/dev/virtual/hid-pendant0";

inline int CountOf(const std::vector<std::string>& calls, const std::string& line) {
  return static_cast<int>(std::count(calls.begin(), calls.end(), line));
}

// The calls that start with one of the prefixes, in order: the jog engine and
// the display may add calls of their own around the link's.
inline std::vector<std::string> Only(const std::vector<std::string>& calls,
                                     std::initializer_list<const char*> prefixes) {
  std::vector<std::string> out;
  for (const std::string& c : calls)
    for (const char* p : prefixes)
      if (c.rfind(p, 0) == 0) {
        out.push_back(c);
        break;
      }
  return out;
}

class LinkTest : public ::testing::Test {
 protected:
  LinkTest() : bus(KM4R_VirtualBus()) {
    bus->Reset();
    bus->SetClock(&clock);
  }
  ~LinkTest() override {
    window.reset();
    bus->Reset();
  }

  int AddPendant(const char* path = kPendantPath) {
    return bus->AddDevice(path, kPendantVendorId, kPendantProductId);
  }
  PendantWindow& Open() {
    window = std::make_unique<PendantWindow>();
    window->OpenPendant();
    return *window;
  }
  // One timer tick: 25 ms pass, then the cycle runs.
  void Cycle(int n = 1) {
    for (int i = 0; i < n; ++i) {
      clock.Advance(kCyclePeriodMs);
      window->RunReportCycle(kCycleTimerId);
    }
  }
  void Queue(int device, const sim::InputFields& f) {
    const auto r = sim::MakeReport(f);
    bus->QueueInput(device, r.data(), r.size());
  }

  sim::InProcessHost host;
  platform::VirtualClock clock;
  platform::VirtualBus* bus;
  std::unique_ptr<PendantWindow> window;
};

}  // namespace km4r::test
