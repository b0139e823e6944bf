// The report cycle runs 40 times a second on the host's thread: once the link
// is open it must not touch the heap. This executable counts every operator
// new while cycles run.
#include <cstdlib>
#include <new>

#include "tests/pendant/link_fixture.h"

namespace {
bool counting = false;
uint64_t allocations = 0;
}  // namespace

// Kept out of line: where a compiler inlines the replacement delete into a
// caller, it sees free() applied to what operator new returned and reports a
// mismatched pair (mingw g++ does).
[[gnu::noinline]] void* operator new(std::size_t n) {
  if (counting) ++allocations;
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept {
  std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

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
  counting = true;
  allocations = 0;
  Cycle(40);
  counting = false;
  EXPECT_EQ(allocations, 0u);
  EXPECT_EQ(bus->QueuedInputs(id), 0u);  // every report went through
  EXPECT_EQ(w.connected, 1);
}

}  // namespace
}  // namespace km4r::test
