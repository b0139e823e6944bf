// Counts heap allocations made through operator new while counting is on.
// Linking alloc_counter.cpp into a program replaces the global operator
// new/delete for that program only.
#pragma once

#include <cstdint>

namespace km4r::sim {

struct AllocCounter {
  static void Start();
  static uint64_t Stop();  // allocations since Start
  static uint64_t Count();
};

}  // namespace km4r::sim
