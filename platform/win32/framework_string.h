// The window framework's reference-counted string, as its two generations lay
// it out in the host's memory. The facts come from Microsoft's reference for
// CStringData, IAtlStringMgr, CSimpleStringT/CStringT and the MFC 4.x CString.
// The reference lists IAtlStringMgr's methods alphabetically and gives no
// header sizes; the slot order below is the interface's declaration order, and
// the sizes and offsets were established by compiling these declarations with
// clang for i686-pc-windows-msvc and x86_64-pc-windows-msvc
// (tests/host_boundary/framework_layout.cpp, the framework_layout test).
#pragma once

#include <cstddef>

namespace km4r::platform::win32 {

// Member functions of the framework's classes: __thiscall on i686 (this in
// ECX, callee pops), the one convention on x86_64.
#if defined(_WIN64)
#define KM4R_THISCALL
#else
#define KM4R_THISCALL __attribute__((thiscall))
#endif

struct StringManager;

// Newer generation (MFC 7.0 and later, shared with ATL): CStringData, before
// the characters in the same block. 16 bytes on i686, 24 on x86_64.
struct NewerHeader {
  StringManager* manager;  // pStringMgr: every allocation goes through it
  int length;              // nDataLength, characters without the NUL
  int capacity;            // nAllocLength, characters without the NUL
  long refs;               // nRefs: 1 unshared, above 1 shared, below 0 locked
};
static_assert(sizeof(long) == 4);
static_assert(sizeof(NewerHeader) == (sizeof(void*) == 8 ? 24 : 16));
static_assert(offsetof(NewerHeader, refs) == (sizeof(void*) == 8 ? 16 : 12));

// IAtlStringMgr's virtual table, in declaration order.
struct StringManagerTable {
  NewerHeader*(KM4R_THISCALL* allocate)(StringManager* self, int capacity, int charSize);
  void(KM4R_THISCALL* free)(StringManager* self, NewerHeader* data);
  NewerHeader*(KM4R_THISCALL* reallocate)(StringManager* self, NewerHeader* data, int capacity,
                                          int charSize);
  NewerHeader*(KM4R_THISCALL* getNilString)(StringManager* self);
  StringManager*(KM4R_THISCALL* clone)(StringManager* self);
};
inline constexpr std::size_t kStringManagerSlots = 5;
static_assert(sizeof(StringManagerTable) == kStringManagerSlots * sizeof(void*));

struct StringManager {
  const StringManagerTable* table;
};

// Older generation (MFC 4.x, i686 only): 12 bytes before the characters. The
// framework's empty string is one static block with count -1; blocks of
// capacity 64, 128, 256 and 512 come from its own pools, any other capacity
// from the C runtime's new[] (released with delete[]).
struct OlderHeader {
  long refs;
  int length;
  int capacity;
};
static_assert(sizeof(OlderHeader) == 12);
inline constexpr int kOlderPoolSizes[] = {64, 128, 256, 512};

}  // namespace km4r::platform::win32
