#include "bench/host/alloc_counter.h"

#include <cstdlib>
#include <new>

namespace {
bool g_counting = false;
uint64_t g_count = 0;

void* Allocate(std::size_t n) {
  if (g_counting) ++g_count;
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
}  // namespace

namespace km4r::sim {
void AllocCounter::Start() {
  g_count = 0;
  g_counting = true;
}
uint64_t AllocCounter::Stop() {
  g_counting = false;
  return g_count;
}
uint64_t AllocCounter::Count() {
  return g_count;
}
}  // namespace km4r::sim

// Kept out of line: where a compiler inlines the replacement delete into a
// caller, it sees free() applied to what operator new returned and reports a
// mismatched pair (mingw g++ does).
[[gnu::noinline]] void* operator new(std::size_t n) {
  return Allocate(n);
}
[[gnu::noinline]] void* operator new[](std::size_t n) {
  return Allocate(n);
}
[[gnu::noinline]] void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  try {
    return Allocate(n);
  } catch (...) {
    return nullptr;
  }
}
[[gnu::noinline]] void operator delete(void* p) noexcept {
  std::free(p);
}
[[gnu::noinline]] void operator delete[](void* p) noexcept {
  std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
[[gnu::noinline]] void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
