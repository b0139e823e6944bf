// The report cycle runs 40 times a second on the host's thread: once the link
// is open it must not touch the heap. This executable counts every operator
// new while cycles run.
#include "bench/host/alloc_counter.h"
#include "tests/pendant/link_fixture.h"

namespace km4r::test {
namespace {

TEST_F(LinkTest, CyclesAllocateNothing) {
  const int id = AddPendant();
  PendantWindow& w = Open();
  bus->SetLatency(id, 7);  // exercises the outstanding read too
  Module().settings.ScreenSel1 = 1;
  Module().settings.ScreenSel2 = 2;
  // Wheel turning in several selector positions, the E-stop, a selector move.
  const std::vector<sim::InputFields> reports = {
      {.counter = 1, .axisSel = 1, .mode = 1, .stepSel = 1},
      {.counter = 4, .speed = 30, .axisSel = 1, .mode = 1, .stepSel = 1},
      {.counter = 9, .speed = 50, .axisSel = 2, .mode = 3, .stepSel = 2},
      {.counter = 9, .axisSel = 2, .enable = 1, .mode = 1, .stepSel = 5},
      {.counter = 12, .speed = 9, .axisSel = 2, .enable = 1, .mode = 1, .stepSel = 5},
      {.counter = 12, .axisSel = 3, .estop = 1, .mode = 2, .stepSel = 3},
      {.counter = 200, .speed = 80, .axisSel = 3, .mode = 2, .stepSel = 3},
  };
  for (const auto& r : reports) Queue(id, r);
  Cycle();  // the first cycle may settle anything lazily made
  host.calls.reserve(4096);
  sim::AllocCounter::Start();
  Cycle(40);
  EXPECT_EQ(sim::AllocCounter::Stop(), 0u);
  EXPECT_EQ(bus->QueuedInputs(id), 0u);  // every report went through
  EXPECT_EQ(w.connected, 1);
}

}  // namespace
}  // namespace km4r::test
